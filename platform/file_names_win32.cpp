#include "platform/file_names.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/windows_api.h"

namespace platform {
namespace {

/// Opening a device name reaches the device, whatever the folder before it,
/// the case, or an extension after it; blanks before the extension go too.
/// Superscript one to three count as digits of the numbered ports.
bool IsDeviceName(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::transform(base.begin(), base.end(), base.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == device) return true;
  }
  if (base.rfind("COM", 0) != 0 && base.rfind("LPT", 0) != 0) return false;
  const std::string_view number = std::string_view(base).substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

bool HoldsFileName(const std::string& component) {
  if (component.empty() || component.back() == '.' || component.back() == ' ') return false;
  for (const char c : component) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) return false;
  }
  // Bytes that are no UTF-8 become U+FFFD on the way to the system, which
  // would give different names one file.
  if (UTF16ToUTF8(UTF8ToUTF16(component)) != component) return false;
  return !IsDeviceName(component);
}

// Upper case by the invariant locale, one UTF-16 unit for one, as the file
// system compares names; the user's language (a Turkish dotted I) plays no part.
std::string FileNameKey(const std::string& component) {
  std::wstring wide = UTF8ToUTF16(component);
  if (wide.empty()) return component;
  std::wstring upper(wide.size(), L'\0');
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                                   upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length <= 0) return UTF16ToUTF8(wide);
  upper.resize(static_cast<std::size_t>(length));
  return UTF16ToUTF8(upper);
}

}  // namespace platform
