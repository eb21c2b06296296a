#include "archive/tar_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "platform/file.h"
#include "tests/support/child_process.h"
#include "tests/support/tar_builder.h"
#include "tests/support/test_system.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Octal;
using testing_support::PadToBlock;
using testing_support::PathExists;
using testing_support::ReadWholeFile;
using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::TarDirectoryEntry;
using testing_support::TarEnd;
using testing_support::TarFileEntry;
using testing_support::TarHeader;
using testing_support::WriteWholeFile;

class RecordingCallback : public IUntarCallback {
 public:
  std::vector<std::string> events;
  void OnDirectory(const std::string& name) override { events.push_back("D:" + name); }
  void OnFile(const std::string& name) override { events.push_back("F:" + name); }
};

class RecordingProgress : public IFileProgressCallback {
 public:
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  void OnProgress(std::uint64_t total, std::uint64_t done) override { calls.emplace_back(total, done); }
};

struct Outcome {
  bool ok = false;
  int error = 0;
  std::vector<std::string> events;
};

/// Writes `archive` to a file and runs Untar over it, into `target` or walking.
Outcome RunUntar(const ScratchFolder& scratch, const std::string& archive, std::optional<std::string> target,
                 IFileProgressCallback* progress = nullptr) {
  const std::string path = scratch / "archive.tar";
  WriteWholeFile(path, archive);
  UntarContext context;
  context.targetFolder = std::move(target);
  context.archive = platform::OpenFile(path, "rb");
  EXPECT_NE(context.archive, nullptr);
  RecordingCallback callback;
  errno = 0;
  Outcome outcome;
  outcome.ok = Untar(context, &callback, progress);
  outcome.error = errno;
  outcome.events = callback.events;
  EXPECT_EQ(context.archive, nullptr) << "the stream is closed on every path";
  return outcome;
}

std::string Header(const std::string& name, char type, std::uint32_t size) {
  return TarHeader(name, type, size).bytes();
}

std::string WithSizeField(const std::string& raw, std::uint32_t dataBytes) {
  return TarHeader("f", '0', 0).SetField(TarHeader::kSizeOffset, 12, raw).FixChecksum().bytes() +
         PadToBlock(std::string(dataBytes, 'x'));
}

// ---------------------------------------------------------------------------
// Reading headers: one row per rule, walked without a target folder.

struct WalkCase {
  const char* why;
  std::string archive;
  bool ok;
  int error;  // checked when !ok
  std::vector<std::string> events;
};

