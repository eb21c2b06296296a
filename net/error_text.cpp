#include "net/error_text.h"

#include <cstdio>

#include "platform/error_description.h"
#include "platform/last_error.h"

std::string ErrorCodeText(std::uint32_t code) {
  switch (code) {
    case ERROR_INTERNET_TIMEOUT:
      return "The connection has timed out";
    case ERROR_INTERNET_ITEM_NOT_FOUND:
      return "The file does not exist.";
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "Unsuccessful download";
    default:
      break;
  }
  std::string text;
  if (platform::SystemErrorDescription(code, text)) return text;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Error 0x%08x", code);
  return buffer;
}

std::string LastErrorText() { return ErrorCodeText(platform::GetLastError()); }
