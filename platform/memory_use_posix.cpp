#include "platform/memory_use.h"

#include <unistd.h>

#include <cstdio>

namespace platform {

std::uint64_t MemoryInUse() {
  // The second number of statm: resident pages.
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long size = 0;
  unsigned long long resident = 0;
  const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
  std::fclose(statm);
  const long page = sysconf(_SC_PAGESIZE);
  return read && page > 0 ? resident * static_cast<std::uint64_t>(page) : 0;
}

}  // namespace platform
