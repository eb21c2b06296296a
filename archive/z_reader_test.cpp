#include "archive/z_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadWholeFile;
using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

constexpr int kClear = 256;

/// Lays codes out the way compress does: least significant bit first, in groups
/// of `width` bytes that hold eight codes each, a fresh group at every width
/// change and after every CLEAR. It follows the dictionary counter as a decoder
/// does, so that hand-made code sequences land at the widths they must.
class CodePacker {
 public:
  CodePacker(int maxBits, bool blockMode) : maxBits_(maxBits), blockMode_(blockMode) {
    out_ = std::string("\x1F\x9D", 2);
    out_ += static_cast<char>((blockMode ? 0x80 : 0) | maxBits);
    nextFree_ = blockMode ? 257 : 256;
    codeLimit_ = 1 << maxBits;
  }

  CodePacker& Code(int code) {
    if (!groupOpen_ || codesInGroup_ == 8 || clearPending_ || nextFree_ > maxCode_) {
      if (groupOpen_) out_.append(group_);
      if (nextFree_ > maxCode_) {
        ++width_;
        maxCode_ = width_ == maxBits_ ? codeLimit_ : (1 << width_) - 1;
      }
      if (clearPending_) {
        width_ = 9;
        maxCode_ = 511;
        clearPending_ = false;
      }
      group_.assign(static_cast<std::size_t>(width_), '\0');
      codesInGroup_ = 0;
      groupOpen_ = true;
    }
    const int start = codesInGroup_ * width_;
    for (int bit = 0; bit < width_; ++bit) {
      if ((code >> bit) & 1) group_[static_cast<std::size_t>((start + bit) / 8)] |= static_cast<char>(1 << ((start + bit) % 8));
    }
    ++codesInGroup_;
    widths_.push_back(width_);

    if (first_) {
      first_ = false;
    } else if (code == kClear && blockMode_ && !afterClear_) {
      nextFree_ = 256;
      clearPending_ = true;
      afterClear_ = true;
      return *this;
    } else if (nextFree_ < codeLimit_) {
      ++nextFree_;
    }
    afterClear_ = false;
    return *this;
  }

  CodePacker& Codes(std::initializer_list<int> codes) {
    for (int c : codes) Code(c);
    return *this;
  }

  /// The stream, its last group cut to the bytes its codes occupy, as compress
  /// writes it.
  std::string Finish() const {
    std::string bytes = out_;
    if (groupOpen_) bytes.append(group_.substr(0, static_cast<std::size_t>((codesInGroup_ * width_ + 7) / 8)));
    return bytes;
  }

  const std::vector<int>& widths() const { return widths_; }

 private:
  int maxBits_;
  bool blockMode_;
  int codeLimit_;
  int nextFree_;
  int width_ = 9;
  int maxCode_ = 511;
  bool first_ = true;
  bool afterClear_ = false;
  bool clearPending_ = false;
  bool groupOpen_ = false;
  int codesInGroup_ = 0;
  std::string group_;
  std::string out_;
  std::vector<int> widths_;
};

struct Decoded {
  bool ok = false;
  int error = 0;
  std::string bytes;
};

/// Decodes a .Z file through ZReader::Read with the given buffer capacity.
Decoded DecodeFile(const std::string& path, std::size_t capacity = 65536) {
  Decoded result;
  ZReader* reader = ZReader::Open(path);
  if (reader == nullptr) {
    result.error = errno;
    return result;
  }
  std::vector<unsigned char> buffer(capacity);
  for (;;) {
    std::size_t count = 12345;
    errno = 0;
    if (!reader->Read(buffer.data(), capacity, count)) {
      result.error = errno;
      ZReader::Close(reader);
      return result;
    }
    EXPECT_LE(count, capacity);
    if (count == 0) break;
    result.bytes.append(reinterpret_cast<const char*>(buffer.data()), count);
  }
  // The end is reported again on every later call.
  std::size_t count = 1;
  EXPECT_TRUE(reader->Read(buffer.data(), capacity, count));
  EXPECT_EQ(count, 0u);
  ZReader::Close(reader);
  result.ok = true;
  return result;
}

Decoded Decode(const ScratchFolder& scratch, const std::string& stream, std::size_t capacity = 65536) {
  const std::string path = scratch / "input.Z";
  WriteWholeFile(path, stream);
  return DecodeFile(path, capacity);
}

