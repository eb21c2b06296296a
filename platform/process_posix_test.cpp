#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include "platform/last_error.h"
#include "tests/support/child_process.h"

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

namespace {
constexpr platform::ProcessRun Exited = platform::ProcessRun::Exited;
constexpr platform::ProcessRun NotStarted = platform::ProcessRun::NotStarted;
}  // namespace

TEST(RunProcessTest, ArgumentsArriveIntactInTheWorkingFolder) {
  ScratchFolder dir("process");
  std::uint32_t exitCode = 99;
  // Each argument is written between bars, so blanks, quotes and empty
  // arguments would show if they were split or joined.
  ASSERT_EQ(platform::RunProcess("/bin/sh",
                                 {"sh", "-c", "pwd > where; printf '%s|' \"$@\" > args", "sh", "a b", "", "c\"d",
                                  "-o", {"/x y/z.iso", true}},
                                 dir.path(), exitCode),
            Exited);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(dir / "args"), "a b||c\"d|-o|/x y/z.iso|");
  EXPECT_EQ(ReadWholeFile(dir / "where"), dir.path() + "\n");
}

TEST(RunProcessTest, ReportsExitCodeAndSignal) {
  std::uint32_t exitCode = 0;
  ASSERT_EQ(platform::RunProcess("/bin/sh", {"sh", "-c", "exit 3"}, "", exitCode), Exited);
  EXPECT_EQ(exitCode, 3u);
  ASSERT_EQ(platform::RunProcess("/bin/sh", {"sh", "-c", "kill -9 $$"}, "", exitCode), Exited);
  EXPECT_EQ(exitCode, platform::kSignalExitBase + 9);
  // A child still running at the time limit is asked to end, as on an interrupt.
  ASSERT_EQ(platform::RunProcess("/bin/sh", {"sh", "-c", "exec sleep 60"}, "", exitCode, nullptr,
                                 std::chrono::milliseconds(200)),
            platform::ProcessRun::TimeLimitReached);
  EXPECT_EQ(exitCode, platform::kSignalExitBase + SIGTERM);
}

TEST(RunProcessTest, MissingProgramOrFolderIsAStartFailure) {
  std::uint32_t exitCode = 0;
  platform::SetLastError(0);
  EXPECT_EQ(platform::RunProcess("/nonexistent/program", {"program"}, "", exitCode), NotStarted);
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(platform::RunProcess("/bin/true", {"true"}, "/nonexistent/folder", exitCode), NotStarted);
  EXPECT_NE(platform::GetLastError(), 0u);
}
