// Runs the real rscdc binary: what it prints where, and its exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/exclusive_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/expected_output.h"
#include "tests/support/test_system.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kUsage =
    "Usage: rscdc [options] <output file>\n"
    "Options:\n"
    "    -d <url>  URL to download the Linux distribution (default: from Corvex)\n"
    "    -q        quiet (no output)\n"
    "    -v        verbose output\n";

class RscdcProcessTest : public ::testing::Test {
 protected:
  RscdcProcessTest() : temp_("rscdc-tmp"), cwd_("rscdc-cwd") {}

  void SetUp() override {
    // Without its own temporary folder the program would share one with every
    // other run, and the checks of what it leaves there would prove nothing.
    if (std::string(TempFolderVariable()) != "TMPDIR") {
      GTEST_SKIP() << "the program takes its temporary folder from " << TempFolderVariable()
                   << " here, and these cases hand it one by TMPDIR";
    }
  }

  ChildResult Run(const std::vector<std::string>& args) {
    ChildOptions options;
    options.workingFolder = cwd_.path();
    options.env["TMPDIR"] = temp_.path();
    return RunChild(BuiltProgram("cli/rscdc"), args, options);
  }

  std::string WorkingFolder() const { return temp_ / kWorkingFolder; }

  ScratchFolder temp_;
  ScratchFolder cwd_;
};

}  // namespace

TEST_F(RscdcProcessTest, UsageCasesPrintBannerAndUsageWithStatus1) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-d", "out.iso"}, {"-x", "out.iso"}, {"-Q", "out.iso"}, {"-q", "-x", "out.iso"}, {"a.iso", "b.iso"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ChildResult r = Run(args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, ExpectedBanner() + kUsage);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(PathExists(WorkingFolder()));
  }
}

