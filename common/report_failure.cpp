#include "common/report_failure.h"

#include <cstdarg>

#include "platform/console.h"
#include "platform/interrupt.h"

bool ReportFailure(const char* format, ...) {
  if (platform::InterruptRequested()) return false;
  va_list args;
  va_start(args, format);
  platform::VPrintErr(format, args);
  va_end(args);
  return false;
}
