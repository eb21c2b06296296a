#pragma once

#include <cstddef>
#include <optional>
#include <string>

/// What tests ask of the system they run on, beyond files and processes.
namespace testing_support {

/// Sets (or, given no value, removes) an environment variable for the life of
/// the object, and puts back what was there before.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// Removes an environment variable from this process.
void UnsetEnvironment(const std::string& name);

/// How many files, sockets and other handles this process holds open.
std::size_t OpenHandleCount();

/// Makes a named pipe at `path`; false where the system has none.
bool MakeFifo(const std::string& path);

/// True when this process may write to files whatever their permissions say.
bool IgnoresFilePermissions();

/// True where file names follow the Windows rules: device names (NUL, COM1),
/// no trailing dot or blank, none of < > : " | ? * and control characters, and
/// names that differ only in case are one file.
bool HasWindowsFileNames();

/// The absolute path of the Linux program `name` that tests run (on Windows,
/// under wine, by its Unix path in /usr/bin or /bin); empty when not found.
std::string FindOnPath(const std::string& name);

/// The signals of a closed terminal (SIGHUP) and of a closed pipe (SIGPIPE);
/// Windows has neither, and the tests that send signals are POSIX only.
extern const int kHangUpSignal;
extern const int kClosedPipeSignal;

/// True while the process `pid` exists.
bool ProcessExists(int pid);

/// The environment variable that names the temporary folder for the programs
/// under test: TMPDIR on POSIX, TMP on Windows.
const char* TempFolderVariable();

}  // namespace testing_support
