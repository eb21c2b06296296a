#include "tests/support/child_process.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/file.h"

// Running a child is in child_process_posix.cpp and child_process_win32.cpp; the rest is plain C++ for
// every platform.

namespace testing_support {
namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const std::string& tag) {
  static std::atomic<int> counter{0};
  // Tests of one build run in parallel processes: the random part keeps their
  // folders apart.
  static const unsigned run = std::random_device{}();
  fs::path base = fs::path(RSCDC_TEST_BINARY_DIR) / "test-scratch";
  fs::create_directories(base);
  // Forward slashes: on Windows the same name then also serves the Linux peer
  // tools that tests run under wine.
  path_ = (base / (tag + "-" + std::to_string(run) + "-" + std::to_string(counter++))).generic_string();
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  // Tests may leave read-only entries behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(platform::FilePath(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(platform::FilePath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  // A link counts, whether or not its target exists.
  return fs::symlink_status(platform::FilePath(path), ec).type() != fs::file_type::not_found && !ec;
}

std::string BuiltProgram(const std::string& relativePath) {
  // Forward slashes also serve the Linux tools that tests run under wine.
  return (fs::path(RSCDC_TEST_BINARY_DIR) / relativePath).generic_string() + RSCDC_TEST_EXECUTABLE_SUFFIX;
}

}  // namespace testing_support
