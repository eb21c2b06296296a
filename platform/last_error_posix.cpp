#include "platform/last_error.h"

#include <cerrno>

#include "platform/error_codes.h"

namespace platform {
namespace {
thread_local std::uint32_t lastError = 0;
}

std::uint32_t GetLastError() { return lastError; }
void SetLastError(std::uint32_t code) { lastError = code; }

const std::uint32_t kErrorInterrupted = EINTR;

// The codes are errno values here, but for the one reason whose number lives
// only in the file channel.
std::uint32_t ErrorCodeFromErrno(int errorNumber) {
  if (errorNumber == kErrnoNotRegularFile) return kErrorNotRegularFile;
  return static_cast<std::uint32_t>(errorNumber);
}

}  // namespace platform
