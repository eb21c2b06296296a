#include "image/iso_volume.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "image/boot_completion.h"
#include "image/little_endian.h"
#include "platform/file.h"
#include "tests/support/child_process.h"

using namespace testing_support;

namespace {

constexpr std::size_t kSector = kIsoSectorSize;
constexpr std::uint32_t kCatalog = 19;
constexpr std::uint32_t kRoot = 20;
constexpr std::uint32_t kBiosImage = 21;
constexpr std::uint32_t kSectors = 24;

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) { WriteLittleEndian(&bytes[at], value, 2); }
void Put32(std::string& bytes, std::size_t at, std::uint32_t value) { WriteLittleEndian(&bytes[at], value, 4); }

/// Little-endian, then big-endian, as ISO 9660 writes its numbers.
void PutBoth32(std::string& bytes, std::size_t at, std::uint32_t value) {
  Put32(bytes, at, value);
  for (int i = 0; i < 4; ++i) bytes[at + 4 + i] = static_cast<char>(value >> (8 * (3 - i)));
}

void PutDirectoryRecord(std::string& bytes, std::size_t at, std::uint32_t sector, char name) {
  bytes[at] = 34;
  PutBoth32(bytes, at + 2, sector);
  PutBoth32(bytes, at + 10, kSector);
  bytes[at + 25] = 2;  // a directory
  bytes[at + 32] = 1;
  bytes[at + 33] = name;
}

/// The smallest image a mastering program could write: an empty system area,
/// the primary volume descriptor, an El Torito boot record and the
/// terminator, a catalog whose default entry loads a BIOS boot image, and a
/// root directory with "." and ".." only.
std::string SmallestImage() {
  std::string b(kSectors * kSector, '\0');
  auto descriptor = [&](std::uint32_t sector, char type) {
    b[sector * kSector] = type;
    b.replace(sector * kSector + 1, 5, "CD001");
    b[sector * kSector + 6] = 1;
  };
  descriptor(16, 1);
  b.replace(16 * kSector + 40, 32, std::string("RSCD 4.42").append(23, ' '));
  PutBoth32(b, 16 * kSector + 80, kSectors);
  PutDirectoryRecord(b, 16 * kSector + 156, kRoot, '\0');
  b.replace(16 * kSector + 813, 16, "2026121000000000");
  descriptor(17, 0);
  b.replace(17 * kSector + 7, 23, "EL TORITO SPECIFICATION");
  Put32(b, 17 * kSector + 0x47, kCatalog);
  descriptor(18, '\xFF');
  // The validation entry's 16-bit words add up to 0.
  const std::size_t catalog = kCatalog * kSector;
  b[catalog] = 1;
  b[catalog + 30] = '\x55';
  b[catalog + 31] = '\xAA';
  Put16(b, catalog + 28, static_cast<std::uint16_t>(0x10000 - 1 - 0xAA55));
  b[catalog + 32] = '\x88';
  Put16(b, catalog + 32 + 6, 4);
  Put32(b, catalog + 32 + 8, kBiosImage);
  PutDirectoryRecord(b, kRoot * kSector, kRoot, '\0');
  PutDirectoryRecord(b, kRoot * kSector + 34, kRoot, '\1');
  return b;
}

bool Complete(const std::string& image, const std::string& mbrCode, ImageFault& fault) {
  std::FILE* file = platform::OpenFile(image, "r+b");
  EXPECT_NE(file, nullptr) << image;
  if (file == nullptr) return false;
  BootWays ways;
  const bool completed = CompleteBootWays(file, mbrCode, "boot/grub/efi.img", ways, fault);
  EXPECT_EQ(std::fclose(file), 0);
  return completed;
}

}  // namespace

TEST(BootCompletionTest, AMalformedImageIsAFailureWithAReason) {
  ScratchFolder folder("iso-volume");
  const std::string image = folder / "image.iso";
  const std::string mbrCode = folder / "isohdpfx.bin";
  WriteWholeFile(mbrCode, std::string(432, '\x33'));
  const std::string good = SmallestImage();
  WriteWholeFile(image, good);
  ImageFault fault;
  ASSERT_TRUE(Complete(image, mbrCode, fault)) << fault.code;

  struct Row {
    const char* why;
    std::function<void(std::string&)> spoil;
    ImageFaultCode reason;
  };
  const Row rows[] = {
      {"no volume descriptors", [](std::string& b) { b[16 * kSector + 1] = 'X'; }, kImageNoPrimaryDescriptor},
      {"a catalog past the end", [](std::string& b) { Put32(b, 17 * kSector + 0x47, 0x7FFFFFFF); },
       kImageCatalogOutsideVolume},
      {"a wrong validation checksum", [](std::string& b) { b[kCatalog * kSector + 28] ^= 1; },
       kImageCatalogNotValid},
      {"sections that overrun the catalog",
       [](std::string& b) {
         b[kCatalog * kSector + 64] = '\x91';
         b[kCatalog * kSector + 66] = '\x7F';
       },
       kImageCatalogSectionsOverrun},
      {"a root directory past the end", [](std::string& b) { Put32(b, 16 * kSector + 156 + 2, 0x7FFFFFF0); },
       kImageRootOutsideVolume},
      {"a directory record too short for its header", [](std::string& b) { b[kRoot * kSector + 2 * 34] = 10; },
       kImageDirectoryRecordMalformed},
      {"a catalog in the system area",
       [](std::string& b) {
         b.replace(kSector, kSector, b, kCatalog * kSector, kSector);
         Put32(b, 17 * kSector + 0x47, 1);
       },
       kImageCatalogInSystemArea},
      {"a root directory in the system area", [](std::string& b) { Put32(b, 16 * kSector + 156 + 2, 0); },
       kImageDirectoryInSystemArea},
      {"a BIOS boot image past the end", [](std::string& b) { Put32(b, kCatalog * kSector + 32 + 8, kSectors); },
       kImageBiosImageOutsideFile},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    std::string spoilt = good;
    row.spoil(spoilt);
    WriteWholeFile(image, spoilt);
    EXPECT_FALSE(Complete(image, mbrCode, fault));
    EXPECT_EQ(fault.code, row.reason);
    // Every fault shows before anything is written.
    EXPECT_TRUE(ReadWholeFile(image) == spoilt) << "the image was written";
  }
}
