#include "platform/error_description.h"

#include <cstring>

#include "platform/error_codes.h"

namespace platform {

bool SystemErrorDescription(std::uint32_t code, std::string& text) {
  if (const char* own = OwnLastErrorText(code)) {
    text = own;
    return true;
  }
  return OsErrorDescription(code, text);
}

std::string ErrnoDescription(int errorNumber) {
  if (const char* own = OwnErrnoText(errorNumber)) return own;
  return std::strerror(errorNumber);
}

}  // namespace platform
