#include "archive/virus_version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "archive/tar_reader.h"
#include "archive/z_reader.h"
#include "platform/file.h"
#include "tests/support/child_process.h"
#include "tests/support/tar_builder.h"

namespace {

using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::TarDirectoryEntry;
using testing_support::TarEnd;
using testing_support::TarFileEntry;
using testing_support::WriteWholeFile;

struct NameCase {
  const char* why;
  std::vector<std::string> files;
  bool found;
  int major;
  int minor;
};

std::vector<NameCase> NameCases() {
  return {
      {"the usual name", {"data/vdl-4.49.dat"}, true, 4, 49},
      {"a top-level name is never taken", {"vdl-4.49.dat"}, false, 0, 0},
      {"letter case does not matter", {"data/VDL-4.49.DAT"}, true, 4, 49},
      {"mixed case", {"data/Vdl-7.3.dAt"}, true, 7, 3},
      {"what follows the second number is ignored", {"data/vdl-4.49.1.dat"}, true, 4, 49},
      {"letters after the second number are ignored", {"data/vdl-4.49beta.dat"}, true, 4, 49},
      {"one number is not enough", {"data/vdl-449.dat"}, false, 0, 0},
      {"the second number must be a number", {"data/vdl-4.x.dat"}, false, 0, 0},
      {"no numbers at all", {"data/vdl-.dat"}, false, 0, 0},
      {"the name must end in .dat", {"data/vdl-4.49.dat.bak"}, false, 0, 0},
      {"the name must start with vdl-", {"data/xvdl-4.49.dat"}, false, 0, 0},
      {"a name shorter than the prefix", {"data/vdl"}, false, 0, 0},
      {"an empty last component", {"data/"}, false, 0, 0},
      {"the last component decides", {"vdl-1.1.dat/data/other.dat", "a/b/c/vdl-10.0.dat"}, true, 10, 0},
      {"a backslash is no separator", {"data\\vdl-4.49.dat"}, false, 0, 0},
      {"a backslash inside the last component", {"x/data\\vdl-4.49.dat"}, false, 0, 0},
      {"a slash at the very start counts", {"/vdl-1.2.dat"}, true, 1, 2},
      {"white space may precede either number", {"data/vdl- 4. 49.dat"}, true, 4, 49},
      {"signs are read", {"data/vdl-+4.-49.dat"}, true, 4, -49},
      {"no white space before the point", {"data/vdl-4 .49.dat"}, false, 0, 0},
      {"leading zeros are decimal", {"data/vdl-010.08.dat"}, true, 10, 8},
      {"the first fitting name wins", {"data/readme.txt", "data/vdl-4.48.dat", "data/vdl-4.49.dat"}, true, 4, 48},
  };
}

TEST(MyUntarCallbackTest, RecognisesVersionNames) {
  for (const NameCase& c : NameCases()) {
    SCOPED_TRACE(c.why);
    MyUntarCallback callback;
    for (const std::string& name : c.files) callback.OnFile(name);
    EXPECT_EQ(callback.found, c.found);
    if (c.found) {
      EXPECT_EQ(callback.major, c.major);
      EXPECT_EQ(callback.minor, c.minor);
    }
  }
}

TEST(MyUntarCallbackTest, DirectoriesAreNotConsidered) {
  MyUntarCallback callback;
  callback.OnDirectory("data/vdl-4.49.dat/");
  callback.OnDirectory("data/vdl-4.49.dat");
  EXPECT_FALSE(callback.found);
}

bool WalkArchive(const std::string& path, MyUntarCallback& callback) {
  UntarContext context;
  context.archive = platform::OpenFile(path, "rb");
  EXPECT_NE(context.archive, nullptr);
  return Untar(context, &callback, nullptr);
}

TEST(MyUntarCallbackTest, WalkFindsTheFirstVersionInArchiveOrder) {
  ScratchFolder scratch("virus-walk");
  WriteWholeFile(scratch / "a.tar", TarDirectoryEntry("data/") + TarDirectoryEntry("data/vdl-9.9.dat/") +
                                        TarFileEntry("vdl-8.8.dat", "top") + TarFileEntry("data/vdl-4.48.dat", "x") +
                                        TarFileEntry("data/vdl-4.49.dat", "y") + TarEnd());
  MyUntarCallback callback;
  ASSERT_TRUE(WalkArchive(scratch / "a.tar", callback)) << FileErrorText();
  EXPECT_TRUE(callback.found);
  EXPECT_EQ(callback.major, 4);
  EXPECT_EQ(callback.minor, 48);
  // Walking wrote nothing.
  EXPECT_FALSE(testing_support::PathExists(scratch / "data"));
}

TEST(MyUntarCallbackTest, ArchiveWithoutVersionSucceedsUnfound) {
  ScratchFolder scratch("virus-none");
  WriteWholeFile(scratch / "a.tar", TarDirectoryEntry("data/") + TarFileEntry("data/readme", "x") + TarEnd());
  MyUntarCallback callback;
  EXPECT_TRUE(WalkArchive(scratch / "a.tar", callback));
  EXPECT_FALSE(callback.found);
}

TEST(MyUntarCallbackTest, PackageMadeWithTarAndCompress) {
  // The way the package arrives: a tar archive inside a .Z file, both made by
  // the real tools; decompress it, then walk it.
  ScratchFolder scratch("virus-package");
  const std::string root = scratch / "pkg";
  std::filesystem::create_directories(root + "/corvex/lib");
  std::filesystem::create_directories(root + "/corvex/data");
  WriteWholeFile(root + "/corvex/lib/engine.so", std::string(100000, 'e'));
  WriteWholeFile(root + "/corvex/data/vdl-5.12.dat", std::string(70000, 'v'));
  const std::string tarPath = scratch / "linux.tar";
  ASSERT_EQ(RunChild("/usr/bin/tar", {"--format=ustar", "-cf", tarPath, "-C", root, "corvex"}).exitStatus, 0);
  ASSERT_EQ(RunChild("/usr/bin/compress", {"-f", tarPath}).exitStatus, 0);
  const std::string unpacked = scratch / "unpacked.tar";
  ASSERT_TRUE(DecompressFile(unpacked, nullptr, tarPath + ".Z")) << FileErrorText();
  MyUntarCallback callback;
  ASSERT_TRUE(WalkArchive(unpacked, callback)) << FileErrorText();
  EXPECT_TRUE(callback.found);
  EXPECT_EQ(callback.major, 5);
  EXPECT_EQ(callback.minor, 12);
}

}  // namespace
