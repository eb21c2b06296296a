#include "platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/windows_api.h"

namespace platform {
namespace {

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
    std::fflush(stream);
    const std::wstring wide = UTF8ToUTF16(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

void PrintOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(stdout, STD_OUTPUT_HANDLE, format, args);
  va_end(args);
}

void PrintErr(const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  Write(stderr, STD_ERROR_HANDLE, format, args);
  va_end(args);
  std::fflush(stderr);
}

void FlushOut() { std::fflush(stdout); }

}  // namespace platform
