#include "tests/support/test_system.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

void UnsetEnvironment(const std::string& name) { unsetenv(name.c_str()); }

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::string& name, const std::optional<std::string>& value)
    : name_(name) {
  if (const char* old = std::getenv(name.c_str())) old_ = old;
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}


std::size_t OpenHandleCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

bool IgnoresFilePermissions() { return geteuid() == 0; }

bool GiveLinkToAnotherUserInASharedFolder(const std::string& path) {
  std::ifstream setting("/proc/sys/fs/protected_symlinks");
  int protectedLinks = 0;
  // nobody, whom no test runs as.
  constexpr uid_t kOtherUser = 65534;
  return setting >> protectedLinks && protectedLinks == 1 && geteuid() == 0 &&
         lchown(path.c_str(), kOtherUser, kOtherUser) == 0;
}

bool HasFullDevice() {
  struct stat status;
  return stat("/dev/full", &status) == 0 && S_ISCHR(status.st_mode);
}

bool CanMakeSymlinks() { return true; }

bool HasUnixModes() { return true; }

bool FoldersAsFilesGiveEISDIR() { return true; }

bool PipesAndDevicesAreFiles() { return true; }

bool SystemErrorsAreErrno() { return true; }

bool CanSendSignals() { return true; }

bool CanLoseChildExitCodes() { return true; }

bool MastersWithAProgramFoundOnPath() { return true; }

bool FullPathsStartAtTheRoot() { return true; }

bool ShellCanStartBuiltPrograms() { return true; }

bool CanCheckProgramsWithValgrind() { return true; }

bool HasWindowsFileNames() { return false; }

std::string FindOnPath(const std::string& name) {
  namespace fs = std::filesystem;
  const char* path = std::getenv("PATH");
  std::istringstream in(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(in, dir, ':');) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) {
      return fs::absolute(candidate).lexically_normal().string();
    }
  }
  return {};
}

const char* TempFolderVariable() { return "TMPDIR"; }

const int kHangUpSignal = SIGHUP;
const int kClosedPipeSignal = SIGPIPE;

bool ProcessExists(int pid) { return kill(pid, 0) == 0; }

}  // namespace testing_support
