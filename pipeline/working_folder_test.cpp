#include "pipeline/working_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/error_codes.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

using namespace testing_support;
namespace fs = std::filesystem;

TEST(PrepareWorkingFolderTest, ReplacesALeftoverFullOfFiles) {
  if (!HasUnixModes()) GTEST_SKIP() << "no Unix mode bits here to show a folder made for its owner alone (0700)";
  ScratchFolder temp("temp");
  const std::string leftover = temp / kWorkingFolderName;
  fs::create_directories(leftover + "/slax/rootcopy");
  WriteWholeFile(leftover + "/slax/rootcopy/old.tar", "old");
  WriteWholeFile(leftover + "/manifest.dat", "old");

  platform::ExclusiveLock lock;
  std::string working;
  std::uint32_t error = 0;
  ASSERT_TRUE(PrepareWorkingFolder(temp.path() + "/", lock, working, error));
  EXPECT_EQ(working, leftover);
  ASSERT_TRUE(fs::is_directory(working));
  EXPECT_TRUE(fs::is_empty(working));
  EXPECT_EQ(fs::status(working).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(lock.Held());
}

TEST(PrepareWorkingFolderTest, PlantedLinkIsReplacedNotFollowed) {
  if (!CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  ScratchFolder temp("temp");
  ScratchFolder elsewhere("elsewhere");
  WriteWholeFile(elsewhere / "keep", "keep");
  fs::create_directory_symlink(elsewhere.path(), temp / kWorkingFolderName);
  platform::ExclusiveLock lock;
  std::string working;
  std::uint32_t error = 0;
  ASSERT_TRUE(PrepareWorkingFolder(temp.path() + "/", lock, working, error));
  EXPECT_FALSE(fs::is_symlink(working));
  EXPECT_EQ(ReadWholeFile(elsewhere / "keep"), "keep");
}

TEST(PrepareWorkingFolderTest, SecondRunIsRefusedAndLeavesTheFirstRunsFolder) {
  ScratchFolder temp("temp");
  platform::ExclusiveLock first, second;
  std::string working;
  std::uint32_t error = 0;
  ASSERT_TRUE(PrepareWorkingFolder(temp.path() + "/", first, working, error));
  WriteWholeFile(working + "/in-use", "first run");

  std::string other;
  EXPECT_FALSE(PrepareWorkingFolder(temp.path() + "/", second, other, error));
  EXPECT_EQ(error, platform::kErrorRunInProgress);
  EXPECT_EQ(ReadWholeFile(working + "/in-use"), "first run");
  EXPECT_FALSE(second.Held());
}

TEST(PrepareWorkingFolderTest, FailsWithTheCreationErrorCode) {
  if (!SystemErrorsAreErrno()) {
    GTEST_SKIP() << "the system's code for a missing folder here is its own (ERROR_PATH_NOT_FOUND), not ENOENT";
  }
  ScratchFolder temp("temp");
  platform::ExclusiveLock lock;
  std::string working;
  std::uint32_t error = 0;
  EXPECT_FALSE(PrepareWorkingFolder(temp.path() + "/missing/", lock, working, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(working, "");
}

TEST(ExpandOutputPathTest, RelativePathBecomesFull) {
  std::string full;
  ASSERT_TRUE(ExpandOutputPath("x.iso", full));
  EXPECT_EQ(full, (fs::current_path() / "x.iso").string());
}

TEST(RemoveFolderTreeTest, RemovesNestedTreesAndToleratesAbsence) {
  ScratchFolder dir("remove");
  fs::create_directories(dir / "t/a/b/c");
  WriteWholeFile(dir / "t/a/b/c/f", "x");
  fs::permissions(dir / "t/a/b/c/f", fs::perms::owner_read);
  EXPECT_TRUE(RemoveFolderTree(dir / "t"));
  EXPECT_FALSE(PathExists(dir / "t"));
  EXPECT_TRUE(RemoveFolderTree(dir / "t"));
}