std::vector<WalkCase> WalkCases() {
  const std::string file = TarFileEntry("dir/file", "hello");
  const std::string high = "caf\xC3\xA9/x";  // bytes of 0x80 and above in the name
  return {
      {"an empty archive file ends at once", "", true, 0, {}},
      {"one zero record ends the archive", std::string(512, '\0'), true, 0, {}},
      {"the end of the file where a header would begin ends the archive", file, true, 0, {"F:dir/file"}},
      {"nothing after the first zero record is read",
       file + std::string(500, '\0') + std::string(12, 'J') + "garbage that is no header" + std::string(600, '\xFF'),
       true, 0, {"F:dir/file"}},
      {"1 byte is a truncated header", "x", false, ARCHIVE_TRUNCATED, {}},
      {"499 bytes are a truncated header", Header("a", '0', 0).substr(0, 499), false, ARCHIVE_TRUNCATED, {}},
      {"a cut inside the second header is truncated", file + Header("b", '0', 0).substr(0, 300), false,
       ARCHIVE_TRUNCATED, {"F:dir/file"}},
      {"a complete 500-byte record without the rest of its block is enough", Header("a", '0', 0).substr(0, 505),
       true, 0, {"F:a"}},
      {"the checksum is a sum of unsigned bytes", TarHeader(high, '0', 0).bytes(), true, 0, {"F:" + high}},
      {"a checksum of signed bytes is corrupt", TarHeader(high, '0', 0).SignedChecksum().bytes(), false,
       ARCHIVE_CORRUPT, {}},
      {"one changed byte breaks the checksum", TarHeader("a", '0', 0).SetByte(200, 'z').bytes(), false,
       ARCHIVE_CORRUPT, {}},
      {"a checksum field that is not octal is corrupt",
       TarHeader("a", '0', 0).SetField(TarHeader::kChecksumOffset, 8, "12x45").bytes(), false, ARCHIVE_CORRUPT, {}},
      {"bytes 500 to 511 of a header change nothing",
       TarHeader("a", '0', 0).SetField(500, 12, "ABCDEFGHIJKL").bytes() + TarFileEntry("b", "1"), true, 0,
       {"F:a", "F:b"}},
      {"typeflag '7' is a regular file", Header("c", '7', 0), true, 0, {"F:c"}},
      {"typeflag NUL (old regular file) is unsupported", Header("a", '\0', 0), false, ARCHIVE_UNSUPPORTED, {}},
      {"a hard link is unsupported", Header("a", '1', 0), false, ARCHIVE_UNSUPPORTED, {}},
      {"a symbolic link is unsupported", Header("a", '2', 0), false, ARCHIVE_UNSUPPORTED, {}},
      {"a GNU long name is unsupported", Header("a", 'L', 0), false, ARCHIVE_UNSUPPORTED, {}},
      {"a pax header is unsupported", Header("a", 'x', 0), false, ARCHIVE_UNSUPPORTED, {}},
      {"a pax global header is unsupported", Header("a", 'g', 0), false, ARCHIVE_UNSUPPORTED, {}},
      {"an unsupported entry after a good one stops the walk", file + Header("l", '2', 0) + file, false,
       ARCHIVE_UNSUPPORTED, {"F:dir/file"}},
      {"size 00000001750 and a space is 1000 bytes", WithSizeField("00000001750 ", 1000) + TarFileEntry("n", ""), true,
       0, {"F:f", "F:n"}},
      {"a size filled with digits to its last byte is valid", WithSizeField("000000001750", 1000) + TarFileEntry("n", ""),
       true, 0, {"F:f", "F:n"}},
      {"a size of only spaces and NULs is 0", WithSizeField(std::string("   \0  \0", 7), 0) + TarFileEntry("n", ""),
       true, 0, {"F:f", "F:n"}},
      {"a size with spaces before its digits is corrupt", WithSizeField(" 0000001750", 0), false, ARCHIVE_CORRUPT, {}},
      {"a size that starts with 0x80 is corrupt", WithSizeField("\x80" "0000001750", 0), false, ARCHIVE_CORRUPT, {}},
      {"a digit after the first space is corrupt", WithSizeField("0000 001750", 0), false, ARCHIVE_CORRUPT, {}},
      {"8 is no octal digit", WithSizeField("00000000008", 0), false, ARCHIVE_CORRUPT, {}},
      {"a size beyond 32 bits wraps: 2^32 + 1 is 1 byte", WithSizeField("40000000001", 1) + TarFileEntry("n", ""),
       true, 0, {"F:f", "F:n"}},
      {"a 12-digit size wraps too", WithSizeField("400000000001", 1) + TarFileEntry("n", ""), true, 0, {"F:f", "F:n"}},
      {"the largest size seeks past the end of the file and ends there", WithSizeField("77777777777", 0), true, 0,
       {"F:f"}},
      {"a bad mtime field is corrupt",
       TarHeader("a", '0', 0).SetField(TarHeader::kMtimeOffset, 12, "1234567890x").FixChecksum().bytes(), false,
       ARCHIVE_CORRUPT, {}},
      {"trailing spaces and NULs end the name",
       TarHeader("", '0', 0).SetField(0, 100, std::string("dir/file  \0 \0  ", 16)).FixChecksum().bytes(), true, 0,
       {"F:dir/file"}},
      {"the name ends at its first NUL",
       TarHeader("", '0', 0).SetField(0, 100, std::string("ab\0cd", 5)).FixChecksum().bytes(), true, 0, {"F:ab"}},
      {"a name of 100 bytes has no terminator", Header(std::string(99, 'n') + "Z", '0', 0), true, 0,
       {"F:" + std::string(99, 'n') + "Z"}},
      {"UTF-8 bytes in a name stay as they are", Header("\xC3\xA9", '0', 0), true, 0, {"F:\xC3\xA9"}},
      {"entries come in archive order",
       TarDirectoryEntry("a/") + TarFileEntry("a/1", "x") + TarDirectoryEntry("a/b/") + TarFileEntry("a/b/2", "yy") +
           TarFileEntry("top", std::string(1500, 'z')) + TarEnd(),
       true, 0, {"D:a/", "F:a/1", "D:a/b/", "F:a/b/2", "F:top"}},
      {"without a target, data cut short in the last entry is not noticed",
       TarFileEntry("big", std::string(5000, 'q')).substr(0, 1000), true, 0, {"F:big"}},
      {"names leading outside reach the callback unchanged when only walking",
       TarFileEntry("../up", "1") + TarFileEntry("/abs", "2") + TarDirectoryEntry("a/../../b/"), true, 0,
       {"F:../up", "F:/abs", "D:a/../../b/"}},
  };
}

