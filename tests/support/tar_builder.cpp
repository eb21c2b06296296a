#include "tests/support/tar_builder.h"

#include <cstdio>

namespace testing_support {

std::string Octal(std::uint64_t value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 3) {
    text[static_cast<std::size_t>(i)] = static_cast<char>('0' + (value & 7));
  }
  return text;
}

TarHeader::TarHeader(const std::string& name, char typeflag, std::uint32_t size, std::uint32_t mtime)
    : block_(512, '\0') {
  SetField(0, 100, name);
  SetField(100, 8, "0000644");
  SetField(108, 8, "0001750");
  SetField(116, 8, "0001750");
  SetField(kSizeOffset, 12, Octal(size, 11));
  SetField(kMtimeOffset, 12, Octal(mtime, 11));
  SetByte(kTypeflagOffset, static_cast<unsigned char>(typeflag));
  SetField(257, 6, std::string("ustar", 6));
  SetField(263, 2, "00");
  SetField(265, 32, "tester");
  SetField(297, 32, "tester");
  FixChecksum();
}

TarHeader& TarHeader::SetField(std::size_t offset, std::size_t width, const std::string& raw) {
  for (std::size_t i = 0; i < width; ++i) block_[offset + i] = i < raw.size() ? raw[i] : '\0';
  return *this;
}

TarHeader& TarHeader::SetByte(std::size_t offset, unsigned char value) {
  block_[offset] = static_cast<char>(value);
  return *this;
}

TarHeader& TarHeader::FixChecksum() {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 500; ++i) {
    const bool inField = i >= kChecksumOffset && i < kChecksumOffset + 8;
    sum += inField ? ' ' : static_cast<unsigned char>(block_[i]);
  }
  return SetField(kChecksumOffset, 8, Octal(sum, 6) + std::string("\0 ", 2));
}

TarHeader& TarHeader::SignedChecksum() {
  std::int32_t sum = 0;
  for (std::size_t i = 0; i < 500; ++i) {
    const bool inField = i >= kChecksumOffset && i < kChecksumOffset + 8;
    sum += inField ? ' ' : static_cast<signed char>(block_[i]);
  }
  return SetField(kChecksumOffset, 8, Octal(static_cast<std::uint32_t>(sum), 6) + std::string("\0 ", 2));
}

std::string PadToBlock(const std::string& data) {
  std::string padded = data;
  padded.resize((data.size() + 511) / 512 * 512, '\0');
  return padded;
}

std::string TarFileEntry(const std::string& name, const std::string& data, std::uint32_t mtime) {
  return TarHeader(name, '0', static_cast<std::uint32_t>(data.size()), mtime).bytes() + PadToBlock(data);
}

std::string TarDirectoryEntry(const std::string& name) { return TarHeader(name, '5', 0).bytes(); }

std::string TarEnd() { return std::string(1024, '\0'); }

}  // namespace testing_support
