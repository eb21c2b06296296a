#include "platform/arguments.h"

#include "platform/windows_api.h"

// After windows.h, which it needs.
#include <shellapi.h>

namespace platform {

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(UTF16ToUTF8(std::wstring(wide[i])));
  LocalFree(wide);
  return arguments;
}

}  // namespace platform