TEST(UntarTest, WalkReadsHeadersByTheRules) {
  for (const WalkCase& c : WalkCases()) {
    SCOPED_TRACE(c.why);
    ScratchFolder scratch("untar-walk");
    const Outcome outcome = RunUntar(scratch, c.archive, std::nullopt);
    EXPECT_EQ(outcome.ok, c.ok);
    if (!c.ok) {
      EXPECT_EQ(outcome.error, c.error) << FileErrorText(outcome.error);
    }
    EXPECT_EQ(outcome.events, c.events);
    // Walking writes nothing.
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
  }
}

TEST(UntarTest, FailuresCarryTheirTexts) {
  ScratchFolder scratch("untar-texts");
  EXPECT_EQ(FileErrorText(RunUntar(scratch, "short", std::nullopt).error), "The archive is truncated");
  EXPECT_EQ(FileErrorText(RunUntar(scratch, Header("a", '2', 0), std::nullopt).error),
            "The archive contains unsupported features");
  EXPECT_EQ(FileErrorText(RunUntar(scratch, TarHeader("a", '0', 0).SetByte(0, 'b').bytes(), std::nullopt).error),
            "The archive is corrupt");
}

TEST(UntarTest, NullCallbacksAreAllowed) {
  ScratchFolder scratch("untar-null");
  const std::string path = scratch / "a.tar";
  WriteWholeFile(path, TarDirectoryEntry("d/") + TarFileEntry("d/f", "data") + TarEnd());
  UntarContext context;
  context.targetFolder = scratch / "out";
  ASSERT_TRUE(platform::MakeDirectory(*context.targetFolder));
  context.archive = platform::OpenFile(path, "rb");
  ASSERT_TRUE(Untar(context, nullptr, nullptr));
  EXPECT_EQ(ReadWholeFile(scratch / "out/d/f"), "data");
  EXPECT_EQ(context.totalSize, 512 * 2 + 512 + 1024);
}

class ThrowingCallback : public IUntarCallback {
 public:
  explicit ThrowingCallback(bool outOfMemory) : outOfMemory_(outOfMemory) {}
  void OnDirectory(const std::string&) override {}
  void OnFile(const std::string&) override {
    if (outOfMemory_) throw std::bad_alloc();
    throw std::runtime_error("callback failed");
  }

 private:
  bool outOfMemory_;
};

TEST(UntarTest, StreamIsClosedWhenACallbackThrows) {
  ScratchFolder scratch("untar-throw");
  WriteWholeFile(scratch / "a.tar", TarFileEntry("f", "x") + TarEnd());
  UntarContext context;
  context.archive = platform::OpenFile(scratch / "a.tar", "rb");
  ThrowingCallback failing(false);
  EXPECT_THROW(Untar(context, &failing, nullptr), std::runtime_error);
  EXPECT_EQ(context.archive, nullptr);
  // Memory running out is reported the way the subsystem reports.
  context.archive = platform::OpenFile(scratch / "a.tar", "rb");
  ThrowingCallback starving(true);
  EXPECT_FALSE(Untar(context, &starving, nullptr));
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(context.archive, nullptr);
}

TEST(UntarTest, NullStreamFailsWithTheOpenError) {
  ScratchFolder scratch("untar-nullstream");
  UntarContext context;
  context.archive = platform::OpenFile(scratch / "missing.tar", "rb");
  ASSERT_EQ(context.archive, nullptr);
  EXPECT_FALSE(Untar(context, nullptr, nullptr));
  EXPECT_EQ(errno, ENOENT);
}

