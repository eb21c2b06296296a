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
  const fs::path absolute = fs::absolute(fs::path(path), ec);
  if (ec) {
    SetLastError(static_cast<std::uint32_t>(ec.value()));
    return false;
  }
  // "." and doubled separators go; ".." stays, since after a linked folder it
  // leads elsewhere than the name suggests.
  full.clear();
  for (const fs::path& part : absolute.relative_path()) {
    if (part.empty() || part == ".") continue;
    full += "/" + part.string();
  }
  if (full.empty() || path.back() == '/') full += "/";
  return true;
}

bool IsAtOrBelow(const std::string& resolved, const std::string& place) {
  struct stat wanted;
  if (stat(place.c_str(), &wanted) != 0) return false;
  // The folders above a resolved path are real ones, so climbing by name is
  // climbing in the file system.
  for (std::string current = resolved;;) {
    struct stat status;
    if (stat(current.c_str(), &status) == 0 && status.st_dev == wanted.st_dev && status.st_ino == wanted.st_ino) {
      return true;
    }
    const std::size_t slash = current.find_last_of('/');
    if (slash == std::string::npos || current == "/") return false;
    current = slash == 0 ? "/" : current.substr(0, slash);
  }
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
