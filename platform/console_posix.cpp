#include "platform/console.h"

#include <cstdarg>
#include <cstdio>

namespace platform {

void PrintOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

void PrintErr(const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

void FlushOut() { std::fflush(stdout); }

}  // namespace platform
