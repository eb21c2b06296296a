#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/last_error.h"
#include "tests/support/child_process.h"

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

TEST(RunProcessTest, ArgumentsArriveIntactInTheWorkingFolder) {
  ScratchFolder dir("process");
  std::uint32_t exitCode = 99;
  // Each argument is written between bars, so blanks, quotes and empty
  // arguments would show if they were split or joined.
  ASSERT_TRUE(platform::RunProcess("/bin/sh",
                                   {"sh", "-c", "pwd > where; printf '%s|' \"$@\" > args", "sh", "a b", "",
                                    "c\"d", "-o", "/x y/z.iso"},
                                   dir.path(), exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(dir / "args"), "a b||c\"d|-o|/x y/z.iso|");
  EXPECT_EQ(ReadWholeFile(dir / "where"), dir.path() + "\n");
}

TEST(RunProcessTest, ReportsExitCodeAndSignal) {
  std::uint32_t exitCode = 0;
  ASSERT_TRUE(platform::RunProcess("/bin/sh", {"sh", "-c", "exit 3"}, "", exitCode));
  EXPECT_EQ(exitCode, 3u);
  ASSERT_TRUE(platform::RunProcess("/bin/sh", {"sh", "-c", "kill -9 $$"}, "", exitCode));
  EXPECT_EQ(exitCode, platform::kSignalExitBase + 9);
}

TEST(RunProcessTest, MissingProgramOrFolderIsAStartFailure) {
  std::uint32_t exitCode = 0;
  platform::SetLastError(0);
  EXPECT_FALSE(platform::RunProcess("/nonexistent/program", {"program"}, "", exitCode));
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_FALSE(platform::RunProcess("/bin/true", {"true"}, "/nonexistent/folder", exitCode));
  EXPECT_NE(platform::GetLastError(), 0u);
}
