#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

OutputFile::~OutputFile() {
  if (descriptor_ >= 0) {
    int saved = errno;  // a failure being reported must keep its reason
    ::close(descriptor_);
    errno = saved;
  }
}

bool OutputFile::Create(const std::string& path) {
  if (descriptor_ >= 0) Close();
  descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return descriptor_ >= 0;
}

bool OutputFile::Write(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = ::write(descriptor_, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A regular file only takes less than asked when the disk is full; the next
    // call then reports why.
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool OutputFile::Close() {
  if (descriptor_ < 0) return true;
  int descriptor = descriptor_;
  descriptor_ = -1;
  return ::close(descriptor) == 0;
}

bool IsReadableFile(const std::string& path) {
  int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status;
  bool ok = ::fstat(descriptor, &status) == 0;
  if (ok && S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    ok = false;
  }
  int saved = errno;
  ::close(descriptor);
  errno = saved;
  return ok;
}

}  // namespace platform
