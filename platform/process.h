#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Child processes: started without a shell, sharing the caller's environment,
/// waited for without a time limit. An interrupt request stops the child.
namespace platform {

/// Exit code reported for a child that was ended by a signal: 128 plus the signal
/// number, as shells report it.
inline constexpr std::uint32_t kSignalExitBase = 128;

/// Most of a child's output that `RunProcess` keeps when asked to: the end of
/// it, where programs report why they failed.
inline constexpr std::size_t kCapturedOutputLimit = 64 * 1024;

/// Runs `program` (a path) with `args` (args[0] is the name the child sees) in
/// `workingFolder`, and waits for it. The child shares the caller's standard
/// output and error, unless `capturedOutput` is given: then both go to it
/// (their last kCapturedOutputLimit bytes). When an interrupt is requested
/// meanwhile, the child is asked to end, then made to, and waited for. False
/// when it could not be started (reason in the last error); otherwise true with
/// its exit code.
bool RunProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& workingFolder, std::uint32_t& exitCode,
                std::string* capturedOutput = nullptr);

}  // namespace platform