// ---------------------------------------------------------------------------
// Headers and hand-made code streams: one row per rule of the format.

struct StreamCase {
  const char* why;
  std::string stream;
  bool ok;
  int error;             // when !ok
  std::string expected;  // when ok
};

std::string Flags(unsigned char flags) { return std::string("\x1F\x9D", 2) + static_cast<char>(flags); }

std::vector<StreamCase> StreamCases() {
  std::vector<StreamCase> cases = {
      {"an empty file is corrupt", "", false, ARCHIVE_CORRUPT, ""},
      {"one byte is corrupt", "\x1F", false, ARCHIVE_CORRUPT, ""},
      {"two bytes are corrupt", "\x1F\x9D", false, ARCHIVE_CORRUPT, ""},
      {"a gzip magic is corrupt", "\x1F\x8B\x08\x00", false, ARCHIVE_CORRUPT, ""},
      {"plain text is corrupt", "hello world", false, ARCHIVE_CORRUPT, ""},
      {"17 max bits are corrupt", Flags(0x11), false, ARCHIVE_CORRUPT, ""},
      {"31 max bits are corrupt", Flags(0x9F), false, ARCHIVE_CORRUPT, ""},
      {"the header alone is an empty stream", Flags(0x90), true, 0, ""},
      {"0xF0 is block mode with 16 bits", Flags(0xF0), true, 0, ""},
      {"single literals", CodePacker(16, true).Codes({'a', 'b', 'c'}).Finish(), true, 0, "abc"},
      {"a dictionary code", CodePacker(16, true).Codes({'a', 'b', 257}).Finish(), true, 0, "abab"},
      {"a code equal to the next free code (KwKwK)", CodePacker(16, true).Codes({'a', 257}).Finish(), true, 0, "aaa"},
      {"KwKwK after a longer string", CodePacker(16, true).Codes({'a', 'b', 257, 259}).Finish(), true, 0,
       "ab" "ab" "aba"},
      {"a code above the next free code decodes as the next free code",
       CodePacker(16, true).Codes({'a', 'b', 400}).Finish(), true, 0, "abbb"},
      {"the largest code decodes as the next free code", CodePacker(16, true).Codes({'x', 'y', 511}).Finish(), true, 0,
       "xyyy"},
      {"the first code keeps only its low byte", CodePacker(16, true).Codes({0x141, 'b'}).Finish(), true, 0, "Ab"},
      {"with block mode off, 256 is an ordinary code", CodePacker(16, false).Codes({'a', 'b', 256}).Finish(), true, 0,
       "abab"},
      {"with block mode off, 256 right away is KwKwK", CodePacker(16, false).Codes({'a', 256}).Finish(), true, 0,
       "aaa"},
      {"CLEAR starts a new dictionary at 257",
       CodePacker(16, true).Codes({'a', 'b', kClear, 'x', 'y', 257}).Finish(), true, 0, "ab" "xy" "xy"},
      {"two CLEARs: the second is the next free code 256",
       CodePacker(16, true).Codes({'a', 'b', kClear, kClear, 'c', 257}).Finish(), true, 0, "ab" "bb" "c" "bbc"},
      {"a CLEAR as the last code ends the stream", CodePacker(16, true).Codes({'a', 'b', kClear}).Finish(), true, 0,
       "ab"},
      {"max bits below 9 create no entries: codes past 256 repeat the last string",
       CodePacker(8, true).Codes({'a', 'b', 257, 'c', 257}).Finish(), true, 0, "a" "b" "bb" "c" "cc"},
      {"max bits 0 still decodes 9-bit literals", CodePacker(0, false).Codes({'z', 'y', 256}).Finish(), true, 0,
       "zyyy"},
  };
  // Bits 5 and 6 of the flags are not examined.
  std::string flagged = CodePacker(16, true).Codes({'f', 'l', 'a', 'g', 257}).Finish();
  flagged[2] = static_cast<char>(0xF0);
  cases.push_back({"bits 5 and 6 of the flags are ignored", flagged, true, 0, "flagfl"});
  return cases;
}

TEST(ZReaderTest, DecodesHandMadeStreams) {
  for (const StreamCase& c : StreamCases()) {
    SCOPED_TRACE(c.why);
    ScratchFolder scratch("zreader-cases");
    const Decoded decoded = Decode(scratch, c.stream);
    EXPECT_EQ(decoded.ok, c.ok);
    if (c.ok) {
      EXPECT_EQ(decoded.bytes, c.expected);
    } else {
      EXPECT_EQ(decoded.error, c.error) << FileErrorText(decoded.error);
    }
  }
}

