#include "tests/support/test_system.h"

#include <cstdlib>
#include <filesystem>

#include "platform/windows_api.h"

namespace testing_support {

namespace {

// The C runtime keeps a copy of the environment (getenv reads it); child
// processes get the system's. Both are set.
void SetVariable(const std::string& name, const std::optional<std::string>& value) {
  const std::wstring wideName = platform::UTF8ToUTF16(name);
  const std::wstring wideValue = value ? platform::UTF8ToUTF16(*value) : std::wstring();
  _wputenv_s(wideName.c_str(), wideValue.c_str());
  SetEnvironmentVariableW(wideName.c_str(), value ? wideValue.c_str() : nullptr);
}

}  // namespace

void UnsetEnvironment(const std::string& name) { SetVariable(name, std::nullopt); }

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::string& name, const std::optional<std::string>& value)
    : name_(name) {
  const std::wstring wideName = platform::UTF8ToUTF16(name);
  const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed != 0) {
    std::wstring old(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), old.data(), needed);
    old.resize(length);
    old_ = platform::UTF16ToUTF8(old);
  }
  SetVariable(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() { SetVariable(name_, old_); }


std::size_t OpenHandleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

// Windows has named pipes of its own, but none that lives in the file system.
bool MakeFifo(const std::string&) { return false; }

// The read-only attribute holds for every user.
bool IgnoresFilePermissions() { return false; }

bool GiveLinkToAnotherUserInASharedFolder(const std::string&) { return false; }

bool HasFullDevice() { return false; }

bool CanMakeSymlinks() { return false; }

bool HasUnixModes() { return false; }

bool FoldersAsFilesGiveEISDIR() { return false; }

// Windows has named pipes of its own, and devices, but none in the file system.
bool PipesAndDevicesAreFiles() { return false; }

bool SystemErrorsAreErrno() { return false; }

bool CanSendSignals() { return false; }

bool CanLoseChildExitCodes() { return false; }

bool MastersWithAProgramFoundOnPath() { return false; }

bool FullPathsStartAtTheRoot() { return false; }

bool ShellCanStartBuiltPrograms() { return false; }

bool CanCheckProgramsWithValgrind() { return false; }

bool HasWindowsFileNames() { return true; }

// Wine runs a Linux program by its Unix path; PATH here is the Windows one.
std::string FindOnPath(const std::string& name) {
  for (const char* dir : {"/usr/bin/", "/bin/"}) {
    const std::string candidate = dir + name;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return {};
}

// GetTempPath reads TMP first.
const char* TempFolderVariable() { return "TMP"; }

const int kHangUpSignal = -1;
const int kClosedPipeSignal = -2;

bool ProcessExists(int pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace testing_support