TEST(UntarTest, AReadErrorIsNoEndOfArchive) {
  if (!testing_support::FoldersAsFilesGiveEISDIR()) GTEST_SKIP() << "a folder does not open as a stream here";
  // A directory opens as a stream on Linux, but reading it fails; that must not
  // pass for an empty archive.
  ScratchFolder scratch("untar-readerror");
  UntarContext context;
  context.archive = platform::OpenFile(scratch.path(), "rb");
  ASSERT_NE(context.archive, nullptr);
  RecordingCallback callback;
  EXPECT_FALSE(Untar(context, &callback, nullptr));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_TRUE(callback.events.empty());
}

// ---------------------------------------------------------------------------
// Extracting.

// Names are UTF-8 on both sides: where the narrow path strings are in another
// code page (Windows), the paths go through char8_t.
fs::path Utf8Path(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.generic_u8string();
  return std::string(name.begin(), name.end());
}

std::int64_t ModificationTime(const std::string& path) {
  std::error_code error;
  const auto time = fs::last_write_time(Utf8Path(path), error);
  EXPECT_FALSE(error) << path << ": " << error.message();
  return std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(time)).time_since_epoch().count();
}

std::int64_t AccessTime(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_atime;
}

class UntarExtractTest : public ::testing::Test {
 protected:
  UntarExtractTest() : scratch_("untar-extract"), target_(scratch_ / "target") {
    fs::create_directory(target_);
  }
  Outcome Extract(const std::string& archive, IFileProgressCallback* progress = nullptr) {
    return RunUntar(scratch_, archive, target_, progress);
  }
  std::string In(const std::string& name) const { return target_ + "/" + name; }
  std::vector<std::string> TargetListing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(target_)) {
      names.push_back(fs::relative(entry.path(), target_).generic_string() + (entry.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchFolder scratch_;
  std::string target_;
};

TEST_F(UntarExtractTest, WritesFilesDirectoriesAndTimes) {
  const std::string big(150000, '\0');
  std::string pattern = big;
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + i / 300);
  const Outcome outcome = Extract(TarDirectoryEntry("a/") + TarFileEntry("a/one", "first", 1000000000) +
                                  TarDirectoryEntry("a/b/") + TarFileEntry("a/b/big", pattern, 4000000000u) +
                                  TarFileEntry("empty", "", 86400) + TarFileEntry("top", "last") + TarEnd());
  ASSERT_TRUE(outcome.ok) << FileErrorText(outcome.error);
  EXPECT_EQ(outcome.events, (std::vector<std::string>{"D:a/", "F:a/one", "D:a/b/", "F:a/b/big", "F:empty", "F:top"}));
  EXPECT_EQ(TargetListing(), (std::vector<std::string>{"a/", "a/b/", "a/b/big", "a/one", "empty", "top"}));
  // Times first: reading a file moves its access time.
  EXPECT_EQ(ModificationTime(In("a/one")), 1000000000);
  EXPECT_EQ(AccessTime(In("a/one")), 1000000000);
  // mtime is an unsigned 32-bit count: past 2038 it must not turn negative.
  EXPECT_EQ(ModificationTime(In("a/b/big")), 4000000000LL);
  EXPECT_EQ(AccessTime(In("a/b/big")), 4000000000LL);
  EXPECT_EQ(ModificationTime(In("empty")), 86400);
  EXPECT_EQ(ReadWholeFile(In("a/one")), "first");
  EXPECT_EQ(ReadWholeFile(In("a/b/big")), pattern);
  EXPECT_EQ(ReadWholeFile(In("empty")), "");
  EXPECT_EQ(ReadWholeFile(In("top")), "last");
}

TEST_F(UntarExtractTest, EmptyFileIsFollowedDirectlyByTheNextHeader) {
  const Outcome outcome = Extract(TarFileEntry("zero", "", 12345) + TarFileEntry("next", "n") + TarEnd());
  ASSERT_TRUE(outcome.ok) << FileErrorText(outcome.error);
  EXPECT_TRUE(PathExists(In("zero")));
  EXPECT_EQ(fs::file_size(In("zero")), 0u);
  EXPECT_EQ(ModificationTime(In("zero")), 12345);
  EXPECT_EQ(ReadWholeFile(In("next")), "n");
}

TEST_F(UntarExtractTest, ExistingDirectoryIsFine) {
  fs::create_directory(In("there"));
  const Outcome outcome = Extract(TarDirectoryEntry("there/") + TarDirectoryEntry("there") + TarEnd());
  EXPECT_TRUE(outcome.ok) << FileErrorText(outcome.error);
}

TEST_F(UntarExtractTest, FileInAFolderNoEntryMadeFailsWithNoSuchFile) {
  const Outcome outcome = Extract(TarFileEntry("nowhere/file", "x") + TarEnd());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, ENOENT);
  EXPECT_EQ(FileErrorText(outcome.error), "No such file or directory");
  EXPECT_EQ(outcome.events, std::vector<std::string>{"F:nowhere/file"});
}

