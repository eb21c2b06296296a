#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// Child processes: found, started without a shell, sharing the caller's
/// environment, and waited for. An interrupt request stops the child.
namespace platform {

class OutputPlace;

/// Exit code reported for a child that was ended by a signal: 128 plus the signal
/// number, as shells report it.
inline constexpr std::uint32_t kSignalExitBase = 128;

/// Most of a child's output that `RunProcess` keeps when asked to: the end of
/// it, where programs report why they failed.
inline constexpr std::size_t kCapturedOutputLimit = 64 * 1024;

/// One word of a child's command line.
struct ProcessArgument {
  ProcessArgument(std::string word, bool quoted = false) : text(std::move(word)), alwaysQuoted(quoted) {}
  ProcessArgument(const char* word) : text(word) {}

  std::string text;
  /// Enclosed in double quotes on a Windows command line even when it needs
  /// none, for programs whose documented command line quotes it so; an
  /// argument vector carries the bare text.
  bool alwaysQuoted = false;
};

/// How a child's run ended.
enum class ProcessRun {
  NotStarted,          ///< it could not be started (reason in the last error)
  Exited,              ///< it ran to its end; the exit code is valid
  ExitCodeUnreadable,  ///< it was started, but its exit code could not be read (reason in the last error)
  TimeLimitReached,    ///< it was still running at the time limit and was ended
};

/// Runs `program` (a path) with `args` (args[0] is the name the child sees) in
/// `workingFolder` (empty: ours), and waits for it. The child shares the
/// caller's standard output and error (standard output is flushed first),
/// unless `capturedOutput` is given: then both go to it (their last
/// kCapturedOutputLimit bytes). When an interrupt is requested meanwhile, or
/// `timeLimit` passes, the child is asked to end, then made to, and waited for.
/// A child ended by a signal exits with kSignalExitBase plus the signal number.
/// With `standardOutput`, the child's standard output is that place's result
/// file (written from its current position) and only its standard error is
/// shared or captured.
ProcessRun RunProcess(const std::string& program, const std::vector<ProcessArgument>& args,
                      const std::string& workingFolder, std::uint32_t& exitCode,
                      std::string* capturedOutput = nullptr,
                      std::optional<std::chrono::milliseconds> timeLimit = std::nullopt,
                      const OutputPlace* standardOutput = nullptr);

/// `args` as the one command line a Windows process is given: separated by
/// single blanks, each in double quotes when it holds blanks or quotes, is
/// empty or is alwaysQuoted, with backslashes doubled where they come before a
/// quote, so that the C runtime's parser splits it back into the same words.
std::string WindowsCommandLine(const std::vector<ProcessArgument>& args);

/// True where this host runs Windows programs as its own.
bool HostRunsWindowsPrograms();

}  // namespace platform
