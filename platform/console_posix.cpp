#include "platform/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "platform/interrupt.h"

namespace platform {
namespace {

/// A stream whose reader has gone takes nothing more: the run is to stop. A
/// caught or ignored SIGPIPE leaves only this EPIPE to tell.
void CheckWritten(int result) {
  if (result < 0 && errno == EPIPE) RequestStopForClosedOutput();
}

}  // namespace

void VPrintOut(const char* format, std::va_list args) {
  const int saved = errno;
  CheckWritten(std::vfprintf(stdout, format, args));
  errno = saved;
}

void VPrintErr(const char* format, std::va_list args) {
  const int saved = errno;
  CheckWritten(std::fflush(stdout));
  CheckWritten(std::vfprintf(stderr, format, args));
  CheckWritten(std::fflush(stderr));
  errno = saved;
}

void FlushOut() {
  const int saved = errno;
  CheckWritten(std::fflush(stdout));
  errno = saved;
}

}  // namespace platform
