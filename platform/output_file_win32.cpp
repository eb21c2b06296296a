#include "platform/output_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/error_codes.h"
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

bool ProbeAppendableFile(const std::string& path, bool& created) {
  return OpenRegular(path, FILE_APPEND_DATA, OPEN_ALWAYS, &created);
}

bool CreateFileBeside(const std::string& path, const std::string& tag, std::string& created) {
  // Unique among the names tried by this process, and unlikely to be taken by
  // another: a name that is taken is simply passed over.
  static unsigned counter = 0;
  const unsigned long long seed = GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char unique[16];
    std::snprintf(unique, sizeof unique, "%06llx", (seed + ++counter * 7919ull) & 0xFFFFFFull);
    const std::string candidate = path + tag + unique;
    HANDLE handle = CreateFileW(UTF8ToUTF16(candidate).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      created = candidate;
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  SetErrnoFromLastError();
  return false;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  if (MoveFileExW(UTF8ToUTF16(from).c_str(), UTF8ToUTF16(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  SetErrnoFromLastError();
  return false;
}

}  // namespace platform
