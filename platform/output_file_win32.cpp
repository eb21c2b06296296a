#include "platform/output_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/error_codes.h"
#include "platform/paths.h"
#include "platform/windows_api.h"

namespace platform {

OutputFile::~OutputFile() {
  if (descriptor_ >= 0) {
    int saved = errno;  // a failure being reported must keep its reason
    _close(descriptor_);
    errno = saved;
  }
}

bool OutputFile::Create(const std::string& path) {
  if (descriptor_ >= 0) Close();
  // Binary, and not inherited by child processes (mkisofs).
  descriptor_ = _wopen(UTF8ToUTF16(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
  return descriptor_ >= 0;
}

bool OutputFile::Write(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const unsigned piece = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    int written = _write(descriptor_, next, piece);
    if (written < 0) return false;
    if (written == 0) {  // the disk is full; the C runtime reports no reason for it
      errno = ENOSPC;
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool OutputFile::Close() {
  if (descriptor_ < 0) return true;
  int descriptor = descriptor_;
  descriptor_ = -1;
  return _close(descriptor) == 0;
}

namespace {

/// The C runtime's number for the reason a file call just failed.
void SetErrnoFromLastError() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EINVAL;
      break;
  }
}

/// Opens `path` without waiting and keeps it only when it is a regular file
/// on a disk: the console, NUL, pipes and devices are not. With OPEN_ALWAYS,
/// `created` tells whether the file was made by this call.
bool OpenRegular(const std::string& path, DWORD access, DWORD disposition, bool* created = nullptr) {
  const std::wstring wide = UTF8ToUTF16(path);
  // The C runtime refuses to open a folder with EACCES; the question here is
  // whether it is one.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return false;
  }
  HANDLE handle = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created != nullptr) *created = handle != INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_ALREADY_EXISTS;
  if (handle == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
  CloseHandle(handle);
  if (!regular) errno = kErrnoNotRegularFile;
  return regular;
}

}  // namespace

bool IsReadableFile(const std::string& path) { return OpenRegular(path, GENERIC_READ, OPEN_EXISTING); }

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attributes a replaced file hands on to the file that replaces it.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// The most UTF-16 units a file name may have.
constexpr std::size_t kNameLimit = 255;

void CloseIfOpen(HANDLE& handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
}

/// `name` cut to at most `size` UTF-16 units, never inside a surrogate pair.
std::wstring Shortened(std::wstring name, std::size_t size) {
  if (name.size() <= size) return name;
  if (size > 0 && name[size - 1] >= 0xD800 && name[size - 1] <= 0xDBFF) --size;
  name.resize(size);
  return name;
}

}  // namespace

struct OutputPlace::Handles {
  HANDLE output = INVALID_HANDLE_VALUE;
  bool outputReadable = false;
  HANDLE newFile = INVALID_HANDLE_VALUE;
  std::string newPath;
  std::string resultPath;

  HANDLE Result() const { return newFile != INVALID_HANDLE_VALUE ? newFile : output; }
  void Close() {
    CloseIfOpen(newFile);
    CloseIfOpen(output);
  }
};

std::intptr_t NativeResultHandle(const OutputPlace& place) {
  return reinterpret_cast<std::intptr_t>(place.handles_->Result());
}

OutputPlace::OutputPlace() : handles_(std::make_unique<Handles>()) {}

OutputPlace::~OutputPlace() {
  const int saved = errno;
  handles_->Close();
  errno = saved;
}

bool OutputPlace::Open(const std::string& path) {
  Handles& h = *handles_;
  // Links and junctions are followed as Windows itself would follow them.
  if (!ResolveLinks(path, realPath_)) {
    SetErrnoFromLastError();
    return false;
  }
  const std::wstring wide = UTF8ToUTF16(realPath_);
  // The C runtime refuses to open a folder with EACCES; the question here is
  // whether it is one.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return false;
  }
  h.outputReadable = true;
  h.output = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h.output == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    h.outputReadable = false;
    h.output = CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  }
  if (h.output == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  created_ = ::GetLastError() != ERROR_ALREADY_EXISTS;
  if (GetFileType(h.output) != FILE_TYPE_DISK) {
    h.Close();
    errno = kErrnoNotRegularFile;
    return false;
  }
  h.resultPath = realPath_;
  return true;
}

