#pragma once

#include <cstdint>

/// The calling thread's last platform error code. Operating-system and network
/// operations leave their reason here when they fail; file and archive operations
/// use `errno` instead. The two channels are independent.
namespace platform {

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

/// The last-error code that says what the C runtime error number `errorNumber`
/// says, for an operation that reports in the last error but failed at a file
/// call (a download's destination, say).
std::uint32_t ErrorCodeFromErrno(int errorNumber);

}  // namespace platform