TEST(ZReaderTest, WidthGrowsWhenTheNextFreeCodePassesMaxCode) {
  // 'A' then 255 literals fill entries 257..511; the next code is 10 bits wide.
  CodePacker packer(16, true);
  std::string expected = "A";
  packer.Code('A');
  for (int i = 0; i < 255; ++i) {
    packer.Code(i);
    expected += static_cast<char>(i);
  }
  packer.Codes({258, 511});
  // Entry 257 + j holds bytes j-1, j; 258 was made from "\0" + "\1".
  expected += std::string("\x00\x01", 2) + std::string("\xFD\xFE", 2);
  ASSERT_EQ(packer.widths().back(), 10);
  ScratchFolder scratch("zreader-width");
  EXPECT_EQ(Decode(scratch, packer.Finish()).bytes, expected);
}

TEST(ZReaderTest, MaxBitsNineStillGrowsToTenButMakesNoEntries) {
  CodePacker packer(9, true);
  std::string expected = "A";
  packer.Code('A');
  for (int i = 0; i < 255; ++i) {
    packer.Code(i);
    expected += static_cast<char>(i);
  }
  // The dictionary is full at 512 and the next free code stays there: 258 is
  // still "\0\1", and 'q' makes no entry 512, so 512 (like 1023) repeats the
  // last string plus its first byte.
  packer.Codes({258, 'q', 512, 'r', 1023});
  expected += std::string("\x00\x01", 2) + "q" + "qq" + "r" + "rr";
  EXPECT_EQ(packer.widths().back(), 10);
  ScratchFolder scratch("zreader-maxbits9");
  EXPECT_EQ(Decode(scratch, packer.Finish()).bytes, expected);
}

TEST(ZReaderTest, MaxBitsBelowNineKeepsNineBitCodes) {
  CodePacker packer(8, true);
  std::string expected;
  for (int i = 0; i < 700; ++i) {
    packer.Code(i % 256);
    expected += static_cast<char>(i % 256);
  }
  EXPECT_EQ(packer.widths().back(), 9);
  ScratchFolder scratch("zreader-maxbits8");
  EXPECT_EQ(Decode(scratch, packer.Finish()).bytes, expected);
}

TEST(ZReaderTest, ClearReturnsToNineBits) {
  CodePacker packer(16, true);
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    packer.Code('a' + i % 26);
    expected += static_cast<char>('a' + i % 26);
  }
  ASSERT_EQ(packer.widths().back(), 10);
  packer.Codes({kClear, 'x', 'y', 257});
  expected += "xyxy";
  EXPECT_EQ(packer.widths().back(), 9);
  ScratchFolder scratch("zreader-clear");
  EXPECT_EQ(Decode(scratch, packer.Finish()).bytes, expected);
}

TEST(ZReaderTest, StreamCutInsideAGroupYieldsTheWholeCodesRead) {
  // Eight 9-bit literals fill one 9-byte group; 5 bytes hold four whole codes.
  const std::string full = CodePacker(16, true).Codes({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}).Finish();
  ASSERT_EQ(full.size(), 3u + 9u);
  ScratchFolder scratch("zreader-cut");
  EXPECT_EQ(Decode(scratch, full.substr(0, 3 + 5)).bytes, "abcd");
  EXPECT_EQ(Decode(scratch, full.substr(0, 3 + 2)).bytes, "a");
  // A single byte still yields its code; the missing bit is the zero the fresh
  // record holds.
  EXPECT_EQ(Decode(scratch, full.substr(0, 3 + 1)).bytes, "a");
}

