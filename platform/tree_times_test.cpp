#include "platform/tree_times.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

// What a run made under umask 077 becomes readable by all; a link in the tree
// leads nowhere the walk goes, whatever it points to.
TEST(MakeTreeReadableTest, OpensFoldersAndFilesToAllButFollowsNoLink) {
  ScratchFolder scratch("tree-modes");
  const fs::path tree = scratch / "tree";
  fs::create_directories(tree / "slax/rootcopy");
  WriteWholeFile(tree / "slax/rootcopy/data.tar", "x");
  WriteWholeFile(tree / "slax/run.sh", "x");
  WriteWholeFile(scratch / "outside", "x");
  fs::create_directories(scratch / "outside-folder");
  fs::create_symlink(scratch / "outside", tree / "file-link");
  fs::create_symlink(scratch / "outside-folder", tree / "folder-link");
  for (const fs::path& path : {tree, tree / "slax", tree / "slax/rootcopy", fs::path(scratch / "outside-folder")}) {
    fs::permissions(path, fs::perms(0700));
  }
  fs::permissions(tree / "slax/rootcopy/data.tar", fs::perms(0600));
  fs::permissions(tree / "slax/run.sh", fs::perms(0700));
  fs::permissions(scratch / "outside", fs::perms(0600));

  ASSERT_TRUE(platform::MakeTreeReadable(tree.string()));
  EXPECT_EQ(fs::status(tree).permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(tree / "slax/rootcopy").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(tree / "slax/rootcopy/data.tar").permissions(), fs::perms(0644));
  EXPECT_EQ(fs::status(tree / "slax/run.sh").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(scratch / "outside").permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(scratch / "outside-folder").permissions(), fs::perms(0700));
}

}  // namespace
