#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Child processes: started without a shell, sharing the caller's standard
/// handles and environment, waited for without a time limit.
namespace platform {

/// Exit code reported for a child that was ended by a signal: 128 plus the signal
/// number, as shells report it.
inline constexpr std::uint32_t kSignalExitBase = 128;

/// Runs `program` (a path) with `args` (args[0] is the name the child sees) in
/// `workingFolder`, and waits for it. False when it could not be started (reason
/// in the last error); otherwise true with its exit code.
bool RunProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& workingFolder, std::uint32_t& exitCode);

}  // namespace platform