TEST_F(UntarExtractTest, DirectoryWithoutParentFails) {
  const Outcome outcome = Extract(TarDirectoryEntry("no/such/") + TarEnd());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, ENOENT);
}

TEST_F(UntarExtractTest, FileOverADirectoryFails) {
  if (!testing_support::FoldersAsFilesGiveEISDIR()) {
    GTEST_SKIP() << "opening a folder for writing fails with EACCES here, not EISDIR";
  }
  fs::create_directory(In("taken"));
  const Outcome outcome = Extract(TarFileEntry("taken", "x") + TarEnd());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, EISDIR);
}

TEST_F(UntarExtractTest, DataCutShortLeavesThePartialFile) {
  std::string data(200000, 'd');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 23);
  const std::string entry = TarFileEntry("before", "ok") + TarFileEntry("cut", data);
  const Outcome outcome = Extract(entry.substr(0, 1024 + 512 + 100000));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, ARCHIVE_TRUNCATED);
  EXPECT_EQ(ReadWholeFile(In("before")), "ok");
  // Data moves in whole chunks of 64 KiB; the chunk that came up short is not written.
  EXPECT_EQ(ReadWholeFile(In("cut")), data.substr(0, 65536));
}

TEST_F(UntarExtractTest, WriteFailureKeepsTheRuntimeError) {
  if (!testing_support::HasFullDevice()) GTEST_SKIP() << "no /dev/full here, the device that is always full";
  if (!testing_support::CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  // A link planted in the target (the reader itself never makes one) leads the
  // write to a device that is always full.
  fs::create_symlink("/dev/full", In("full"));
  const Outcome outcome = Extract(TarFileEntry("full", std::string(70000, 'f')) + TarEnd());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(FileErrorText(outcome.error), "No space left on device");
  // A small file fails only when its buffered bytes are written at close.
  const Outcome small = Extract(TarFileEntry("full", "tiny") + TarFileEntry("after", "x") + TarEnd());
  EXPECT_FALSE(small.ok);
  EXPECT_EQ(small.error, ENOSPC);
  EXPECT_FALSE(PathExists(In("after")));
  EXPECT_TRUE(PathExists("/dev/full"));
}

struct RefusedName {
  const char* why;
  std::string archive;
  std::string event;
};

TEST_F(UntarExtractTest, NamesLeadingOutsideAreRefusedBeforeAnythingIsWritten) {
  const std::vector<RefusedName> cases = {
      {"parent folder", TarFileEntry("../escape", "x"), "F:../escape"},
      {"parent folder deeper in", TarFileEntry("a/../../escape", "x"), "F:a/../../escape"},
      {"parent folder as the last component", TarDirectoryEntry("a/.."), "D:a/.."},
      {"parent folder of a directory", TarDirectoryEntry("../escape-dir/"), "D:../escape-dir/"},
      {"absolute file", TarFileEntry("/tmp/rscdc-untar-escape", "x"), "F:/tmp/rscdc-untar-escape"},
      {"absolute directory", TarDirectoryEntry("/tmp/rscdc-untar-escape-dir/"), "D:/tmp/rscdc-untar-escape-dir/"},
      {"backslash separators", TarFileEntry("a\\..\\escape", "x"), "F:a\\..\\escape"},
      {"leading backslash", TarFileEntry("\\escape", "x"), "F:\\escape"},
      // Where trailing dots and blanks are dropped from names, ".. " is "..".
      {"parent folder with a trailing blank", TarFileEntry(".. /escape", "x"), "F:.. /escape"},
      {"only dots", TarFileEntry("a/...", "x"), "F:a/..."},
      {"a file with an empty name would replace the target", TarFileEntry("", "x"), "F:"},
      {"a file named ./ would replace the target", TarFileEntry("./", "x"), "F:./"},
  };
  fs::create_directory(In("a"));
  for (const RefusedName& c : cases) {
    SCOPED_TRACE(c.why);
    const Outcome outcome = Extract(c.archive + TarEnd());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, ARCHIVE_UNSUPPORTED);
    EXPECT_EQ(outcome.events, std::vector<std::string>{c.event});
    EXPECT_EQ(TargetListing(), std::vector<std::string>{"a/"});
    EXPECT_FALSE(PathExists(scratch_ / "escape"));
    EXPECT_FALSE(PathExists(scratch_ / "escape-dir"));
    EXPECT_FALSE(PathExists("/tmp/rscdc-untar-escape"));
    EXPECT_FALSE(PathExists("/tmp/rscdc-untar-escape-dir"));
  }
}

