#pragma once

#include <cstdint>

namespace platform {

/// Bytes of memory the process holds for itself at this moment (private
/// commit on Windows, resident size elsewhere); 0 when the system does not
/// tell. Safe to call from any thread.
std::uint64_t MemoryInUse();

}  // namespace platform
