#include "platform/error_description.h"

#include <cstring>

namespace platform {

bool OsErrorDescription(std::uint32_t code, std::string& text) {
  if (code > 0x7fffffffu) return false;
  // strerrordesc_np answers null for numbers the C library does not know, where
  // strerror would invent "Unknown error N".
  const char* description = strerrordesc_np(static_cast<int>(code));
  if (description == nullptr) return false;
  text = description;
  return true;
}

}  // namespace platform
