// Fuzz target: the tar reader extracting into a folder. Beside the walk's
// promises, extraction must keep everything it writes inside its target
// folder: the target sits alone in a guard folder that must stay otherwise
// empty, and no path that an entry name leads to outside the target (an
// absolute name, or one climbing out with "..") may change.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "archive/tar_reader.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

class RecordingCallback : public IUntarCallback {
 public:
  void OnDirectory(const std::string& name) override { names.push_back(name); }
  void OnFile(const std::string& name) override { names.push_back(name); }
  std::vector<std::string> names;
};

struct Folders {
  Folders() {
    const std::string& scratch = fuzzing::ProcessScratchFolder();
    archive = scratch + "/archive.tar";
    guard = scratch + "/guard";
    target = guard + "/target";
    FUZZ_CHECK(fs::create_directories(target), "cannot create " + target);
  }
  std::string archive;
  std::string guard;
  std::string target;
};

const Folders& TheFolders() {
  static const Folders folders;
  return folders;
}

/// What an outside path looks like, to tell afterwards whether it was touched.
struct PathState {
  std::string path;
  bool exists = false;
  off_t size = 0;
  struct timespec modified {};

  static PathState Of(const std::string& path) {
    PathState state;
    state.path = path;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
      state.exists = true;
      state.size = info.st_size;
      state.modified = info.st_mtim;
    }
    return state;
  }
  bool operator==(const PathState& other) const {
    return exists == other.exists && size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
  }
};

/// Every header the reader can meet starts at a multiple of 512; the paths
/// that the names there would lead to outside the target are the ones to watch.
std::vector<PathState> OutsidePaths(const std::uint8_t* data, std::size_t size, const std::string& target) {
  std::vector<PathState> watched;
  for (std::size_t block = 0; block + 100 <= size; block += 512) {
    std::size_t length = 100;
    const char* field = reinterpret_cast<const char*>(data + block);
    while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == '\0')) --length;
    const std::string name(field, strnlen(field, length));
    if (name.empty()) continue;
    if (name[0] == '/') watched.push_back(PathState::Of(fs::path(name).lexically_normal().string()));
    const fs::path joined = fs::path(target + "/" + name).lexically_normal();
    const fs::path relative = joined.lexically_relative(target);
    if (relative.empty() || *relative.begin() == "..") watched.push_back(PathState::Of(joined.string()));
  }
  return watched;
}

bool Run(const std::string& archivePath, const std::optional<std::string>& target, RecordingCallback& callback,
         int& error) {
  UntarContext context;
  context.targetFolder = target;
  context.archive = std::fopen(archivePath.c_str(), "rb");
  FUZZ_CHECK(context.archive != nullptr, "cannot open the scratch archive");
  errno = 0;
  const bool ok = Untar(context, &callback, nullptr);
  error = errno;
  FUZZ_CHECK(context.archive == nullptr, "Untar did not hand back the stream it closed");
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  const Folders& folders = TheFolders();
  fuzzing::WriteFile(folders.archive, data, size);
  const std::vector<PathState> before = OutsidePaths(data, size, folders.target);

  RecordingCallback walked;
  int walkError = 0;
  const bool walkOk = Run(folders.archive, std::nullopt, walked, walkError);
  RecordingCallback extracted;
  int error = 0;
  const bool ok = Run(folders.archive, folders.target, extracted, error);

  for (const PathState& was : before) {
    FUZZ_CHECK(PathState::Of(was.path) == was, "extraction touched " + was.path + " outside its target");
  }
  FUZZ_CHECK(fuzzing::ListFolder(folders.guard) == "target", "extraction wrote beside its target: " +
                                                                   fuzzing::ListFolder(folders.guard));
  FUZZ_CHECK(fuzzing::ListFolder(fuzzing::ProcessScratchFolder()) == "archive.tar guard",
             "extraction wrote beside its guard folder");

  // Extraction sees the entries the walk sees, until it stops.
  FUZZ_CHECK(extracted.names.size() <= walked.names.size(), "extraction saw more entries than the walk");
  for (std::size_t i = 0; i < extracted.names.size(); ++i) {
    FUZZ_CHECK(extracted.names[i] == walked.names[i], "extraction and walk disagree on entry " + std::to_string(i));
  }
  if (ok) {
    FUZZ_CHECK(walkOk, "extraction succeeded where the walk failed with " + FileErrorText(walkError));
    FUZZ_CHECK(extracted.names.size() == walked.names.size(), "extraction ended early yet succeeded");
    for (const std::string& name : extracted.names) {
      FUZZ_CHECK(PathState::Of(folders.target + "/" + name).exists, "entry " + name + " succeeded but is missing");
    }
  } else {
    FUZZ_CHECK(error != 0, "extraction failed without a reason");
    FUZZ_CHECK(!FileErrorText(error).empty(), "no text for errno " + std::to_string(error));
  }

  fuzzing::EmptyFolder(folders.target);
  return 0;
}