TEST(ZReaderTest, ASingleByteLastGroupTakesItsHighBitsFromTheOldGroup) {
  // The second group starts with code 257, so its byte 1 has bit 0 set. A last
  // group of one byte, 'q', then reads as 0x100 | 'q' = 369, above the next free
  // code (272): the last string again plus its first byte.
  CodePacker packer(16, true);
  packer.Codes({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
  packer.Codes({257, 'i', 'j', 'k', 'l', 'm', 'n', 'o'});
  const std::string stream = packer.Finish() + "q";
  ScratchFolder scratch("zreader-lastbyte");
  EXPECT_EQ(Decode(scratch, stream).bytes, "abcdefgh" "ab" "ijklmno" "oo");
}

/// 'a' followed by codes 257, 258, ... : each is the next free code, so code
/// 257 + k decodes to k + 2 bytes of 'a'.
CodePacker RunOfA(int lastCode) {
  CodePacker packer(16, true);
  packer.Code('a');
  for (int code = 257; code <= lastCode; ++code) packer.Code(code);
  return packer;
}

TEST(ZReaderTest, StringsStraddleTheOutputBlock) {
  // Lengths 1, 2, ..., 362 add up to 65,703; the string of 362 bytes starts at
  // 65,341 and crosses the 65,536-byte block.
  ScratchFolder scratch("zreader-straddle");
  WriteWholeFile(scratch / "run.Z", RunOfA(257 + 360).Finish());
  ZReader* reader = ZReader::Open(scratch / "run.Z");
  ASSERT_NE(reader, nullptr);
  std::vector<unsigned char> block(65536);
  std::size_t count = 0;
  ASSERT_TRUE(reader->Read(block.data(), block.size(), count));
  EXPECT_EQ(count, 65536u);
  EXPECT_EQ(std::string(block.begin(), block.end()), std::string(65536, 'a'));
  ASSERT_TRUE(reader->Read(block.data(), block.size(), count));
  EXPECT_EQ(count, 65703u - 65536u);
  ASSERT_TRUE(reader->Read(block.data(), block.size(), count));
  EXPECT_EQ(count, 0u);
  ZReader::Close(reader);
}

TEST(ZReaderTest, StackHoldsExactly8000Bytes) {
  ScratchFolder scratch("zreader-stack");
  // Code 257 + 7998 is a string of 8,000 bytes: it fits.
  WriteWholeFile(scratch / "fits.Z", RunOfA(257 + 7998).Finish());
  const Decoded fits = DecodeFile(scratch / "fits.Z");
  ASSERT_TRUE(fits.ok);
  EXPECT_EQ(fits.bytes.size(), 8001u * 8000u / 2u);
  // One more byte does not.
  WriteWholeFile(scratch / "overflows.Z", RunOfA(257 + 7999).Finish());
  const Decoded overflows = DecodeFile(scratch / "overflows.Z");
  EXPECT_FALSE(overflows.ok);
  EXPECT_EQ(overflows.error, ENOMEM);
}

TEST(ZReaderTest, PrefixCycleEndsAtTheStackBound) {
  // 'a' 'b' then 259 (above the next free code 258) and 259 again: the second
  // makes entry 259 its own prefix. Asking for 259 afterwards would loop for ever.
  ScratchFolder scratch("zreader-cycle");
  const Decoded decoded = Decode(scratch, CodePacker(16, true).Codes({'a', 'b', 259, 259, 'c', 259}).Finish());
  EXPECT_FALSE(decoded.ok);
  EXPECT_EQ(decoded.error, ENOMEM);
}

TEST(ZReaderTest, ReadRejectsAnEmptyBuffer) {
  ScratchFolder scratch("zreader-capacity");
  WriteWholeFile(scratch / "a.Z", CodePacker(16, true).Codes({'a'}).Finish());
  ZReader* reader = ZReader::Open(scratch / "a.Z");
  ASSERT_NE(reader, nullptr);
  unsigned char byte = 0;
  std::size_t count = 7;
  EXPECT_FALSE(reader->Read(&byte, 0, count));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(count, 0u);
  ZReader::Close(reader);
}

TEST(ZReaderTest, OpenReportsTheRuntimeError) {
  ScratchFolder scratch("zreader-open");
  errno = 0;
  EXPECT_EQ(ZReader::Open(scratch / "missing.Z"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  ZReader::Close(nullptr);
}

TEST(ZReaderTest, OpenMeasuresTheSource) {
  ScratchFolder scratch("zreader-size");
  const std::string stream = RunOfA(400).Finish();
  WriteWholeFile(scratch / "a.Z", stream);
  ZReader* reader = ZReader::Open(scratch / "a.Z");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->TotalSize(), static_cast<std::int64_t>(stream.size()));
  EXPECT_EQ(reader->SourcePosition(), 0);
  ZReader::Close(reader);
}

// ---------------------------------------------------------------------------
// Real streams from compress.

/// Deterministic input mixing text, binary noise, runs and structured records.
std::string MixedInput(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"archive", "virus", "data", "rescue", "image", "boot", "kernel", "module",
                                       "signature", "update", "the", "of", "and", "0x1F9D", "\n", "\t"};
  std::string data;
  data.reserve(size);
  unsigned x = seed;
  const auto next = [&x] {
    x = x * 1664525u + 1013904223u;
    return x >> 8;
  };
  while (data.size() < size) {
    const unsigned kind = next() % 4;
    const std::size_t length = 1 + next() % 30000;
    for (std::size_t i = 0; i < length && data.size() < size; ++i) {
      switch (kind) {
        case 0:
          data += kWords[next() % 16];
          data += ' ';
          break;
        case 1:
          data += static_cast<char>(next());
          break;
        case 2:
          data += static_cast<char>(kind * 31 + length % 7);
          break;
        default:
          data += static_cast<char>(i % 64 == 0 ? next() : i % 251);
          break;
      }
    }
  }
  data.resize(size);
  return data;
}

/// `compress -b bits` of `data`, through files, as the real program writes it.
std::string Compress(const ScratchFolder& scratch, const std::string& data, int bits) {
  const std::string plain = scratch / ("plain-" + std::to_string(bits));
  WriteWholeFile(plain, data);
  const auto result = RunChild("/usr/bin/compress", {"-c", "-b", std::to_string(bits), plain});
  // compress answers 2 when the output did not shrink; it is still written.
  EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 2) << result.err;
  return result.out;
}

TEST(ZReaderCompressTest, DecodesEveryMaxBitsSetting) {
  ScratchFolder scratch("zreader-compress");
  const std::string data = MixedInput(3 * 1024 * 1024 + 5, 7);
  for (int bits = 10; bits <= 16; ++bits) {
    SCOPED_TRACE("-b " + std::to_string(bits));
    const std::string stream = Compress(scratch, data, bits);
    ASSERT_EQ(static_cast<unsigned char>(stream[2]), 0x80 | bits);
    const std::string path = scratch / "stream.Z";
    WriteWholeFile(path, stream);
    const std::string destination = scratch / "out";
    ASSERT_TRUE(DecompressFile(destination, nullptr, path)) << FileErrorText();
    const std::string decoded = ReadWholeFile(destination);
    EXPECT_TRUE(decoded == data) << "decoded " << decoded.size() << " bytes of " << data.size();
    EXPECT_TRUE(decoded == RunChild("/usr/bin/uncompress", {"-c", path}).out);
  }
}

TEST(ZReaderCompressTest, NineBitsDecodeWhileTheTableHasRoom) {
  ScratchFolder scratch("zreader-b9");
  const std::string data = "a short text of few distinct pairs, a short text";
  const std::string stream = Compress(scratch, data, 9);
  ASSERT_EQ(static_cast<unsigned char>(stream[2]), 0x89);
  WriteWholeFile(scratch / "s.Z", stream);
  EXPECT_EQ(DecodeFile(scratch / "s.Z").bytes, data);
}

TEST(ZReaderCompressTest, NineBitStreamsThatFillTheTableNoDecoderReads) {
  // compress -b 9 stays at 9 bits once its table is full, while the format's
  // decoders (this one, and compress -d itself) move on to 10 bits. Such a
  // stream is undecodable everywhere; this documents the peer, not a fault here.
  ScratchFolder scratch("zreader-b9-full");
  const std::string data = MixedInput(200000, 13);
  WriteWholeFile(scratch / "s.Z", Compress(scratch, data, 9));
  const Decoded ours = DecodeFile(scratch / "s.Z");
  EXPECT_FALSE(ours.ok && ours.bytes == data);
  const auto theirs = RunChild("/usr/bin/compress", {"-d", "-c", scratch / "s.Z"});
  EXPECT_FALSE(theirs.exitStatus == 0 && theirs.out == data);
}

TEST(ZReaderCompressTest, AnyBufferSizeGivesTheSameBytes) {
  ScratchFolder scratch("zreader-capacities");
  const std::string data = MixedInput(300000, 11);
  WriteWholeFile(scratch / "s.Z", Compress(scratch, data, 12));
  for (std::size_t capacity : {1u, 2u, 3u, 15u, 16u, 17u, 4095u, 65535u, 65536u, 65537u, 1000000u}) {
    SCOPED_TRACE(capacity);
    const Decoded decoded = DecodeFile(scratch / "s.Z", capacity);
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.bytes == data);
  }
}

