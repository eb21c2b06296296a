#include "platform/private_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error_codes.h"
#include "platform/exclusive_lock.h"
#include "platform/last_error.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

TEST(PrivateFolderTest, CreatedFolderIsForTheOwnerOnly) {
  ScratchFolder dir("private");
  bool existed = true;
  ASSERT_TRUE(platform::CreatePrivateFolder(dir / "w", existed));
  struct stat st;
  ASSERT_EQ(stat((dir / "w").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(platform::CheckPrivateFolder(dir / "w"));
  EXPECT_FALSE(platform::CreatePrivateFolder(dir / "w", existed));
  EXPECT_TRUE(existed);
}

TEST(PrivateFolderTest, RefusesLinksSharedFoldersFilesAndStrangers) {
  ScratchFolder dir("private");
  fs::create_directory(dir / "real");
  fs::permissions(dir / "real", fs::perms::owner_all);
  fs::create_directory_symlink(dir / "real", dir / "link");
  EXPECT_FALSE(platform::CheckPrivateFolder(dir / "link"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderIsLink);

  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms::all);
  EXPECT_FALSE(platform::CheckPrivateFolder(dir / "shared"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderShared);

  testing_support::WriteWholeFile(dir / "file", "x");
  EXPECT_FALSE(platform::CheckPrivateFolder(dir / "file"));
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOTDIR));

  if (geteuid() == 0) {  // only root can give a folder away
    fs::create_directory(dir / "theirs");
    ASSERT_EQ(chown((dir / "theirs").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(platform::CheckPrivateFolder(dir / "theirs"));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderNotOwned);
    // The lock file beside the folder, made first by another account.
    testing_support::WriteWholeFile(dir / "theirs.lock", "");
    ASSERT_EQ(chown((dir / "theirs.lock").c_str(), 65534, 65534), 0);
    platform::ExclusiveLock lock;
    EXPECT_FALSE(lock.Acquire(dir / "theirs.lock"));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderNotOwned);
  }
}

TEST(ExclusiveLockTest, PlantedLinkIsNotFollowed) {
  ScratchFolder dir("lock");
  testing_support::WriteWholeFile(dir / "victim", "keep");
  fs::create_symlink(dir / "victim", dir / "run.lock");
  platform::ExclusiveLock lock;
  EXPECT_FALSE(lock.Acquire(dir / "run.lock"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderIsLink);
  EXPECT_EQ(testing_support::ReadWholeFile(dir / "victim"), "keep");
}