TEST_F(UntarExtractTest, NamesWindowsCannotHoldAsWrittenAreRefusedThereOnly) {
  // Each name in turn after the entries before it. Where Windows would take it
  // for a device, strip it, fail to make it or land on an earlier entry's file
  // or folder, it must be refused before a byte of it is written.
  struct Case {
    std::string why;
    std::vector<std::string> earlier;
    std::string name;
  };
  std::vector<Case> cases = {
      {"a trailing dot, dropped by Windows", {"docs/u.txt"}, "docs/u.txt."},
      {"a folder with a trailing blank", {}, "docs /v"},
      {"another case of an earlier name", {"docs/Case.txt"}, "docs/CASE.txt"},
      {"another case of an earlier folder", {"docs/y"}, "DOCS/x"},
      {"bytes that are no UTF-8", {}, "docs/\xC3("},
  };
  for (const char* device : {"CON", "docs/PRN", "docs/aux", "docs/NUL.txt", "docs/nul .txt", "docs/COM0",
                             "docs/com9.log", "docs/COM\xC2\xB9", "docs/LPT1", "docs/lpt0.x", "docs/CONIN$",
                             "docs/conout$.txt"}) {
    cases.push_back({"a device", {}, device});
  }
  // Not "a:b": should such a file be made, the clean-up would take it for a
  // path on drive A: and never end.
  for (const char c : std::string("<>:\"|?*\x01\x1F")) {
    cases.push_back({"a forbidden character", {}, std::string("docs/one") + c + "two"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why + ": " + c.name);
    fs::remove_all(target_);
    for (const char* folder : {"", "/docs", "/DOCS", "/docs "}) fs::create_directory(target_ + folder);
    std::string archive;
    for (const std::string& name : c.earlier) archive += TarFileEntry(name, "early");
    const Outcome outcome = Extract(archive + TarFileEntry(c.name, "late") + TarEnd());
    if (testing_support::HasWindowsFileNames()) {
      EXPECT_FALSE(outcome.ok);
      EXPECT_EQ(outcome.error, ARCHIVE_UNSUPPORTED);
      for (const std::string& name : c.earlier) EXPECT_EQ(ReadWholeFile(In(name)), "early");
    } else {
      EXPECT_TRUE(outcome.ok) << FileErrorText(outcome.error);
      EXPECT_EQ(ReadWholeFile(In(c.name)), "late");
    }
  }
}

TEST_F(UntarExtractTest, AnEntryNamingTheArchiveItselfIsRefused) {
  // The archive lies in the folder it is unpacked into, as a downloaded one
  // does: writing that entry would truncate it under the reader.
  const std::string archive = TarFileEntry("first", "1") + TarFileEntry("./self.tar", std::string(3000, 's')) +
                              TarFileEntry("after", "2") + TarEnd();
  WriteWholeFile(In("self.tar"), archive);
  UntarContext context;
  context.targetFolder = target_;
  context.archive = platform::OpenFile(In("self.tar"), "rb");
  ASSERT_NE(context.archive, nullptr);
  EXPECT_FALSE(Untar(context, nullptr, nullptr));
  EXPECT_EQ(errno, ARCHIVE_UNSUPPORTED);
  EXPECT_EQ(ReadWholeFile(In("self.tar")), archive);
  EXPECT_EQ(TargetListing(), (std::vector<std::string>{"first", "self.tar"}));
}

TEST_F(UntarExtractTest, NamesThatOnlyLookOddStayInside) {
  // "..x" and ".a" are ordinary names; "." components and a directory that
  // stands for the target itself (as `tar -C dir .` writes "./") are harmless.
  // A name written again, with or without them, is the same entry again: the
  // later one wins.
  const Outcome outcome = Extract(TarDirectoryEntry("./") + TarDirectoryEntry("") + TarFileEntry(".a", "1") +
                                  TarFileEntry("..x", "2") + TarDirectoryEntry("./d/") + TarFileEntry("./d/./f", "3") +
                                  TarDirectoryEntry("d") + TarFileEntry("d//f", "4") + TarEnd());
  ASSERT_TRUE(outcome.ok) << FileErrorText(outcome.error);
  EXPECT_EQ(TargetListing(), (std::vector<std::string>{"..x", ".a", "d/", "d/f"}));
  EXPECT_EQ(ReadWholeFile(In("d/f")), "4");
}

TEST_F(UntarExtractTest, ProgressComesPerHeaderAndPerChunk) {
  RecordingProgress progress;
  const std::string archive = TarFileEntry("big", std::string(150000, 'b')) + TarFileEntry("small", "s") + TarEnd();
  ASSERT_TRUE(Extract(archive, &progress).ok);
  const std::uint64_t total = archive.size();
  const std::uint64_t second = 512 + 150016;  // the second header: after the big entry's padded data
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {
      {total, 0},                   // first header
      {total, 512},                 // three chunks of the big file
      {total, 512 + 65536},
      {total, 512 + 131072},
      {total, second},              // second header
      {total, second + 512},        // its one chunk
      {total, second + 1024},       // the zero record
  };
  EXPECT_EQ(progress.calls, expected);
}

TEST(UntarWalkTest, ProgressComesPerHeaderOnly) {
  ScratchFolder scratch("untar-walk-progress");
  RecordingProgress progress;
  const std::string archive = TarFileEntry("big", std::string(150000, 'b')) + TarEnd();
  ASSERT_TRUE(RunUntar(scratch, archive, std::nullopt, &progress).ok);
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {{archive.size(), 0},
                                                                          {archive.size(), 512 + 150016}};
  EXPECT_EQ(progress.calls, expected);
}

// ---------------------------------------------------------------------------
// Round trips through GNU tar.

struct TreeEntry {
  bool directory = false;
  std::string content;
  std::int64_t mtime = 0;
  bool operator==(const TreeEntry&) const = default;
};

/// Files with contents and times, directories by name only (tar stamps them, the
/// reader does not).
std::map<std::string, TreeEntry> ReadTree(const std::string& root) {
  std::map<std::string, TreeEntry> tree;
  for (const auto& entry : fs::recursive_directory_iterator(Utf8Path(root))) {
    TreeEntry e;
    e.directory = entry.is_directory();
    if (!e.directory) {
      e.content = ReadWholeFile(Utf8Name(entry.path()));
      e.mtime = ModificationTime(Utf8Name(entry.path()));
    }
    tree[Utf8Name(fs::relative(entry.path(), Utf8Path(root)))] = e;
  }
  return tree;
}

void MakeFile(const std::string& path, const std::string& content, std::int64_t mtime) {
  WriteWholeFile(path, content);
  const std::string stamp = "@" + std::to_string(mtime);
  ASSERT_EQ(RunChild("/usr/bin/touch", {"-m", "-d", stamp, path}).exitStatus, 0);
}

std::string Patterned(std::size_t size, unsigned seed) {
  std::string data(size, '\0');
  unsigned x = seed;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    data[i] = static_cast<char>(i % 4096 < 2048 ? 'a' + (x >> 16) % 26 : (x >> 16));
  }
  return data;
}

