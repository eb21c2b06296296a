#include "verify/file_checksum.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/support/child_process.h"
#include "verify/file_entry.h"

namespace {

using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

/// The checksum `sha1sum` reports for a file.
std::string PeerChecksum(const std::string& path) {
  const auto result = RunChild("/usr/bin/sha1sum", {path});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  return result.out.substr(0, result.out.find(' '));
}

/// Deterministic bytes that are not all alike.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 16);
  }
  return bytes;
}

TEST(FileChecksumTest, MatchesTheChecksumOfSha1sumForAnySize) {
  ScratchFolder dir("checksum");
  const std::size_t sizes[] = {0, 1, 4095, 4096, 4097, 8192, 3 * 4096 + 17, 1 << 20};
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string name = "f" + std::to_string(size) + ".bin";
    WriteWholeFile(dir / name, Pattern(size));
    file_entry entry{name, 0, PeerChecksum(dir / name)};
    EXPECT_EQ(entry.check_file(dir.path() + "/"), 0);
  }
}

TEST(FileChecksumTest, AnyOtherChecksumDiffers) {
  ScratchFolder dir("checksum");
  WriteWholeFile(dir / "f", "content\n");
  const std::string right = PeerChecksum(dir / "f");
  std::string upper = right;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string lastDigit = right;
  lastDigit.back() = lastDigit.back() == '0' ? '1' : '0';
  const std::string others[] = {"", right.substr(0, 39), right + "0", upper, lastDigit};
  for (const std::string& checksum : others) {
    SCOPED_TRACE(checksum);
    EXPECT_EQ((file_entry{"f", 0, checksum}.check_file(dir.path() + "/")), 1);
  }
}

TEST(FileChecksumTest, AFileThatCannotBeReadGivesTwo) {
  ScratchFolder dir("checksum");
  testing_support::WriteWholeFile(dir / "present", "");
  EXPECT_EQ((file_entry{"missing", 0, ""}.check_file(dir.path() + "/")), 2);
  EXPECT_EQ((file_entry{"present", 0, ""}.check_file(dir.path() + "/no-such-folder/")), 2);
  // A folder opens on this platform, but reading it fails: that is no file whose
  // content happens to differ, least of all the empty file's checksum.
  const std::string emptyChecksum = PeerChecksum(dir / "present");
  EXPECT_EQ((file_entry{"", 0, emptyChecksum}.check_file(dir.path() + "/")), 2);
}

TEST(FileChecksumTest, NameIsJoinedToTheBaseAndItsBackslashesAreSeparators) {
  ScratchFolder dir("checksum");
  std::filesystem::create_directories(dir / "sub/deeper");
  WriteWholeFile(dir / "sub/deeper/f.tar", "in a subfolder");
  WriteWholeFile(dir / "plain", "next to the base");
  const std::string inSub = PeerChecksum(dir / "sub/deeper/f.tar");
  const std::string plain = PeerChecksum(dir / "plain");
  EXPECT_EQ((file_entry{".\\sub\\deeper\\f.tar", 0, inSub}.check_file(dir.path() + "/")), 0);
  EXPECT_EQ((file_entry{"sub/deeper/f.tar", 0, inSub}.check_file(dir.path() + "/")), 0);
  EXPECT_EQ((file_entry{".\\plain", 0, plain}.check_file(dir.path() + "/")), 0);
  // No separator is inserted between the base and the name.
  EXPECT_EQ((file_entry{"plain", 0, plain}.check_file(dir.path())), 2);
  EXPECT_EQ((file_entry{"/plain", 0, plain}.check_file(dir.path())), 0);
}

TEST(FileChecksumTest, DigestStreamStartsAtTheCurrentPosition) {
  ScratchFolder dir("checksum");
  const std::string bytes = Pattern(10000);
  WriteWholeFile(dir / "tail", bytes.substr(1234));
  std::istringstream in(bytes);
  in.seekg(1234);
  EXPECT_EQ(verify::hex_encode(verify::digest_stream(in)), PeerChecksum(dir / "tail"));
  // An exhausted stream digests as empty input.
  WriteWholeFile(dir / "empty", "");
  EXPECT_EQ(verify::hex_encode(verify::digest_stream(in)), PeerChecksum(dir / "empty"));
}

TEST(FileChecksumTest, HexEncodeWritesTwoLowerCaseDigitsPerByte) {
  const struct {
    std::string bytes, text;
  } rows[] = {
      {"", ""}, {std::string(1, '\0'), "00"}, {"\x0f\xf0", "0ff0"}, {"\xff\x80\x7f\x01", "ff807f01"}, {"abc", "616263"},
  };
  for (const auto& row : rows) EXPECT_EQ(verify::hex_encode(row.bytes), row.text);
}

}  // namespace
