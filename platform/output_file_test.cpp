#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/error_codes.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

namespace {

namespace fs = std::filesystem;
using testing_support::PathExists;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

std::string Written(platform::OutputPlace& place, const std::string& bytes) {
  std::FILE* stream = place.OpenResultStream();
  if (stream == nullptr) return "no stream";
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  return std::fclose(stream) == 0 && written ? "" : "not written";
}

TEST(OutputPlaceTest, CreatesAMissingFileAndNeverTruncatesAnExistingOne) {
  ScratchFolder dir("place");
  {
    platform::OutputPlace place;
    ASSERT_TRUE(place.Open(dir / "new.iso"));
    EXPECT_TRUE(place.Created());
    EXPECT_EQ(ReadWholeFile(dir / "new.iso"), "");
    place.Discard();
    EXPECT_FALSE(PathExists(dir / "new.iso"));
  }
  WriteWholeFile(dir / "old.iso", "previous image");
  platform::OutputPlace place;
  ASSERT_TRUE(place.Open(dir / "old.iso"));
  EXPECT_FALSE(place.Created());
  place.Discard();
  EXPECT_EQ(ReadWholeFile(dir / "old.iso"), "previous image");
}

TEST(OutputPlaceTest, ReportsTheCRuntimeReason) {
  if (!testing_support::FoldersAsFilesGiveEISDIR()) GTEST_SKIP() << "opening a folder fails with EACCES here";
  ScratchFolder dir("place");
  fs::create_directories(dir / "a-folder");
  struct Row {
    const char* why;
    std::string path;
    int error;
  };
  const Row rows[] = {
      {"a missing folder", dir / "missing/out.iso", ENOENT},
      {"a folder", dir / "a-folder", EISDIR},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    platform::OutputPlace place;
    errno = 0;
    EXPECT_FALSE(place.Open(row.path));
    EXPECT_EQ(errno, row.error);
  }
  // A pipe nobody reads would hold the open for ever; it is no file either.
  if (testing_support::PipesAndDevicesAreFiles() && testing_support::MakeFifo(dir / "fifo")) {
    platform::OutputPlace place;
    errno = 0;
    EXPECT_FALSE(place.Open(dir / "fifo"));
    EXPECT_EQ(errno, platform::kErrnoNotRegularFile);
  }
  if (!testing_support::IgnoresFilePermissions()) {
    WriteWholeFile(dir / "ro.iso", "x");
    fs::permissions(dir / "ro.iso", fs::perms::owner_read);
    platform::OutputPlace place;
    errno = 0;
    EXPECT_FALSE(place.Open(dir / "ro.iso"));
    EXPECT_EQ(errno, EACCES);
  }
}

// A name as long as the folder takes still gets a new file beside it, which
// replaces it whole, through a link to it, with the old file's mode.
TEST(OutputPlaceTest, TheNewFileFitsBesideALongNameAndReplacesItThroughALink) {
  ScratchFolder dir("place");
  // Windows paths past 260 characters take another form, which the tool does
  // not use: there the name is long, not the longest.
  const std::string name(testing_support::HasWindowsFileNames() ? 100 : 255, 'n');
  WriteWholeFile(dir / name, "old");
  if (testing_support::HasUnixModes()) fs::permissions(dir / name, fs::perms(0640));
  std::string output = dir / name;
  if (testing_support::CanMakeSymlinks()) {
    fs::create_symlink(dir / name, dir / "link.iso");
    output = dir / "link.iso";
  }
  platform::OutputPlace place;
  ASSERT_TRUE(place.Open(output));
  ASSERT_TRUE(place.CreateBeside(".rscdc-partial-")) << errno;
  const std::string newName = fs::path(place.ResultPath()).filename().string();
  EXPECT_NE(newName.find(".rscdc-partial-"), std::string::npos);
  EXPECT_TRUE(fs::equivalent(fs::path(place.ResultPath()).parent_path(), fs::path(dir.path())));
  EXPECT_EQ(Written(place, "new image"), "");
  EXPECT_EQ(ReadWholeFile(dir / name), "old");
  ASSERT_TRUE(place.Commit());
  EXPECT_EQ(ReadWholeFile(output), "new image");
  EXPECT_FALSE(PathExists(place.ResultPath()));
  if (testing_support::CanMakeSymlinks()) {
    EXPECT_TRUE(fs::is_symlink(dir / "link.iso"));
  }
  if (testing_support::HasUnixModes()) {
    EXPECT_EQ(fs::status(dir / name).permissions(), fs::perms(0640));
  }
}

// Another user who can rename in the folder puts a link to a file of
// theirs, or of anyone's, under the new file's name: that file keeps its
// content and mode, nothing is renamed, and the planted link stays.
TEST(OutputPlaceTest, ANewFileSwappedForALinkIsNeitherChangedNorRenamed) {
  if (!testing_support::CanMakeSymlinks() || !testing_support::HasUnixModes()) {
    GTEST_SKIP() << "here the tool's open file cannot be renamed by another";
  }
  ScratchFolder dir("place");
  WriteWholeFile(dir / "out.iso", "old");
  fs::permissions(dir / "out.iso", fs::perms(0666));
  WriteWholeFile(dir / "victim", "secret");
  fs::permissions(dir / "victim", fs::perms(0600));
  platform::OutputPlace place;
  ASSERT_TRUE(place.Open(dir / "out.iso"));
  ASSERT_TRUE(place.CreateBeside(".rscdc-partial-"));
  fs::rename(place.ResultPath(), dir / "moved-away");
  fs::create_symlink(dir / "victim", place.ResultPath());
  EXPECT_EQ(Written(place, "new image"), "");
  errno = 0;
  EXPECT_FALSE(place.Commit());
  EXPECT_EQ(errno, platform::kErrnoFileReplaced);
  place.Discard();
  EXPECT_EQ(ReadWholeFile(dir / "out.iso"), "old");
  EXPECT_EQ(ReadWholeFile(dir / "victim"), "secret");
  EXPECT_EQ(fs::status(dir / "victim").permissions(), fs::perms(0600));
  EXPECT_TRUE(fs::is_symlink(place.ResultPath()));
}

}  // namespace