TEST(ZReaderCompressTest, EmptyAndTinyInputs) {
  ScratchFolder scratch("zreader-tiny");
  for (const std::string& data : {std::string(), std::string("x"), std::string("xx"), std::string(1000, 'r')}) {
    SCOPED_TRACE(data.size());
    WriteWholeFile(scratch / "t.Z", Compress(scratch, data, 16));
    ASSERT_TRUE(DecompressFile(scratch / "t.out", nullptr, scratch / "t.Z")) << FileErrorText();
    EXPECT_TRUE(PathExists(scratch / "t.out"));
    EXPECT_EQ(ReadWholeFile(scratch / "t.out"), data);
  }
}

TEST(ZReaderCompressTest, ALongRunOverflowsTheStackAndLeavesNoFile) {
  // compress codes a run with strings one byte longer each time; past about
  // 32 million bytes one of them exceeds the 8,000-byte decode stack.
  ScratchFolder scratch("zreader-longrun");
  WriteWholeFile(scratch / "zeros", std::string(33000000, '\0'));
  ASSERT_EQ(RunChild("/usr/bin/compress", {"-f", "-b", "16", scratch / "zeros"}).exitStatus, 0);
  errno = 0;
  EXPECT_FALSE(DecompressFile(scratch / "zeros.out", nullptr, scratch / "zeros.Z"));
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_FALSE(PathExists(scratch / "zeros.out"));
}

