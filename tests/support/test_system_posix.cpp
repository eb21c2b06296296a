#include "tests/support/test_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace testing_support {

void UnsetEnvironment(const std::string& name) { unsetenv(name.c_str()); }

std::size_t OpenHandleCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

bool IgnoresFilePermissions() { return geteuid() == 0; }

}  // namespace testing_support
