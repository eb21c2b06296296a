#pragma once

#include <cstdint>
#include <string>
#include <vector>

// For the *_win32.cpp files only: process creation from a finished command line.
namespace platform {

/// `args` as one command line that the C runtime's parser (and wine's, for a
/// Unix program) splits back into the same words.
std::wstring QuotedCommandLine(const std::vector<std::string>& args);

enum class ProcessStart { NotStarted, Exited, ExitCodeUnreadable };

/// Starts `program` with `commandLine` (its first word is the name the child
/// sees) in `workingFolder` (empty: ours), handing it our environment and our
/// standard handles, or a pipe into `capturedOutput` (the last
/// kCapturedOutputLimit bytes) for its output and error when that is given, and
/// waits for it without a time limit. An interrupt request ends the child. The
/// reason for anything but Exited is in the last error.
ProcessStart StartAndWait(const std::wstring& program, std::wstring commandLine, const std::wstring& workingFolder,
                          std::uint32_t& exitCode, std::string* capturedOutput = nullptr);

}  // namespace platform
