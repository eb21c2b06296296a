#include "platform/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "tests/support/stdout_capture.h"

namespace {

struct PrintCase {
  const char* name;
  void (*print)();
  testing_support::StdoutCapture::Stream stream;
  const char* printed;
};

void PrintSomeOut() { platform::PrintOut("out %d\n", 1); }
void PrintSomeErr() { platform::PrintErr("err %d\n", 2); }
void PrintAndFlushOut() {
  platform::PrintOut("%s", "line\r");
  platform::FlushOut();
}

}  // namespace

// A failure is often printed, or a progress line cleared, after the failing
// call and before its code is read. Into a file, as here, the stream is no
// console, and asking Windows whether it is one fails and sets the last error.
TEST(ConsoleTest, PrintingKeepsTheCallersErrorCodes) {
  using Stream = testing_support::StdoutCapture::Stream;
  const PrintCase cases[] = {
      {"PrintOut", PrintSomeOut, Stream::Out, "out 1\n"},
      {"PrintErr", PrintSomeErr, Stream::Err, "err 2\n"},
      {"PrintOut then FlushOut", PrintAndFlushOut, Stream::Out, "line\r"},
  };
  for (const PrintCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::StdoutCapture capture(c.stream);
    // Codes that no system call leaves, so that only keeping them keeps them.
    errno = platform::kErrnoFileReplaced;
    platform::SetLastError(platform::kErrorRunInProgress);
    c.print();
    const int errorNumber = errno;
    const std::uint32_t lastError = platform::GetLastError();
    const std::string printed = capture.Finish();
    EXPECT_EQ(printed, c.printed);
    EXPECT_EQ(errorNumber, platform::kErrnoFileReplaced);
    EXPECT_EQ(lastError, platform::kErrorRunInProgress);
  }
}
