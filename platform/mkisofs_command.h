#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The mastering program's command. The arguments are built once, here, for
/// every platform; each platform then turns them into what its process start
/// needs: an argument vector on POSIX, one quoted command-line text on Windows.
namespace platform {

/// One argument after the program name.
struct CommandArgument {
  std::string text;
  /// Enclosed in double quotes on the Windows command line (paths and labels,
  /// which may hold blanks); an argument vector carries the bare text.
  bool quoted = false;
};

/// The Windows mastering program that the distribution carries, relative to
/// the working folder.
inline constexpr const char* kDistributionMkisofs = "slax/tools/WIN/mkisofs.exe";

/// The mastering arguments in their fixed order: the output flag, Joliet and
/// Rock Ridge names, no deep relocation, the El Torito boot image and catalog,
/// then `bootOptions` (further boot ways, which must follow the BIOS entry),
/// the image file, the application and volume labels, and "." as the root.
std::vector<CommandArgument> MkisofsArguments(const std::string& outputFlag, const std::string& outputPath,
                                              const std::string& label,
                                              const std::vector<CommandArgument>& bootOptions = {});

/// The boot options, beyond the BIOS CD entry, that the platform's mastering
/// program accepts.
enum class MkisofsBootSupport {
  BiosOnly,          ///< none: the distribution's own Windows program keeps its fixed command
  AlternativeEntry,  ///< a second El Torito entry, for UEFI (mkisofs, genisoimage)
  Hybrid,            ///< that entry and the isohybrid MBR and GPT for disks (xorrisofs)
};

/// What the program that RunMkisofs would start accepts now; BiosOnly when
/// there is none.
MkisofsBootSupport FindMkisofsBootSupport();

/// The Windows command line: kDistributionMkisofs in double quotes, then each
/// argument (quoted where asked), separated by single blanks.
std::string MkisofsWindowsCommandLine(const std::vector<CommandArgument>& arguments);

/// The program path Windows starts: the working folder, a backslash, then
/// kDistributionMkisofs with its forward slashes (Windows accepts the mix).
std::string MkisofsWindowsProgramPath(const std::string& workingFolder);

/// How a mastering run ended.
enum class MkisofsRun {
  NotStarted,          ///< no program, or the start failed (reason in the last error)
  Exited,              ///< ran to its end; the exit code is valid
  ExitCodeUnreadable,  ///< started, but its exit code could not be read
};

/// Starts the platform's mastering program with `arguments` in `workingFolder`,
/// sharing the tool's environment and, unless `capturedOutput` takes the
/// program's output instead, its standard handles (standard output is flushed
/// first), and waits for it without a time limit. On POSIX the program
/// is the first of xorrisofs, mkisofs and genisoimage found on PATH, since the
/// distribution's Windows program cannot run there; a child ended by a signal
/// exits with kSignalExitBase plus the signal number.
MkisofsRun RunMkisofs(const std::string& workingFolder, const std::vector<CommandArgument>& arguments,
                      std::uint32_t& exitCode, std::string* capturedOutput = nullptr);

}  // namespace platform