bool OutputPlace::CreateBeside(const std::string& tag) {
  Handles& h = *handles_;
  const std::size_t slash = realPath_.find_last_of("\\/");
  const std::string folder = realPath_.substr(0, slash + 1);
  const std::wstring wideTag = UTF8ToUTF16(tag);
  const std::wstring stem = Shortened(UTF8ToUTF16(realPath_.substr(slash + 1)),
                                      kNameLimit > wideTag.size() + 6 ? kNameLimit - wideTag.size() - 6 : 0);
  // Unique among the names tried by this process, and unlikely to be taken by
  // another: a name that is taken is simply passed over.
  static unsigned counter = 0;
  const unsigned long long seed = GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char unique[16];
    std::snprintf(unique, sizeof unique, "%06llx", (seed + ++counter * 7919ull) & 0xFFFFFFull);
    const std::string candidate = folder + UTF16ToUTF8(stem) + tag + unique;
    // No FILE_SHARE_DELETE: while the tool holds the file, nobody renames or
    // deletes it under the tool; a program given its name may still write it.
    HANDLE handle = CreateFileW(UTF8ToUTF16(candidate).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      h.newFile = handle;
      h.newPath = candidate;
      h.resultPath = candidate;
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  SetErrnoFromLastError();
  return false;
}

const std::string& OutputPlace::ResultPath() const { return handles_->resultPath; }

bool OutputPlace::TruncateResult() {
  const HANDLE result = handles_->Result();
  LARGE_INTEGER start{};
  if (SetFilePointerEx(result, start, nullptr, FILE_BEGIN) && SetEndOfFile(result)) return true;
  SetErrnoFromLastError();
  return false;
}

std::FILE* OutputPlace::OpenResultStream() {
  const Handles& h = *handles_;
  if (h.newFile == INVALID_HANDLE_VALUE && !h.outputReadable) {
    errno = EACCES;
    return nullptr;
  }
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h.Result(), GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    SetErrnoFromLastError();
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(duplicate), _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(duplicate);
    errno = EINVAL;
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "r+b");
  if (stream == nullptr) _close(descriptor);
  if (stream != nullptr) _fseeki64(stream, 0, SEEK_SET);
  return stream;
}

bool OutputPlace::Commit() {
  Handles& h = *handles_;
  if (h.newFile == INVALID_HANDLE_VALUE) {
    committed_ = true;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION old;
  if (!GetFileInformationByHandle(h.output, &old)) {
    SetErrnoFromLastError();
    return false;
  }
  // The handles go first: a file open without FILE_SHARE_DELETE cannot be
  // renamed, not even by its opener.
  h.Close();
  const std::wstring to = UTF8ToUTF16(realPath_);
  if (!MoveFileExW(UTF8ToUTF16(h.newPath).c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetErrnoFromLastError();
    return false;
  }
  committed_ = true;
  // Hidden and system files stay so; failing that, the image is in place all
  // the same.
  if ((old.dwFileAttributes & kKeptAttributes) != 0) {
    SetFileAttributesW(to.c_str(), old.dwFileAttributes & kKeptAttributes);
  }
  return true;
}

void OutputPlace::Discard() {
  if (committed_) return;
  const int saved = errno;
  Handles& h = *handles_;
  h.Close();
  if (!h.newPath.empty()) DeleteFileW(UTF8ToUTF16(h.newPath).c_str());
  if (created_) DeleteFileW(UTF8ToUTF16(realPath_).c_str());
  errno = saved;
}

}  // namespace platform
