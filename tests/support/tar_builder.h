#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

/// One tar header block (512 bytes), built field by field, so that tests can
/// make archives byte for byte, valid or damaged in exactly one way.
class TarHeader {
 public:
  /// A ustar-style header: name, typeflag, octal size and mtime, valid checksum.
  TarHeader(const std::string& name, char typeflag, std::uint32_t size, std::uint32_t mtime = 1700000000);

  /// Overwrites `width` bytes at `offset` with `raw`, NUL-padded. The checksum is
  /// not touched; call FixChecksum() to make the header valid again.
  TarHeader& SetField(std::size_t offset, std::size_t width, const std::string& raw);
  TarHeader& SetByte(std::size_t offset, unsigned char value);

  /// Writes the unsigned-byte checksum as six octal digits, NUL, space.
  TarHeader& FixChecksum();
  /// The checksum a writer that summed signed bytes would produce.
  TarHeader& SignedChecksum();

  const std::string& bytes() const { return block_; }

  static constexpr std::size_t kSizeOffset = 124;
  static constexpr std::size_t kMtimeOffset = 136;
  static constexpr std::size_t kChecksumOffset = 148;
  static constexpr std::size_t kTypeflagOffset = 156;

 private:
  std::string block_;
};

/// A regular file entry: header, data and padding to the next 512-byte boundary.
std::string TarFileEntry(const std::string& name, const std::string& data, std::uint32_t mtime = 1700000000);
/// A directory entry (typeflag '5', size 0).
std::string TarDirectoryEntry(const std::string& name);
/// Two zero blocks, the usual end of an archive.
std::string TarEnd();
/// `data` padded with NULs to a multiple of 512 bytes.
std::string PadToBlock(const std::string& data);
/// `value` as `digits` octal digits with leading zeros.
std::string Octal(std::uint64_t value, int digits);

}  // namespace testing_support
