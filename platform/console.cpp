#include "platform/console.h"

#include <cstdarg>

// The variadic forms; each system writes in its own console_*.cpp.
namespace platform {

void PrintOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrintOut(format, args);
  va_end(args);
}

void PrintErr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrintErr(format, args);
  va_end(args);
}

}  // namespace platform
