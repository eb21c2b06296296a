#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/error_codes.h"

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

namespace {

/// Opens without waiting (O_NONBLOCK: a pipe's open would wait for its other
/// end) and keeps the descriptor only for a regular file.
bool OpenRegular(const std::string& path, int flags) {
  struct stat status;
  // A pipe with nobody reading refuses a non-blocking writer (ENXIO); its kind
  // is the better answer.
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : kErrnoNotRegularFile;
    return false;
  }
  int descriptor = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (descriptor < 0) return false;
  bool ok = ::fstat(descriptor, &status) == 0;
  if (ok && !S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : kErrnoNotRegularFile;
    ok = false;
  }
  int saved = errno;
  ::close(descriptor);
  errno = saved;
  return ok;
}

}  // namespace

bool IsReadableFile(const std::string& path) { return OpenRegular(path, O_RDONLY); }

bool ProbeAppendableFile(const std::string& path, bool& created) {
  created = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
  if (created) return true;
  return errno == EEXIST && OpenRegular(path, O_WRONLY | O_APPEND);
}

bool CreateFileBeside(const std::string& path, const std::string& tag, std::string& created) {
  std::string pattern = path + tag + "XXXXXX";
  const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor < 0) return false;
  ::close(descriptor);
  created = pattern;
  return true;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  struct stat old;
  if (::stat(to.c_str(), &old) == 0) {
    // Set-user and set-group bits are not carried over: writing new content
    // into such a file would have cleared them too.
    if (::chmod(from.c_str(), old.st_mode & 0777) != 0) return false;
    // Only root may give a file away; anyone else keeps the file as theirs.
    const int saved = errno;
    if (::chown(from.c_str(), old.st_uid, old.st_gid) != 0) errno = saved;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
