#include "archive/z_reader.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "common/error_text.h"
#include "platform/file.h"
#include "platform/interrupt.h"

namespace {

constexpr int kClearCode = 256;
constexpr int kFirstWidth = 9;
constexpr std::size_t kBlockSize = 65536;

// A failed read may leave errno untouched (a stream already in error); the
// caller must still see a reason.
bool FailWithStreamError() {
  if (errno == 0) errno = EIO;
  return false;
}

}  // namespace

ZReader* ZReader::Open(const std::string& sourcePath) {
  // Value-initialisation zero-fills every table of the record.
  ZReader* reader = new (std::nothrow) ZReader();
  if (reader == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::FILE* input = platform::OpenFile(sourcePath, "rb");
  if (input == nullptr) {
    delete reader;
    return nullptr;
  }
  std::int64_t size = -1;
  if (platform::SeekFile(input, 0, SEEK_END) != 0 || (size = platform::TellFile(input)) < 0 ||
      platform::SeekFile(input, 0, SEEK_SET) != 0) {
    const int error = errno;
    std::fclose(input);
    delete reader;
    errno = error;
    return nullptr;
  }
  reader->input_ = input;
  reader->totalSize_ = size;
  reader->state_ = kStart;
  return reader;
}

void ZReader::Close(ZReader* reader) {
  if (reader == nullptr) return;
  if (reader->input_ != nullptr) std::fclose(reader->input_);
  delete reader;
}

// The read-ahead is invisible from outside: the position counts only the bytes
// that decoding has taken.
std::int64_t ZReader::SourcePosition() const {
  const std::int64_t position = platform::TellFile(input_);
  if (position < 0) return position;
  return position - static_cast<std::int64_t>(inputEnd_ - inputNext_);
}

// Hands out up to `size` bytes the way fread on the stream would: fewer only at
// the end of the file or after a read error.
std::size_t ZReader::TakeInput(unsigned char* to, std::size_t size) {
  std::size_t taken = 0;
  for (;;) {
    const std::size_t available = inputEnd_ - inputNext_;
    const std::size_t n = available < size - taken ? available : size - taken;
    std::memcpy(to + taken, inputBuffer_ + inputNext_, n);
    inputNext_ += n;
    taken += n;
    if (taken == size) return taken;
    inputNext_ = 0;
    inputEnd_ = std::fread(inputBuffer_, 1, kInputBufferSize, input_);
    if (inputEnd_ == 0) return taken;
  }
}

bool ZReader::ReadHeader() {
  state_ = kMiddle;
  unsigned char header[3];
  const std::size_t got = TakeInput(header, sizeof header);
  if (got < sizeof header && std::ferror(input_)) return FailWithStreamError();
  if (got < sizeof header || header[0] != 0x1F || header[1] != 0x9D || (header[2] & 0x1F) > 16) {
    errno = ARCHIVE_CORRUPT;
    return false;
  }
  maxBits_ = header[2] & 0x1F;
  blockMode_ = (header[2] & 0x80) != 0;
  codeLimit_ = 1 << maxBits_;
  width_ = kFirstWidth;
  maxCode_ = (1 << kFirstWidth) - 1;
  for (int c = 0; c < 256; ++c) {
    prefix_[c] = 0;
    suffix_[c] = static_cast<unsigned char>(c);
  }
  nextFree_ = blockMode_ ? kClearCode + 1 : kClearCode;
  return true;
}

bool ZReader::Read(unsigned char* buffer, std::size_t capacity, std::size_t& count) {
  count = 0;
  if (buffer == nullptr || capacity == 0) {
    errno = EINVAL;
    return false;
  }
  if (state_ == kEnd) return true;
  const bool starting = state_ == kStart;
  if (starting && !ReadHeader()) return false;

  // The decoding state lives in locals while this call runs: the output buffer
  // may alias anything, and members would be reloaded after every stored byte.
  std::size_t done = 0;
  std::int32_t top = stackTop_;
  std::int32_t nextFree = nextFree_;
  std::int32_t oldCode = oldCode_;
  std::int32_t firstChar = firstChar_;
  std::uint32_t width = width_;
  std::int32_t maxCode = maxCode_;
  std::uint32_t position = bitPosition_;
  std::int32_t groupBits = groupBitCount_;
  bool clearPending = clearPending_ != 0;
  const std::int32_t codeLimit = codeLimit_;
  const std::uint32_t maxBits = maxBits_;
  const bool blockMode = blockMode_ != 0;
  unsigned char* const stackEnd = stack_ + kStackSize;

  const auto save = [&] {
    count = done;
    stackTop_ = top;
    nextFree_ = nextFree;
    oldCode_ = oldCode;
    firstChar_ = firstChar;
    width_ = width;
    maxCode_ = maxCode;
    bitPosition_ = position;
    groupBitCount_ = groupBits;
    clearPending_ = clearPending ? 1 : 0;
  };

  // The code request. A new group is due when the current one is used up, after
  // a CLEAR, or when the next free code passes max code; the last two force the
  // first by emptying the group count, so the loop tests one condition per code.
  // The width never exceeds 16: it grows only while the next free code passes
  // max code, and max code becomes the code limit (at most 65,536) once the width
  // reaches max bits; with max bits 9 it stops at 10, below 9 it never grows.
  const auto readGroup = [&]() -> bool {
    // Every width change starts a fresh group: compress pads each group to a
    // whole number of codes, and the rest of the old group is skipped.
    if (nextFree > maxCode) {
      ++width;
      maxCode = width == maxBits ? codeLimit : (1 << width) - 1;
    }
    if (clearPending) {
      width = kFirstWidth;
      maxCode = (1 << kFirstWidth) - 1;
      clearPending = false;
    }
    std::size_t got = width;
    if (inputEnd_ - inputNext_ >= width) {
      // A whole group waits in the read-ahead: one fixed 16-byte copy, which the
      // compiler makes a single move, rather than a call per group. The bytes
      // copied past the group are never part of a code of this group, and the
      // read-ahead has room to read them.
      std::memcpy(group_, inputBuffer_ + inputNext_, kGroupSize);
      inputNext_ += width;
    } else {
      got = TakeInput(group_, width);
      if (got == 0) return false;
    }
    position = 0;
    groupBits = static_cast<std::int32_t>(got * 8) - static_cast<std::int32_t>(width - 1);
    return true;
  };
  // The first code of a group is taken even from a group shorter than a code;
  // its missing high bits are whatever the buffer still holds.
  const auto takeCode = [&]() -> std::int32_t {
    const std::uint32_t at = position >> 3;
    const std::uint32_t bits = static_cast<std::uint32_t>(group_[at]) |
                               static_cast<std::uint32_t>(group_[at + 1]) << 8 |
                               static_cast<std::uint32_t>(group_[at + 2]) << 16;
    const std::uint32_t code = (bits >> (position & 7)) & ((1u << width) - 1);
    position += width;
    return static_cast<std::int32_t>(code);
  };
  const auto streamEnded = [&] {
    save();
    if (std::ferror(input_)) return FailWithStreamError();
    state_ = kEnd;
    return true;
  };
  const auto stackOverflow = [&] {
    save();
    errno = ENOMEM;
    return false;
  };

  if (starting) {
    if (static_cast<std::int32_t>(position) >= groupBits && !readGroup()) return streamEnded();
    const std::int32_t code = takeCode();
    // The first code is a literal by the format; a larger value keeps only its
    // low byte, the way every later use of the first character does.
    oldCode = code;
    firstChar = code & 0xFF;
    buffer[0] = static_cast<unsigned char>(code);
    done = 1;
    top = 0;
  }

  for (;;) {
    if (top > 0) {
      const std::size_t waiting = static_cast<std::size_t>(top);
      const std::size_t n = waiting < capacity - done ? waiting : capacity - done;
      const unsigned char* from = stackEnd - top;
      unsigned char* to = buffer + done;
      // Most strings are a few bytes long: with room in the buffer one fixed
      // 16-byte copy serves them (the stack has spare bytes to read past its end,
      // and output bytes beyond `n` are overwritten later or lie past `count`).
      if (n <= kShortCopy && capacity - done >= kShortCopy) {
        std::memcpy(to, from, kShortCopy);
      } else {
        std::memcpy(to, from, n);
      }
      done += n;
      top -= static_cast<std::int32_t>(n);
      // A string cut by a full buffer stays on the stack for the next call.
      if (top > 0) {
        save();
        return true;
      }
    }

    if (static_cast<std::int32_t>(position) >= groupBits && !readGroup()) return streamEnded();
    std::int32_t code = takeCode();
    if (code == kClearCode && blockMode) {
      nextFree = kClearCode;
      clearPending = true;
      groupBits = 0;
      // Whatever follows a CLEAR is an ordinary code, even another 256.
      if (!readGroup()) return streamEnded();
      code = takeCode();
    }

    const std::int32_t incoming = code;
    if (code < 256 && done < capacity) {
      // A literal is its own one-byte string; it goes straight to the buffer.
      firstChar = code;
      buffer[done++] = static_cast<unsigned char>(code);
    } else {
      if (code >= nextFree) {
        // The entry this very code defines (or, in a damaged stream, one beyond
        // it): the previous string followed by its own first byte.
        stackEnd[-++top] = static_cast<unsigned char>(firstChar);
        code = oldCode;
      }
      // Hostile streams can chain prefixes into a cycle; the stack bound ends it.
      while (code >= 256) {
        if (top == kStackSize) return stackOverflow();
        stackEnd[-++top] = suffix_[code];
        code = prefix_[code];
      }
      if (top == kStackSize) return stackOverflow();
      firstChar = suffix_[code];
      stackEnd[-++top] = static_cast<unsigned char>(firstChar);
    }

    if (nextFree < codeLimit) {
      prefix_[nextFree] = static_cast<std::uint16_t>(oldCode);
      suffix_[nextFree] = static_cast<unsigned char>(firstChar);
      if (++nextFree > maxCode) groupBits = 0;
    }
    oldCode = incoming;
  }
}

bool DecompressFile(const std::string& destinationPath, IFileProgressCallback* progress,
                    const std::string& sourcePath) {
  ZReader* reader = ZReader::Open(sourcePath);
  if (reader == nullptr) return false;
  std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kBlockSize]);
  if (!block) {
    ZReader::Close(reader);
    errno = ENOMEM;
    return false;
  }

  std::size_t count = 0;
  if (!reader->Read(block.get(), kBlockSize, count)) {
    const int error = errno;
    ZReader::Close(reader);
    errno = error;
    return false;
  }
  std::FILE* destination = platform::OpenFile(destinationPath, "wb");
  if (destination == nullptr) {
    const int error = errno;
    ZReader::Close(reader);
    errno = error;
    return false;
  }
  // Every block is written whole: the stream's own small buffer would split
  // each one into two system calls and copy part of it once more.
  std::setvbuf(destination, nullptr, _IONBF, 0);

  for (;;) {
    if (count == 0) {
      // Data still in the stream's buffer can fail to reach the disk at close;
      // that is a failed decompression, not a short file reported as success.
      const bool closed = std::fclose(destination) == 0;
      destination = nullptr;
      if (closed) {
        ZReader::Close(reader);
        return true;
      }
      break;
    }
    if (platform::InterruptRequested()) {
      errno = EINTR;
      break;
    }
    if (std::fwrite(block.get(), 1, count, destination) != count) break;
    if (progress != nullptr) {
      const std::int64_t position = reader->SourcePosition();
      if (position >= 0) {
        progress->OnProgress(static_cast<std::uint64_t>(reader->TotalSize()), static_cast<std::uint64_t>(position));
      }
    }
    if (!reader->Read(block.get(), kBlockSize, count)) break;
  }

  const int error = errno != 0 ? errno : EIO;
  if (destination != nullptr) std::fclose(destination);
  ZReader::Close(reader);
  platform::DeleteFile(destinationPath);
  errno = error;
  return false;
}
