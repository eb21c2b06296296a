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

void PrintOut(const char* format, ...) {
  const int saved = errno;
  va_list args;
  va_start(args, format);
  CheckWritten(std::vfprintf(stdout, format, args));
  va_end(args);
  errno = saved;
}

void PrintErr(const char* format, ...) {
  const int saved = errno;
  CheckWritten(std::fflush(stdout));
  va_list args;
  va_start(args, format);
  CheckWritten(std::vfprintf(stderr, format, args));
  va_end(args);
  CheckWritten(std::fflush(stderr));
  errno = saved;
}

void FlushOut() {
  const int saved = errno;
  CheckWritten(std::fflush(stdout));
  errno = saved;
}

}  // namespace platform
