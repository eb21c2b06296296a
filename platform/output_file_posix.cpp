#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <random>

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

namespace {

/// Where the process's descriptors show what they are open on.
std::string DescriptorLink(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

/// True while `name` in `folder` still names the file open as `descriptor`.
bool NameStillNames(int folder, const std::string& name, int descriptor) {
  struct stat named, opened;
  return ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(descriptor, &opened) == 0 &&
         SameFile(named, opened);
}

/// Removes `name` from `folder` if it still names the file open as
/// `descriptor`; another file that took the name meanwhile stays.
void RemoveIfStillNames(int folder, const std::string& name, int descriptor) {
  if (folder >= 0 && descriptor >= 0 && NameStillNames(folder, name, descriptor)) {
    ::unlinkat(folder, name.c_str(), 0);
  }
}

/// The error of a failed call, kept while descriptors are closed.
bool Failed(int error) {
  errno = error;
  return false;
}

/// Opens `path` as writing to it would, links followed by the kernel (which
/// applies its protection of shared folders to them): readable too where the
/// file allows it. `created` says whether this call made the file.
int OpenForWriting(const std::string& path, bool& created, bool& readable) {
  const int common = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  readable = true;
  created = true;
  int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | common, 0666);
  if (descriptor >= 0 || errno != EEXIST) return descriptor;
  created = false;
  descriptor = ::open(path.c_str(), O_RDWR | common);
  if (descriptor < 0 && (errno == EACCES || errno == EPERM)) {
    readable = false;
    descriptor = ::open(path.c_str(), O_WRONLY | common);
  } else if (descriptor < 0 && errno == ENOENT) {
    // The name is a link to a file that does not exist yet: the kernel makes
    // it where the link points, as for `cp`, unless its protection refuses.
    created = true;
    descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | common, 0666);
  }
  return descriptor;
}

/// The most bytes a file name may have in `folder`.
std::size_t NameLimit(int folder) {
  const long limit = ::fpathconf(folder, _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

/// `name` cut to at most `size` bytes, never inside a UTF-8 sequence.
std::string Shortened(const std::string& name, std::size_t size) {
  if (name.size() <= size) return name;
  std::size_t end = size;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

}  // namespace

struct OutputPlace::Handles {
  int folder = -1;     // the output's real folder
  std::string name;    // the output's name in it
  int output = -1;     // the output file
  bool outputReadable = false;
  std::string newName;  // the new file's name in the folder, once made
  int newFile = -1;
  std::string resultPath;

  int Result() const { return newFile >= 0 ? newFile : output; }
  void Close() {
    for (int* descriptor : {&newFile, &output, &folder}) {
      if (*descriptor >= 0) ::close(*descriptor);
      *descriptor = -1;
    }
  }
};

std::intptr_t NativeResultHandle(const OutputPlace& place) { return place.handles_->Result(); }

OutputPlace::OutputPlace() : handles_(std::make_unique<Handles>()) {}

OutputPlace::~OutputPlace() {
  const int saved = errno;
  handles_->Close();
  errno = saved;
}

bool OutputPlace::Open(const std::string& path) {
  Handles& h = *handles_;
  struct stat status;
  // A pipe with nobody reading refuses a non-blocking writer (ENXIO); its kind
  // is the better answer. Only the message depends on this look.
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    return Failed(S_ISDIR(status.st_mode) ? EISDIR : kErrnoNotRegularFile);
  }
  h.output = OpenForWriting(path, created_, h.outputReadable);
  if (h.output < 0) return false;
  auto fail = [&](int error) {
    if (created_) RemoveIfStillNames(h.folder, h.name, h.output);
    created_ = false;
    h.Close();
    return Failed(error);
  };
  if (::fstat(h.output, &status) != 0) return fail(errno);
  if (!S_ISREG(status.st_mode)) return fail(S_ISDIR(status.st_mode) ? EISDIR : kErrnoNotRegularFile);
  // The place the kernel found, not one worked out here from the links.
  char real[PATH_MAX + 1];
  const ssize_t length = ::readlink(DescriptorLink(h.output).c_str(), real, PATH_MAX);
  if (length <= 0 || real[0] != '/') return fail(length < 0 ? errno : ENOENT);
  realPath_.assign(real, static_cast<std::size_t>(length));
  const std::size_t slash = realPath_.rfind('/');
  h.name = realPath_.substr(slash + 1);
  const std::string folder = slash == 0 ? "/" : realPath_.substr(0, slash);
  h.folder = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (h.folder < 0) return fail(errno);
  // Renamed since it was opened (or deleted: the link then ends in
  // " (deleted)"): the folder and name are not the file's.
  if (!NameStillNames(h.folder, h.name, h.output)) return fail(kErrnoFileReplaced);
  h.resultPath = realPath_;
  return true;
}

bool OutputPlace::CreateBeside(const std::string& tag) {
  Handles& h = *handles_;
  constexpr std::size_t kUniqueSize = 6;
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::size_t limit = NameLimit(h.folder);
  const std::string stem = Shortened(h.name, limit > tag.size() + kUniqueSize ? limit - tag.size() - kUniqueSize : 0);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + tag;
    for (std::size_t i = 0; i < kUniqueSize; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    const int descriptor =
        ::openat(h.folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
      h.newFile = descriptor;
      h.newName = name;
      const std::size_t slash = realPath_.rfind('/');
      h.resultPath = realPath_.substr(0, slash + 1) + name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

const std::string& OutputPlace::ResultPath() const { return handles_->resultPath; }

bool OutputPlace::TruncateResult() {
  const int result = handles_->Result();
  return ::ftruncate(result, 0) == 0 && ::lseek(result, 0, SEEK_SET) == 0;
}

std::FILE* OutputPlace::OpenResultStream() {
  const Handles& h = *handles_;
  if (h.newFile < 0 && !h.outputReadable) {
    errno = EACCES;
    return nullptr;
  }
  const int descriptor = ::fcntl(h.Result(), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  std::FILE* stream = ::fdopen(descriptor, "r+b");
  if (stream == nullptr) {
    const int error = errno;
    ::close(descriptor);
    errno = error;
    return nullptr;
  }
  // The copy shares its position with the result's handle, which a program
  // writing to it left at the end.
  if (::fseeko(stream, 0, SEEK_SET) != 0) {
    const int error = errno;
    std::fclose(stream);
    errno = error;
    return nullptr;
  }
  return stream;
}

bool OutputPlace::Commit() {
  Handles& h = *handles_;
  if (h.newFile < 0) {
    committed_ = true;
    return true;
  }
  struct stat old;
  if (::fstat(h.output, &old) != 0) return false;
  // Set-user and set-group bits are not carried over: writing new content
  // into such a file would have cleared them too.
  if (::fchmod(h.newFile, old.st_mode & 0777) != 0) return false;
  // Only root may give a file away; anyone else keeps the file as theirs.
  const int saved = errno;
  if (::fchown(h.newFile, old.st_uid, old.st_gid) != 0) errno = saved;
  if (!NameStillNames(h.folder, h.newName, h.newFile)) return Failed(kErrnoFileReplaced);
  if (::renameat(h.folder, h.newName.c_str(), h.folder, h.name.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

void OutputPlace::Discard() {
  if (committed_) return;
  const int saved = errno;
  Handles& h = *handles_;
  if (h.newFile >= 0) RemoveIfStillNames(h.folder, h.newName, h.newFile);
  if (created_) RemoveIfStillNames(h.folder, h.name, h.output);
  errno = saved;
}

}  // namespace platform