class UntarRoundTripTest : public ::testing::Test {
 protected:
  UntarRoundTripTest() : scratch_("untar-roundtrip"), source_(scratch_ / "src") {
    fs::create_directories(source_ + "/d1/d2/d3");
    fs::create_directories(source_ + "/empty dir");
    fs::create_directories(Utf8Path(source_ + "/caf\xC3\xA9"));
  }

  void MakeFiles() {
    const std::vector<std::size_t> sizes = {0, 1, 511, 512, 513, 65535, 65536, 65537, 200003};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      MakeFile(source_ + "/d1/size-" + std::to_string(sizes[i]), Patterned(sizes[i], static_cast<unsigned>(i)),
               1000000000 + static_cast<std::int64_t>(i) * 3600);
    }
    MakeFile(source_ + "/d1/d2/d3/deep file with spaces", "deep\n", 1);
    MakeFile(source_ + "/caf\xC3\xA9/na\xC3\xAFve.txt", "utf-8 name\n", 1234567890);
    MakeFile(source_ + "/late", "after 2038\n", 4000000000LL);
    MakeFile(source_ + "/large", Patterned(3 * 1024 * 1024 + 17, 99), 1600000000);
  }

  /// Untar and `tar -xf` of the same archive must give the same tree.
  void ExpectSameAsTar(const std::string& archive) {
    const std::string ours = scratch_ / "ours";
    const std::string theirs = scratch_ / "theirs";
    fs::create_directory(ours);
    fs::create_directory(theirs);
    UntarContext context;
    context.targetFolder = ours;
    context.archive = platform::OpenFile(archive, "rb");
    RecordingCallback callback;
    ASSERT_TRUE(Untar(context, &callback, nullptr)) << FileErrorText();
    ASSERT_EQ(RunChild("/usr/bin/tar", {"-xf", archive, "-C", theirs}).exitStatus, 0);
    const auto ourTree = ReadTree(ours);
    EXPECT_EQ(ourTree, ReadTree(theirs));
    EXPECT_EQ(ourTree, ReadTree(source_));
    // The callback saw what `tar -tf` lists, in the same order.
    std::string listed;
    for (const std::string& event : callback.events) listed += event.substr(2) + "\n";
    EXPECT_EQ(listed, RunChild("/usr/bin/tar", {"--quoting-style=literal", "-tf", archive}).out);
  }

  ScratchFolder scratch_;
  std::string source_;
};

