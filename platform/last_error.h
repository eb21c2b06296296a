#pragma once

#include <cstdint>

/// The calling thread's last platform error code. Operating-system and network
/// operations leave their reason here when they fail; file and archive operations
/// use `errno` instead. The two channels are independent.
namespace platform {

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

}  // namespace platform
