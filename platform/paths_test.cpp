#include "platform/paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

namespace {

std::string CurrentFolder() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? buffer : "";
}

}  // namespace

TEST(FullPathTest, ResolvesAgainstTheCurrentFolderAndDropsDotParts) {
  std::string full;
  ASSERT_TRUE(platform::FullPath("x.iso", full));
  EXPECT_EQ(full, CurrentFolder() + "/x.iso");
  // After a linked folder, ".." is not where the name suggests.
  ASSERT_TRUE(platform::FullPath("/a/b/../c/./d.iso", full));
  EXPECT_EQ(full, "/a/b/../c/d.iso");
  ASSERT_TRUE(platform::FullPath("/no such/folder/out file.iso", full));
  EXPECT_EQ(full, "/no such/folder/out file.iso");
  EXPECT_FALSE(platform::FullPath("", full));
}

TEST(TempFolderTest, UsesTmpdirOnlyWhenItIsAFolder) {
  testing_support::ScratchFolder dir("tmpdir");
  std::string folder;
  {
    testing_support::ScopedEnvironmentVariable env("TMPDIR", dir.path());
    ASSERT_TRUE(platform::TempFolder(folder));
    EXPECT_EQ(folder, dir.path() + "/");
  }
  {
    testing_support::ScopedEnvironmentVariable env("TMPDIR", dir / "missing");
    ASSERT_TRUE(platform::TempFolder(folder));
    EXPECT_EQ(folder, "/tmp/");
  }
  {
    testing_support::ScopedEnvironmentVariable env("TMPDIR", std::nullopt);
    ASSERT_TRUE(platform::TempFolder(folder));
    EXPECT_EQ(folder, "/tmp/");
  }
}

TEST(CreateFolderTest, TellsAnExistingFolderFromOtherFailures) {
  testing_support::ScratchFolder dir("mkdir");
  bool existed = true;
  EXPECT_TRUE(platform::CreateFolder(dir / "new", existed));
  EXPECT_FALSE(existed);
  EXPECT_FALSE(platform::CreateFolder(dir / "new", existed));
  EXPECT_TRUE(existed);
  EXPECT_FALSE(platform::CreateFolder(dir / "missing/child", existed));
  EXPECT_FALSE(existed);
}

TEST(ExecutablePathTest, NamesThisTestProgram) {
  std::string self;
  ASSERT_TRUE(platform::ExecutablePath(self));
  EXPECT_NE(self.find("platform_test"), std::string::npos) << self;
}

TEST(FindProgramOnPathTest, FindsExecutablesOnly) {
  testing_support::ScratchFolder dir("path");
  testing_support::WriteWholeFile(dir / "plain", "not a program");
  testing_support::ScopedEnvironmentVariable env("PATH", dir.path() + ":/bin:/usr/bin");
  EXPECT_EQ(platform::FindProgramOnPath("plain"), "");
  EXPECT_NE(platform::FindProgramOnPath("sh"), "");
  EXPECT_EQ(platform::FindProgramOnPath("no-such-program-here"), "");
}
