#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/file_progress.h"

/// Resumable decoder of the .Z format of Unix `compress`: an LZW code stream
/// behind a three-byte header (0x1F 0x9D, flags). Bytes come out block by block;
/// failures leave their reason in `errno` (`ARCHIVE_CORRUPT` for a bad header,
/// ENOMEM for a string longer than the decode stack, the runtime's number for an
/// unreadable source).
///
/// The record holds every table, so decoding allocates nothing after `Open`.
class ZReader {
 public:
  /// Opens `sourcePath` and measures it. Returns nullptr with `errno` set when the
  /// file cannot be opened, positioned or measured, or the record cannot be had.
  static ZReader* Open(const std::string& sourcePath);

  /// Closes the source and releases the record; nullptr is allowed.
  static void Close(ZReader* reader);

  /// Decodes up to `capacity` (at least 1) bytes into `buffer`. True with `count`
  /// from 1 to `capacity`, or true with `count` 0 at the end of the stream; false
  /// with `errno` set, after which the record is only fit for `Close`.
  bool Read(unsigned char* buffer, std::size_t capacity, std::size_t& count);

  /// Length of the source file in bytes, measured at `Open`.
  std::int64_t TotalSize() const { return totalSize_; }

  /// How far the source has been consumed, or a negative number when unknown.
  std::int64_t SourcePosition() const;

  ZReader(const ZReader&) = delete;
  ZReader& operator=(const ZReader&) = delete;

 private:
  ZReader() = default;
  ~ZReader() = default;

  enum State : unsigned char { kStart = 0, kMiddle, kEnd };
  static constexpr int kTableSize = 65536;
  static constexpr int kStackSize = 8000;
  static constexpr int kGroupSize = 16;
  static constexpr std::size_t kShortCopy = 16;
  static constexpr std::size_t kInputBufferSize = 65536;

  bool ReadHeader();
  std::size_t TakeInput(unsigned char* to, std::size_t size);

  // Zero-filled by `Open`: the suffix and prefix entries of codes no string ever
  // defined read as 0, which keeps hostile codes harmless.
  std::FILE* input_;
  std::int64_t totalSize_;
  State state_;
  std::uint32_t width_;
  std::uint32_t maxBits_;
  std::int32_t maxCode_;
  std::int32_t codeLimit_;
  unsigned char suffix_[kTableSize];
  // Filled from the end downwards, so that a finished string lies in reading
  // order at stack_[kStackSize - stackTop_] and leaves with one copy. The bytes
  // past kStackSize are no stack room: a short string is copied out as 16 bytes.
  unsigned char stack_[kStackSize + kShortCopy];
  std::uint16_t prefix_[kTableSize];
  std::int32_t nextFree_;
  unsigned char blockMode_;
  unsigned char clearPending_;
  std::int32_t stackTop_;
  std::int32_t firstChar_;
  // The working code and the incoming code need not outlive a call: a call
  // that stops early stops with a string on the stack or at the end.
  std::int32_t oldCode_;
  std::uint32_t bitPosition_;
  std::int32_t groupBitCount_;
  // Two spare bytes after the group let a code be gathered with one three-byte
  // load; they stay zero and never reach a code's bits.
  unsigned char group_[kGroupSize + 2];
  // Groups are taken from this read-ahead rather than by one stream call each,
  // which would cost more than decoding the group. The spare bytes at its end
  // let a group be copied as a fixed 16 bytes wherever it starts.
  unsigned char inputBuffer_[kInputBufferSize + kGroupSize];
  std::size_t inputNext_;
  std::size_t inputEnd_;
};

/// Decodes the .Z file `sourcePath` into `destinationPath` (created or
/// truncated). On failure the destination is deleted when it had been created,
/// and `errno` tells why. `progress` (may be nullptr) hears of every output block.
bool DecompressFile(const std::string& destinationPath, IFileProgressCallback* progress,
                    const std::string& sourcePath);
