#include "platform/exclusive_lock.h"

#include <fcntl.h>
#include <io.h>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "platform/windows_api.h"

namespace platform {
namespace {

bool Fail(std::uint32_t code) {
  ::SetLastError(code);
  return false;
}

}  // namespace

ExclusiveLock::~ExclusiveLock() { Release(); }

bool ExclusiveLock::Acquire(const std::string& lockPath) {
  Release();
  // No sharing: while one run holds the file open, nobody else can open it.
  // FILE_FLAG_OPEN_REPARSE_POINT: a link planted under the lock's name is opened
  // itself, not followed, and then refused.
  HANDLE file = CreateFileW(UTF8ToUTF16(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return Fail(kErrorRunInProgress);
    return Fail(error);
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) {
    const DWORD error = ::GetLastError();
    CloseHandle(file);
    return Fail(error);
  }
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(file);
    return Fail(kErrorFolderIsLink);
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR);
  if (descriptor < 0) {
    CloseHandle(file);
    return Fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  handle_ = descriptor;
  return true;
}

void ExclusiveLock::Release() {
  if (handle_ >= 0) {
    _close(handle_);  // closes the Windows handle, which lets the next run in
    handle_ = -1;
  }
}

}  // namespace platform
