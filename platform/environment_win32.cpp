#include "platform/environment.h"

#include <cstdlib>

#include "platform/windows_api.h"

namespace platform {

// The system keeps the environment that children inherit, the C runtime a
// copy for getenv that cannot hold an empty value; the system's is read, and
// both are written.

bool GetEnvironment(const std::string& name, std::string& value) {
  const std::wstring wideName = UTF8ToUTF16(name);
  std::wstring buffer(256, L'\0');
  for (;;) {
    // An empty value also gives 0, without an error.
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    if (length < buffer.size()) {
      value = UTF16ToUTF8(buffer.data(), length);
      return true;
    }
    // Too small: `length` is the size needed, the terminating null included.
    buffer.resize(length);
  }
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  const std::wstring wideName = UTF8ToUTF16(name);
  const std::wstring wideValue = UTF8ToUTF16(value);
  if (!SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str())) return false;
  return _wputenv_s(wideName.c_str(), wideValue.c_str()) == 0;
}

}  // namespace platform
