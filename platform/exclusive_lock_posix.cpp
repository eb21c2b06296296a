#include "platform/exclusive_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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

}  // namespace

ExclusiveLock::~ExclusiveLock() { Release(); }

bool ExclusiveLock::Acquire(const std::string& lockPath) {
  Release();
  // O_NOFOLLOW: a link planted under the lock's name must not redirect the file.
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat st;
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP) return Fail(kErrorFolderIsLink);
    // Another account's lock file under a shared temporary folder.
    if (error == EACCES && lstat(lockPath.c_str(), &st) == 0 && st.st_uid != geteuid()) {
      return Fail(kErrorFolderNotOwned);
    }
    return Fail(static_cast<std::uint32_t>(error));
  }
  // Even where it could be opened, a lock file another account made is not
  // this account's lock.
  if (fstat(fd, &st) == 0 && st.st_uid != geteuid()) {
    close(fd);
    return Fail(kErrorFolderNotOwned);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return Fail(error == EWOULDBLOCK ? kErrorRunInProgress : static_cast<std::uint32_t>(error));
  }
  handle_ = fd;
  return true;
}

void ExclusiveLock::Release() {
  if (handle_ >= 0) {
    close(handle_);  // closing drops the lock
    handle_ = -1;
  }
}

}  // namespace platform