// ---------------------------------------------------------------------------
// DecompressFile as a whole.

class RecordingProgress : public IFileProgressCallback {
 public:
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  void OnProgress(std::uint64_t total, std::uint64_t done) override { calls.emplace_back(total, done); }
};

TEST(DecompressFileTest, ReportsProgressPerOutputBlock) {
  ScratchFolder scratch("decompress-progress");
  const std::string data = MixedInput(1000000, 3);
  const std::string stream = Compress(scratch, data, 16);
  WriteWholeFile(scratch / "p.Z", stream);
  RecordingProgress progress;
  ASSERT_TRUE(DecompressFile(scratch / "p.out", &progress, scratch / "p.Z"));
  ASSERT_EQ(progress.calls.size(), (data.size() + 65535) / 65536);
  std::uint64_t previous = 0;
  for (const auto& [total, done] : progress.calls) {
    EXPECT_EQ(total, stream.size());
    EXPECT_GE(done, previous);
    EXPECT_LE(done, total);
    previous = done;
  }
  EXPECT_LT(progress.calls.front().second, stream.size());
  EXPECT_EQ(progress.calls.back().second, stream.size());
}

TEST(DecompressFileTest, HeaderOnlyMakesAnEmptyFile) {
  ScratchFolder scratch("decompress-header");
  WriteWholeFile(scratch / "h.Z", Flags(0x90));
  ASSERT_TRUE(DecompressFile(scratch / "h.out", nullptr, scratch / "h.Z"));
  EXPECT_TRUE(PathExists(scratch / "h.out"));
  EXPECT_EQ(ReadWholeFile(scratch / "h.out"), "");
}

TEST(DecompressFileTest, CorruptHeaderLeavesNoDestination) {
  ScratchFolder scratch("decompress-corrupt");
  for (const std::string& stream : {std::string(), std::string("\x1F"), std::string("\x1F\x9D"), Flags(0x11),
                                    std::string("\x1F\x8B\x08\x00\x00")}) {
    WriteWholeFile(scratch / "c.Z", stream);
    errno = 0;
    EXPECT_FALSE(DecompressFile(scratch / "c.out", nullptr, scratch / "c.Z"));
    EXPECT_EQ(FileErrorText(), "The archive is corrupt");
    EXPECT_FALSE(PathExists(scratch / "c.out"));
  }
}

TEST(DecompressFileTest, MissingSourceKeepsTheRuntimeError) {
  ScratchFolder scratch("decompress-missing");
  EXPECT_FALSE(DecompressFile(scratch / "out", nullptr, scratch / "missing.Z"));
  EXPECT_EQ(FileErrorText(), "No such file or directory");
  EXPECT_FALSE(PathExists(scratch / "out"));
}

