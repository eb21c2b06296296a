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

/// True where /dev/full exists: a device on which every write fails for lack
/// of room (ENOSPC), which fills a disk without filling one.
bool HasFullDevice();

/// Where the system refuses to follow, for anyone but its owner, a link that
/// another user made in a sticky folder that all may write (as Linux with
/// fs.protected_symlinks = 1), and this process may give a link away: makes
/// the link at `path` another user's and answers true. False elsewhere.
bool GiveLinkToAnotherUserInASharedFolder(const std::string& path);

/// True where this process may make symbolic links. Windows lets only the
/// privileged make them, and wine none.
bool CanMakeSymlinks();

/// True where files and folders carry Unix mode bits (a folder for its owner
/// alone is 0700). Windows guards them with access lists, of which
/// std::filesystem shows only the read-only attribute.
bool HasUnixModes();

/// True where a folder named as a file gives EISDIR: it opens as a stream
/// whose reads fail, and it cannot be opened for writing. Windows opens no
/// folder as a stream and answers EACCES.
bool FoldersAsFilesGiveEISDIR();

/// True where named pipes and devices (/dev/null, /dev/zero) are files that a
/// path names, for MakeFifo and for links to them.
bool PipesAndDevicesAreFiles();

/// True where the system's error codes are errno values whose texts are the C
/// library's ("No such file or directory"). Windows has codes of its own
/// (ERROR_PATH_NOT_FOUND for a missing folder) with texts of its own.
bool SystemErrorsAreErrno();

/// True where a running program can be sent a signal (SIGINT, SIGTERM,
/// kHangUpSignal) and ends by it, its status then 128 plus the signal number.
bool CanSendSignals();

/// True where a state exists in which the exit codes of child processes cannot
/// be read (ChildExitCodesLost: SIGCHLD ignored, so the system reaps them). A
/// Windows process's exit code stays readable while its handle is open.
bool CanLoseChildExitCodes();

/// True where the tool masters its image with the first of xorrisofs, mkisofs
/// and genisoimage on PATH, whose name decides the boot ways it is given. On
/// Windows it starts the distribution's own mkisofs.exe, whose answer to
/// "-version" decides them.
bool MastersWithAProgramFoundOnPath();

/// True where the programs this project builds spell a full path as the tests
/// spell theirs: from the root, with slashes (/work/...). A Windows program
/// under wine spells the same place from a drive (Z:\work\...).
bool FullPathsStartAtTheRoot();

/// True where /bin/sh can start the programs this project builds; a Windows
/// program needs wine to start it.
bool ShellCanStartBuiltPrograms();

/// True where valgrind can check the programs this project builds (Linux
/// programs); it cannot look into a Windows program under wine.
bool CanCheckProgramsWithValgrind();

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
