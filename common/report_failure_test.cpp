#include "common/report_failure.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/interrupt.h"
#include "tests/support/stdout_capture.h"

namespace {

std::string Reported(bool& answer) {
  testing_support::StdoutCapture capture(testing_support::StdoutCapture::Stream::Err);
  answer = ReportFailure("Download failed: %s\n", "The connection has timed out");
  return capture.Finish();
}

}  // namespace

// The interrupt request stays for the rest of the process: the case without
// one goes first.
TEST(ReportFailureTest, PrintsOneLineUnlessAnInterruptWasRequested) {
  bool answer = true;
  EXPECT_EQ(Reported(answer), "Download failed: The connection has timed out\n");
  EXPECT_FALSE(answer);

  platform::RequestStopForClosedOutput();
  answer = true;
  EXPECT_EQ(Reported(answer), "");
  EXPECT_FALSE(answer);
}
