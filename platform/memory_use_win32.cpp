#include "platform/memory_use.h"

#include "platform/windows_api.h"

#include <psapi.h>

namespace platform {

std::uint64_t MemoryInUse() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof counters)) {
    return 0;
  }
  // Where the system keeps no private count, the working set.
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.WorkingSetSize;
}

}  // namespace platform