TEST(DecompressFileTest, UnreadableSourceIsNoEmptyStream) {
  if (!testing_support::FoldersAsFilesGiveEISDIR()) {
    GTEST_SKIP() << "opening a folder fails with EACCES here, not EISDIR";
  }
  // Reading a directory fails; that is no cut-short stream to report as success.
  ScratchFolder scratch("decompress-unreadable");
  EXPECT_FALSE(DecompressFile(scratch / "out", nullptr, scratch.path()));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(PathExists(scratch / "out"));
}

TEST(DecompressFileTest, DestinationThatCannotBeCreated) {
  ScratchFolder scratch("decompress-nodest");
  WriteWholeFile(scratch / "a.Z", CodePacker(16, true).Codes({'a'}).Finish());
  EXPECT_FALSE(DecompressFile(scratch / "no/such/folder/out", nullptr, scratch / "a.Z"));
  EXPECT_EQ(errno, ENOENT);
}

TEST(DecompressFileTest, ShortWriteDeletesTheDestination) {
  if (!testing_support::HasFullDevice()) GTEST_SKIP() << "no /dev/full here, the device that is always full";
  if (!testing_support::CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  // The destination is a link to a device that is always full; the failure path
  // removes the link, never the device.
  ScratchFolder scratch("decompress-full");
  WriteWholeFile(scratch / "a.Z", Compress(scratch, MixedInput(200000, 5), 16));
  std::filesystem::create_symlink("/dev/full", scratch / "out");
  EXPECT_FALSE(DecompressFile(scratch / "out", nullptr, scratch / "a.Z"));
  EXPECT_EQ(FileErrorText(), "No space left on device");
  EXPECT_FALSE(PathExists(scratch / "out"));
  EXPECT_TRUE(PathExists("/dev/full"));
}

TEST(DecompressFileTest, FailureAtCloseIsNoSuccess) {
  if (!testing_support::HasFullDevice()) GTEST_SKIP() << "no /dev/full here, the device that is always full";
  if (!testing_support::CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  // A few bytes stay in the stream's buffer until the file is closed; when they
  // cannot be written then, the file is lost and the call must say so.
  ScratchFolder scratch("decompress-close");
  WriteWholeFile(scratch / "a.Z", CodePacker(16, true).Codes({'s', 'm', 'a', 'l', 'l'}).Finish());
  std::filesystem::create_symlink("/dev/full", scratch / "out");
  EXPECT_FALSE(DecompressFile(scratch / "out", nullptr, scratch / "a.Z"));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(PathExists(scratch / "out"));
  EXPECT_TRUE(PathExists("/dev/full"));
}

TEST(DecompressFileTest, StackOverflowDeletesThePartialDestination) {
  // More than one block of good output, then a prefix cycle.
  CodePacker packer = RunOfA(257 + 400);
  // After 'b' and 'c' the next free code is 660; 661 twice makes 661 its own prefix.
  packer.Codes({'b', 'c', 661, 661, 'd', 661});
  ScratchFolder scratch("decompress-overflow");
  WriteWholeFile(scratch / "a.Z", packer.Finish());
  errno = 0;
  EXPECT_FALSE(DecompressFile(scratch / "out", nullptr, scratch / "a.Z"));
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_FALSE(PathExists(scratch / "out"));
}

TEST(DecompressFileTest, TruncatedStreamKeepsWhatWasDecoded) {
  ScratchFolder scratch("decompress-truncated");
  const std::string data = MixedInput(500000, 9);
  const std::string stream = Compress(scratch, data, 16);
  WriteWholeFile(scratch / "t.Z", stream.substr(0, stream.size() / 2));
  ASSERT_TRUE(DecompressFile(scratch / "t.out", nullptr, scratch / "t.Z"));
  const std::string decoded = ReadWholeFile(scratch / "t.out");
  EXPECT_GT(decoded.size(), 0u);
  EXPECT_LT(decoded.size(), data.size());
  EXPECT_TRUE(decoded == data.substr(0, decoded.size()));
}

TEST(DecompressFileTest, ReplacesAnExistingDestination) {
  ScratchFolder scratch("decompress-replace");
  WriteWholeFile(scratch / "out", std::string(100000, 'o'));
  WriteWholeFile(scratch / "a.Z", CodePacker(16, true).Codes({'n', 'e', 'w'}).Finish());
  ASSERT_TRUE(DecompressFile(scratch / "out", nullptr, scratch / "a.Z"));
  EXPECT_EQ(ReadWholeFile(scratch / "out"), "new");
}

}  // namespace
