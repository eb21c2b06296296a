#include "platform/last_error.h"

#include <cerrno>

#include "platform/error_codes.h"
#include "platform/windows_api.h"

namespace platform {

// The system's own per-thread code, so that what a Windows call leaves there is
// what callers read.
std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

const std::uint32_t kErrorInterrupted = ERROR_OPERATION_ABORTED;

std::uint32_t ErrorCodeFromErrno(int errorNumber) {
  struct Pair {
    int errorNumber;
    DWORD code;
  };
  static constexpr Pair kPairs[] = {
      {ENOENT, ERROR_FILE_NOT_FOUND},      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},       {EISDIR, ERROR_ACCESS_DENIED},
      {EEXIST, ERROR_FILE_EXISTS},         {ENOSPC, ERROR_DISK_FULL},
      {EROFS, ERROR_WRITE_PROTECT},        {EFBIG, ERROR_FILE_TOO_LARGE},
      {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE}, {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
      {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},   {EBADF, ERROR_INVALID_HANDLE},
      {EINVAL, ERROR_INVALID_PARAMETER},   {EINTR, ERROR_OPERATION_ABORTED},
      {kErrnoNotRegularFile, kErrorNotRegularFile},
  };
  for (const Pair& pair : kPairs) {
    if (pair.errorNumber == errorNumber) return pair.code;
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace platform
