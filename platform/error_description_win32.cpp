#include "platform/error_description.h"

#include "platform/windows_api.h"

namespace platform {
namespace {

// WinINet keeps the texts of its codes (12001 to 12175) in its own module.
constexpr std::uint32_t kInternetErrorBase = 12000;
constexpr std::uint32_t kInternetErrorLast = 12175;

HMODULE InternetMessages() {
  static const HMODULE module = [] {
    HMODULE loaded = GetModuleHandleW(L"wininet.dll");
    if (loaded == nullptr) {
      loaded = LoadLibraryExW(L"wininet.dll", nullptr,
                              LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return loaded;
  }();
  return module;
}

}  // namespace

bool OsErrorDescription(std::uint32_t code, std::string& text) {
  const DWORD saved = ::GetLastError();
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE source = nullptr;
  if (code > kInternetErrorBase && code <= kInternetErrorLast && (source = InternetMessages()) != nullptr) {
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
  }
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(flags, source, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  bool found = length > 0 && message != nullptr;
  if (found) {
    std::wstring wide(message, length);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) wide.pop_back();
    text = UTF16ToUTF8(wide);
    found = !text.empty();
  }
  if (message != nullptr) LocalFree(message);
  // Describing an error must not replace it.
  ::SetLastError(saved);
  return found;
}

}  // namespace platform