TEST_F(RscdcProcessTest, QuietPrintsNothingOnStandardOutput) {
  ChildResult r = Run({"-q", "out.iso"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exitStatus, 1);
  // The failed run takes back the empty file it made to prove the path writable.
  EXPECT_FALSE(PathExists(cwd_ / "out.iso"));
}

TEST_F(RscdcProcessTest, LoneDashVIsTheOutputFileAtNormalLevel) {
  if (!FullPathsStartAtTheRoot()) GTEST_SKIP() << "the program spells full paths from a drive here";
  fs::create_directory(cwd_ / "-v");
  ChildResult r = Run({"-v"});
  EXPECT_EQ(r.out, ExpectedBanner());
  EXPECT_EQ(r.err, "Cannot open the output file " + cwd_.path() + "/-v: Is a directory\n");
}

TEST_F(RscdcProcessTest, OutputInMissingFolderIsReportedWithFullPath) {
  if (!FullPathsStartAtTheRoot()) GTEST_SKIP() << "the program spells full paths from a drive here";
  ChildResult r = Run({"-q", "missing/out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "Cannot open the output file " + cwd_.path() + "/missing/out.iso: No such file or directory\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(PathExists(WorkingFolder()));
}

TEST_F(RscdcProcessTest, LeftoverWorkingFolderIsClearedAndExistingOutputKept) {
  fs::create_directories(WorkingFolder() + "/image/slax");
  WriteWholeFile(WorkingFolder() + "/image/slax/stale.bin", "stale");
  WriteWholeFile(cwd_ / "out.iso", "previous image");
  ChildResult r = Run({"out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_FALSE(PathExists(WorkingFolder() + "/image/slax/stale.bin"));
  EXPECT_EQ(ReadWholeFile(cwd_ / "out.iso"), "previous image");
}

TEST_F(RscdcProcessTest, SecondRunIsRefusedWhileTheFirstHoldsTheLock) {
  platform::ExclusiveLock firstRun;
  ASSERT_TRUE(firstRun.Acquire(WorkingFolder() + ".lock"));
  fs::create_directories(WorkingFolder());
  WriteWholeFile(WorkingFolder() + "/in-use", "first run");
  ChildResult r = Run({"-q", "out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "Failed to create temp folder " + WorkingFolder() +
                       ": Another run of the tool is using the working folder\n");
  EXPECT_EQ(ReadWholeFile(WorkingFolder() + "/in-use"), "first run");
}

TEST_F(RscdcProcessTest, ClosedStandardHandlesDoNotLendTheirNumbersToFiles) {
  if (!ShellCanStartBuiltPrograms()) GTEST_SKIP() << "/bin/sh cannot start the program here, to close its handles";
  // Started with a standard handle closed, the lock file would otherwise take
  // its number and receive the console text meant for it.
  for (const std::string closing : {">&-", "2>&-", "<&- >&- 2>&-"}) {
    SCOPED_TRACE(closing);
    ChildOptions options;
    options.workingFolder = cwd_.path();
    options.env["TMPDIR"] = temp_.path();
    ChildResult r = RunChild("/bin/sh", {"-c", "exec \"$0\" out.iso " + closing, BuiltProgram("cli/rscdc")}, options);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(ReadWholeFile(WorkingFolder() + ".lock"), "");
  }
}

TEST_F(RscdcProcessTest, TheOutputIsWhereTheFileSystemPutsItAndNeverInTheWorkingFolder) {
  if (!CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  // Where the kernel would write, a folder stands, so the run must stop there;
  // a name that only reads as the same place holds a file that must stay.
  fs::create_directories(cwd_ / "real/deep");
  fs::create_directory_symlink("real/deep", cwd_ / "sym");
  fs::create_symlink("../target.iso", cwd_ / "real/deep/link.iso");
  fs::create_directory_symlink(WorkingFolder(), cwd_ / "work");
  for (const char* name : {"x.iso", "target.iso"}) {
    WriteWholeFile(cwd_ / name, "PRECIOUS");
    fs::create_directory(cwd_ / ("real/" + std::string(name)));
  }
  const std::string inside = ": It is inside the tool's working folder";
  const struct {
    std::string output, error;
  } rows[] = {
      {"sym/../x.iso", cwd_ / "sym/../x.iso: Is a directory"},
      {"sym/link.iso", cwd_ / "sym/link.iso: Is a directory"},
      // The run would remove the image with its folder, or write into its lock.
      {WorkingFolder() + "/CorvexLive-SLAX.tar", WorkingFolder() + "/CorvexLive-SLAX.tar" + inside},
      {WorkingFolder() + "/image", WorkingFolder() + "/image" + inside},
      {WorkingFolder() + ".lock", WorkingFolder() + ".lock" + inside},
      {"work/out.iso", cwd_ / "work/out.iso" + inside},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.output);
    ChildResult r = Run({"-q", row.output});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Cannot open the output file " + row.error + "\n");
    EXPECT_EQ(ReadWholeFile(cwd_ / "x.iso") + ReadWholeFile(cwd_ / "target.iso"), "PRECIOUSPRECIOUS");
    EXPECT_FALSE(PathExists(WorkingFolder()));
  }
}

TEST_F(RscdcProcessTest, TempFolderOthersCanRenameInIsRefusedBeforeAnythingIsMade) {
  if (!HasUnixModes()) GTEST_SKIP() << "the temporary folder here is the account's own, under its profile";
  // Root with another user's TMPDIR: that user could swap the working folder
  // for a link during the download, and root would unpack where it leads.
  const std::string shared =
      ": Other users may rename what is in it, or in a folder above it (writable by them, without the sticky "
      "bit); set TMPDIR (on Windows: TMP) to a folder of your own";
  const std::string theirs =
      ": It, or a folder above it, belongs to another user; set TMPDIR (on Windows: TMP) to a folder of your own";
  fs::create_directories(temp_ / "open/mine");
  fs::permissions(temp_ / "open", fs::perms::all);
  fs::create_directories(temp_ / "sticky");
  fs::permissions(temp_ / "sticky", fs::perms::all | fs::perms::sticky_bit);
  fs::create_directories(temp_ / "theirs/mine");
  // Only root can give a folder away; elsewhere those rows are left out.
  const std::string chown = FindOnPath("chown");
  const bool givenAway = !chown.empty() && RunChild(chown, {"65534", temp_ / "theirs"}).exitStatus == 0;
  const struct {
    std::string tmpdir, error;  // no error: accepted
    bool needsGivenAway;
  } rows[] = {
      {temp_ / "open", shared, false},        {temp_ / "open/mine", shared, false},
      {temp_ / "theirs", theirs, true},       {temp_ / "theirs/mine", theirs, true},
      {temp_ / "sticky", "", false},
  };
  for (const auto& row : rows) {
    if (row.needsGivenAway && !givenAway) continue;
    SCOPED_TRACE(row.tmpdir);
    ChildOptions options;
    options.workingFolder = cwd_.path();
    options.env["TMPDIR"] = row.tmpdir;
    ChildResult r = RunChild(BuiltProgram("cli/rscdc"), {"-q", "out.iso"}, options);
    const std::string working = row.tmpdir + "/" + kWorkingFolder;
    EXPECT_EQ(r.exitStatus, 1);
    if (row.error.empty()) {
      EXPECT_EQ(r.err.find("Failed to create temp folder"), std::string::npos) << r.err;
      EXPECT_TRUE(PathExists(working + ".lock"));
    } else {
      EXPECT_EQ(r.err, "Failed to create temp folder " + working + row.error + "\n");
      EXPECT_FALSE(PathExists(working + ".lock"));
      EXPECT_FALSE(PathExists(working));
    }
  }
}
