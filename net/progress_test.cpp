#include "net/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/stdout_capture.h"

namespace {

using testing_support::StdoutCapture;

const std::string kBlanking = std::string(79, ' ') + "\r";

struct ProgressCase {
  const char* name;
  Verbosity verbosity;
  std::uint64_t total;
  std::uint64_t done;
  std::string line;  // what OnProgress draws
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

class ProgressLineTest : public testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressLineTest, DrawsLineThenBlanksIt) {
  const ProgressCase& c = GetParam();
  StdoutCapture capture;
  {
    MyProgressCallback progress(c.verbosity);
    progress.OnProgress(c.total, c.done);
  }
  const std::string out = capture.Finish();
  EXPECT_EQ(out, c.verbosity == Verbose ? c.line + kBlanking : "");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLineTest,
    testing::Values(
        ProgressCase{"QuietDrawsNothing", Quiet, 1048576, 524288, ""},
        ProgressCase{"NormalDrawsNothing", Normal, 1048576, 524288, ""},
        ProgressCase{"NormalUnknownTotalDrawsNothing", Normal, 0, 3000, ""},
        ProgressCase{"HalfOfOneMegabyte", Verbose, 1048576, 524288, "50% of 1024 KB\r"},
        ProgressCase{"UnknownTotalShowsDoneKilobytes", Verbose, 0, 3000, "2 KB\r"},
        ProgressCase{"UnknownTotalBelowOneKilobyte", Verbose, 0, 1023, "0 KB\r"},
        ProgressCase{"UnknownTotalExactKilobyte", Verbose, 0, 1024, "1 KB\r"},
        ProgressCase{"NothingDoneNothingKnown", Verbose, 0, 0, "0 KB\r"},
        ProgressCase{"TotalBelowOneKilobyte", Verbose, 500, 500, "100% of 0 KB\r"},
        ProgressCase{"DoneBeyondTotalIsNotCapped", Verbose, 1000, 1500, "150% of 0 KB\r"},
        ProgressCase{"PercentRoundsDown", Verbose, 1000, 999, "99% of 0 KB\r"},
        ProgressCase{"NothingDoneYet", Verbose, 2048, 0, "0% of 2 KB\r"},
        ProgressCase{"TotalKilobytesRoundDown", Verbose, 2047, 2047, "100% of 1 KB\r"},
        ProgressCase{"TotalBeyondFourGigabytes", Verbose, 5368709120ull, 2684354560ull, "50% of 5242880 KB\r"},
        ProgressCase{"DoneBeyondFourGigabytesUnknownTotal", Verbose, 0, 5368709120ull, "5242880 KB\r"}),
    [](const testing::TestParamInfo<ProgressCase>& info) { return std::string(info.param.name); });

TEST(MyProgressCallbackTest, LinesFollowEachOtherWithoutLineFeeds) {
  StdoutCapture capture;
  {
    MyProgressCallback progress(Verbose);
    progress.OnProgress(300000, 65536);
    progress.OnProgress(300000, 131072);
    progress.OnProgress(300000, 300000);
  }
  const std::string out = capture.Finish();
  EXPECT_EQ(out, "21% of 292 KB\r43% of 292 KB\r100% of 292 KB\r" + kBlanking);
}

// A break says how far the file got and whether the next attempt goes on
// from there.
TEST(MyProgressCallbackTest, ABreakTellsHowFarAndHowItGoesOn) {
  struct Row {
    std::uint64_t done;
    bool startsOver;
    const char* line;
  } rows[] = {
      {1 << 20, false, "Connection lost after 1024 KB; resuming...\n"},
      {300000, true, "Connection lost after 292 KB; starting over...\n"},
      {300, false, "Connection lost after 300 bytes; resuming...\n"},
  };
  for (const Row& row : rows) {
    StdoutCapture capture;
    { MyProgressCallback(Verbose).OnResume(row.done, row.startsOver); }
    EXPECT_EQ(capture.Finish(), std::string(79, ' ') + "\r" + row.line + kBlanking);
  }
}

TEST(MyProgressCallbackTest, VerboseBlanksEvenWhenNothingWasDrawn) {
  StdoutCapture capture;
  { MyProgressCallback progress(Verbose); }
  const std::string out = capture.Finish();
  EXPECT_EQ(out, kBlanking);
}

TEST(MyProgressCallbackTest, QuietAndNormalPrintNothingAtAll) {
  for (Verbosity verbosity : {Quiet, Normal}) {
    StdoutCapture capture;
    {
      MyProgressCallback progress(verbosity);
      progress.OnProgress(0, 1 << 20);
      progress.OnResume(1 << 20, false);
      progress.OnProgress(1 << 20, 1 << 20);
    }
    const std::string out = capture.Finish();
    EXPECT_EQ(out, "") << "verbosity " << verbosity;
  }
}

// Standard output to a file or pipe is fully buffered: a line that ends in a
// carriage return would sit in the buffer for the whole download.
TEST(MyProgressCallbackTest, EachLineIsPushedOutAtOnce) {
  StdoutCapture capture;
  std::vector<std::string> seen;
  {
    MyProgressCallback progress(Verbose);
    progress.OnProgress(0, 4096);
    seen.push_back(capture.WrittenSoFar());
    progress.OnProgress(0, 8192);
    seen.push_back(capture.WrittenSoFar());
  }
  seen.push_back(capture.WrittenSoFar());
  capture.Finish();
  EXPECT_EQ(seen, (std::vector<std::string>{"4 KB\r", "4 KB\r8 KB\r", "4 KB\r8 KB\r" + kBlanking}));
}

}  // namespace
