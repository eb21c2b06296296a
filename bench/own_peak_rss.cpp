// Preloaded (LD_PRELOAD) into a program by scripts/bench to learn the peak
// resident size of each process on its own. /usr/bin/time reports the largest
// process of a whole tree, which for rscdc is the mkisofs it starts; this
// library makes every process that loads it append one line
//   <pid> <parent pid> <name> <VmHWM in KiB>
// to the file named by BENCH_PEAK_RSS_FILE when it exits normally.
// Built by scripts/bench with g++ -shared; never part of the tool.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

/// The value of the "Key:" line of /proc/self/status, without spaces.
void StatusField(const char* key, char* value, std::size_t size) {
  value[0] = '\0';
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  const std::size_t keyLength = std::strlen(key);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, key, keyLength) != 0 || line[keyLength] != ':') continue;
    const char* from = line + keyLength + 1;
    while (*from == ' ' || *from == '\t') ++from;
    std::size_t n = std::strcspn(from, " \t\n");
    if (n >= size) n = size - 1;
    std::memcpy(value, from, n);
    value[n] = '\0';
    break;
  }
  std::fclose(status);
}

__attribute__((destructor)) void ReportPeak() {
  const char* path = std::getenv("BENCH_PEAK_RSS_FILE");
  if (path == nullptr || *path == '\0') return;
  char name[64];
  char peak[32];
  StatusField("Name", name, sizeof name);
  StatusField("VmHWM", peak, sizeof peak);
  char line[160];
  const int n = std::snprintf(line, sizeof line, "%d %d %s %s\n", static_cast<int>(getpid()),
                              static_cast<int>(getppid()), name, peak);
  const int file = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return;
  if (n > 0) {
    // One write per line keeps lines of concurrent processes whole.
    [[maybe_unused]] const ssize_t written = write(file, line, static_cast<std::size_t>(n));
  }
  close(file);
}

}  // namespace
