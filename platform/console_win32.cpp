#include "platform/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/interrupt.h"
#include "platform/windows_api.h"

namespace platform {
namespace {

/// Keeps the caller's `errno` and last error across one console call: a
/// failure is often printed, or a progress line cleared, before its code is
/// read, and GetConsoleMode fails on a redirected handle. Both start cleared,
/// so that CheckWritten sees only what the console's own calls left.
class KeptErrors {
 public:
  KeptErrors() {
    errno = 0;
    ::SetLastError(NO_ERROR);
  }
  ~KeptErrors() {
    errno = errorNumber_;
    ::SetLastError(lastError_);
  }
  KeptErrors(const KeptErrors&) = delete;
  KeptErrors& operator=(const KeptErrors&) = delete;

 private:
  const DWORD lastError_ = ::GetLastError();
  const int errorNumber_ = errno;
};

/// A pipe whose reader has gone takes nothing more: the run is to stop. Windows
/// says so with ERROR_NO_DATA, wine with ERROR_PIPE_NOT_CONNECTED, and the C
/// runtime does not always carry either over into `errno`.
void CheckWritten(bool failed) {
  if (!failed) return;
  const DWORD error = ::GetLastError();
  if (errno == EPIPE || error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
    RequestStopForClosedOutput();
  }
}

void Flush(std::FILE* stream) { CheckWritten(std::fflush(stream) != 0); }

// The text is UTF-8. A console shows it through the wide API, whatever its code
// page; a redirected stream receives the UTF-8 bytes.
void Write(std::FILE* stream, DWORD handleId, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<std::size_t>(length));

  HANDLE handle = GetStdHandle(handleId);
  DWORD mode = 0;
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    Flush(stream);
    const std::wstring wide = UTF8ToUTF16(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  CheckWritten(std::fwrite(text.data(), 1, text.size(), stream) != text.size());
}

}  // namespace

void VPrintOut(const char* format, std::va_list args) {
  const KeptErrors kept;
  Write(stdout, STD_OUTPUT_HANDLE, format, args);
}

void VPrintErr(const char* format, std::va_list args) {
  const KeptErrors kept;
  Flush(stdout);
  Write(stderr, STD_ERROR_HANDLE, format, args);
  Flush(stderr);
}

void FlushOut() {
  const KeptErrors kept;
  Flush(stdout);
}

}  // namespace platform