TEST_F(UntarRoundTripTest, UstarArchiveMatchesTar) {
  MakeFiles();
  const std::string archive = scratch_ / "ustar.tar";
  ASSERT_EQ(RunChild("/usr/bin/tar", {"--format=ustar", "--sort=name", "-cf", archive, "-C", source_, "."}).exitStatus,
            0);
  ExpectSameAsTar(archive);
}

TEST_F(UntarRoundTripTest, V7DirectoriesMatchTar) {
  const std::string archive = scratch_ / "v7dirs.tar";
  ASSERT_EQ(RunChild("/usr/bin/tar", {"--format=v7", "--sort=name", "-cf", archive, "-C", source_, "."}).exitStatus, 0);
  ExpectSameAsTar(archive);
}

TEST_F(UntarRoundTripTest, V7RegularFilesAreRefusedAsUnsupported) {
  // GNU tar writes v7 regular files with the old NUL typeflag, which this reader
  // does not take; the refusal must be clean.
  MakeFile(source_ + "/d1/file", "v7 data", 5);
  const std::string archive = scratch_ / "v7.tar";
  ASSERT_EQ(RunChild("/usr/bin/tar", {"--format=v7", "--sort=name", "-cf", archive, "-C", source_, "."}).exitStatus, 0);
  const std::string ours = scratch_ / "ours";
  fs::create_directory(ours);
  UntarContext context;
  context.targetFolder = ours;
  context.archive = platform::OpenFile(archive, "rb");
  RecordingCallback callback;
  EXPECT_FALSE(Untar(context, &callback, nullptr));
  EXPECT_EQ(errno, ARCHIVE_UNSUPPORTED);
  EXPECT_TRUE(fs::is_directory(ours + "/d1"));
  EXPECT_FALSE(PathExists(ours + "/d1/file"));
  // Every directory before the file arrived; the refused file reached no callback.
  EXPECT_EQ(callback.events,
            (std::vector<std::string>{"D:./", "D:./caf\xC3\xA9/", "D:./d1/", "D:./d1/d2/", "D:./d1/d2/d3/"}));
}

}  // namespace
