#include "tests/support/test_system.h"

#include <cstdlib>

#include "platform/windows_api.h"

namespace testing_support {

// The C runtime keeps its own copy of the environment: both copies lose it.
void UnsetEnvironment(const std::string& name) {
  _putenv_s(name.c_str(), "");
  SetEnvironmentVariableW(platform::UTF8ToUTF16(name).c_str(), nullptr);
}

std::size_t OpenHandleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

// Windows has named pipes of its own, but none that lives in the file system.
bool MakeFifo(const std::string&) { return false; }

// The read-only attribute holds for every user.
bool IgnoresFilePermissions() { return false; }

}  // namespace testing_support
