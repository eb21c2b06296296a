// Runs the real rscdc binary: what it prints where, and its exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/private_folder.h"
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
  fs::create_directories(WorkingFolder() + "/slax");
  WriteWholeFile(WorkingFolder() + "/slax/stale.bin", "stale");
  WriteWholeFile(cwd_ / "out.iso", "previous image");
  ChildResult r = Run({"out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_FALSE(PathExists(WorkingFolder() + "/slax/stale.bin"));
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
      {WorkingFolder() + "/slax", WorkingFolder() + "/slax" + inside},
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
