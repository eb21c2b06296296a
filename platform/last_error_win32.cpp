#include "platform/last_error.h"

#include "platform/windows_api.h"

namespace platform {

// The system's own per-thread code, so that what a Windows call leaves there is
// what callers read.
std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

}  // namespace platform
