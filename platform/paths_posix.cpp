#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/last_error.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

bool IsFolder(const char* path) {
  struct stat st;
  return path != nullptr && *path != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool FullPath(const std::string& path, std::string& full) {
  if (path.empty()) {
    SetLastError(ENOENT);
    return false;
  }
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(path), ec);
  if (ec) {
    SetLastError(static_cast<std::uint32_t>(ec.value()));
    return false;
  }
  full = absolute.lexically_normal().string();
  return true;
}

bool ResolveLinks(const std::string& path, std::string& resolved) {
  // As many links in a row as the system itself follows before it gives up.
  constexpr int kMaxLinks = 40;
  std::string current;
  if (!FullPath(path, current)) return false;
  for (int links = 0; links <= kMaxLinks; ++links) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(current, ec))) {
      resolved = current;
      return true;
    }
    const fs::path target = fs::read_symlink(current, ec);
    if (ec) {
      SetLastError(static_cast<std::uint32_t>(ec.value()));
      return false;
    }
    current = (fs::path(current).parent_path() / target).lexically_normal().string();
  }
  SetLastError(ELOOP);
  return false;
}

bool TempFolder(std::string& folder) {
  const char* tmpdir = std::getenv("TMPDIR");
  folder = IsFolder(tmpdir) ? tmpdir : "/tmp";
  if (folder.back() != kPathSeparator) folder += kPathSeparator;
  return true;
}

bool CreateFolder(const std::string& path, bool& alreadyExisted) {
  alreadyExisted = false;
  if (mkdir(path.c_str(), 0777) == 0) return true;
  alreadyExisted = errno == EEXIST;
  SetLastError(static_cast<std::uint32_t>(errno));
  return false;
}

bool RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(fs::path(path), ec);
  return !ec;
}

bool ExecutablePath(std::string& path) {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n < 0) {
    SetLastError(static_cast<std::uint32_t>(errno));
    return false;
  }
  if (static_cast<size_t>(n) == buffer.size()) {  // cut short, as a full buffer would be
    SetLastError(ENAMETOOLONG);
    return false;
  }
  path.assign(buffer.data(), static_cast<size_t>(n));
  return true;
}

std::string FindProgramOnPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::string list = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    // An empty entry means the current folder.
    std::string candidate = end > start ? list.substr(start, end - start) : std::string(".");
    candidate += kPathSeparator;
    candidate += name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

}  // namespace platform
