#include "platform/private_folder.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error_codes.h"
#include "platform/last_error.h"

namespace platform {
namespace {
bool Fail(std::uint32_t code) {
  SetLastError(code);
  return false;
}

// Whoever owns a folder on the way to the working folder, or may write in it
// without the sticky bit, can rename what is below it and put a link in its
// place, which a run as root would then follow.
bool KeepsOthersOut(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return Fail(kErrorFolderIsLink);
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  if (st.st_uid != geteuid() && st.st_uid != 0) return Fail(kErrorTempFolderNotOwned);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) return Fail(kErrorTempFolderShared);
  return true;
}
}  // namespace

bool CreatePrivateFolder(const std::string& path, bool& alreadyExisted) {
  alreadyExisted = false;
  if (mkdir(path.c_str(), 0700) == 0) return true;
  alreadyExisted = errno == EEXIST;
  return Fail(static_cast<std::uint32_t>(errno));
}

bool CheckPrivateFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail(static_cast<std::uint32_t>(errno));
  if (S_ISLNK(st.st_mode)) return Fail(kErrorFolderIsLink);
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  if (st.st_uid != geteuid()) return Fail(kErrorFolderNotOwned);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Fail(kErrorFolderShared);
  return true;
}

bool CheckTempFolder(const std::string& folder, std::string& realFolder) {
  // Links followed by the kernel, with its own protections, and only once: the
  // folders checked are those above the folder actually found.
  const int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(static_cast<std::uint32_t>(errno));
  struct stat opened;
  char buffer[PATH_MAX];
  ssize_t length = -1;
  if (fstat(fd, &opened) == 0) {
    length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
  }
  const int error = errno;
  close(fd);
  if (length < 0) return Fail(static_cast<std::uint32_t>(error));
  if (static_cast<std::size_t>(length) == sizeof buffer) return Fail(ENAMETOOLONG);
  const std::string real(buffer, static_cast<std::size_t>(length));
  // Not a name from this process's root: the folder is gone, or out of reach.
  if (real.empty() || real.front() != '/') return Fail(ENOENT);
  for (std::string current = real;;) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0) return Fail(static_cast<std::uint32_t>(errno));
    if (!KeepsOthersOut(st)) return false;
    // Moved away while being looked at.
    if (current == real && (st.st_dev != opened.st_dev || st.st_ino != opened.st_ino)) return Fail(ENOENT);
    if (current == "/") break;
    const std::size_t slash = current.find_last_of('/');
    current = slash == 0 ? "/" : current.substr(0, slash);
  }
  realFolder = real == "/" ? real : real + "/";
  return true;
}

}  // namespace platform
