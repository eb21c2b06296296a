#include "image/boot_material.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

#include "image/fat_file.h"
#include "image/little_endian.h"
#include "platform/file.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kHybridMbr = "boot/isolinux/isohdpfx.bin";
/// What isohybrid MBR code can be: the partition table follows it from byte
/// 446 on, and a file longer than the MBR is something else.
constexpr std::uintmax_t kHybridMbrMinimum = 432;
constexpr std::uintmax_t kHybridMbrMaximum = 512;

/// Where distributions keep the FAT image that UEFI firmware boots from a CD,
/// in order of preference.
constexpr const char* kEfiImages[] = {"boot/grub/efi.img", "EFI/boot/efiboot.img", "boot/efi.img",
                                      "images/efiboot.img"};
/// An El Torito entry counts the image it loads in 16-bit numbers of 512-byte
/// sectors.
constexpr std::uintmax_t kEfiImageMaximum = 65535u * 512u;
/// The loader UEFI firmware starts from removable media on x86-64.
constexpr const char* kRemovableMediaLoader = "EFI/BOOT/BOOTX64.EFI";

/// The size of `path` when it is a regular file, not a link to one (the image
/// must hold the file itself); nothing otherwise.
std::optional<std::uintmax_t> RegularFileSize(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error))) return std::nullopt;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return std::nullopt;
  return size;
}

/// The first `size` bytes of `path`; shorter when the file is.
std::string Head(const fs::path& path, std::size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(size, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

unsigned Byte(const std::string& bytes, std::size_t offset) { return static_cast<unsigned char>(bytes[offset]); }

unsigned Little16(const std::string& bytes, std::size_t offset) {
  return static_cast<unsigned>(ReadLittleEndian(bytes.data() + offset, 2));
}

std::uint32_t Little32(const std::string& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(ReadLittleEndian(bytes.data() + offset, 4));
}

}  // namespace

bool IsFatBootSector(const std::string& sector) {
  if (sector.size() < 512 || Little16(sector, 510) != 0xAA55) return false;
  const unsigned bytesPerSector = Little16(sector, 11);
  const unsigned sectorsPerCluster = Byte(sector, 13);
  const unsigned media = Byte(sector, 21);
  const bool sane = (bytesPerSector == 512 || bytesPerSector == 1024 || bytesPerSector == 2048 ||
                     bytesPerSector == 4096) &&
                    sectorsPerCluster >= 1 && sectorsPerCluster <= 128 &&
                    (sectorsPerCluster & (sectorsPerCluster - 1)) == 0 && Little16(sector, 14) >= 1 &&
                    (Byte(sector, 16) == 1 || Byte(sector, 16) == 2) && (media == 0xF0 || media >= 0xF8) &&
                    (Little16(sector, 19) != 0 || Little32(sector, 32) != 0);
  if (!sane) return false;
  const std::string type16 = sector.substr(54, 8);
  return type16 == "FAT12   " || type16 == "FAT16   " || type16 == "FAT     " || sector.substr(82, 8) == "FAT32   ";
}

bool HasHybridMark(const std::string& path) {
  const fs::path file = platform::FilePath(path);
  if (!RegularFileSize(file)) return false;
  const std::string head = Head(file, 0x44);
  return head.size() == 0x44 && head.compare(0x40, 4, "\xfb\xc0\x78\x70") == 0;
}

bool CarriesAuthenticodeSignature(const std::string& program) {
  auto inside = [&](std::uint64_t offset, std::uint64_t size) {
    return offset <= program.size() && size <= program.size() - offset;
  };
  if (!inside(0, 0x40) || program.compare(0, 2, "MZ") != 0) return false;
  const std::uint64_t pe = Little32(program, 0x3C);
  if (!inside(pe, 24) || program.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  const std::uint64_t optional = pe + 24;
  const std::uint64_t optionalSize = Little16(program, pe + 20);
  if (!inside(optional, optionalSize) || optionalSize < 2) return false;
  // The data directories follow the optional header's fixed part, which is
  // longer in PE32+ (64-bit programs) than in PE32.
  const unsigned magic = Little16(program, optional);
  const std::uint64_t fixed = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
  constexpr std::uint64_t kCertificateTable = 4;  // the fifth directory
  if (fixed == 0 || optionalSize < fixed + (kCertificateTable + 1) * 8 ||
      Little32(program, optional + fixed - 4) <= kCertificateTable) {
    return false;
  }
  const std::uint64_t directory = optional + fixed + kCertificateTable * 8;
  // The certificate table's place is a file offset, not an address.
  const std::uint64_t table = Little32(program, directory);
  const std::uint64_t tableSize = Little32(program, directory + 4);
  if (table == 0 || tableSize < 8 || !inside(table, tableSize)) return false;
  // Its first entry: a WIN_CERTIFICATE of revision 2.0 holding PKCS #7 signed data.
  const std::uint64_t length = Little32(program, table);
  return length > 8 && length <= tableSize && Little16(program, table + 4) == 0x0200 &&
         Little16(program, table + 6) == 0x0002;
}

namespace {

bool IsEfiImage(const fs::path& path) {
  const std::optional<std::uintmax_t> size = RegularFileSize(path);
  return size && *size > 0 && *size <= kEfiImageMaximum && IsFatBootSector(Head(path, 512));
}

/// True when the loader that firmware starts from the FAT image at `path`
/// carries a signature: the first link of a chain that Secure Boot can follow.
bool StartsSignedChain(const fs::path& path) {
  const std::optional<std::uintmax_t> size = RegularFileSize(path);
  if (!size || *size > kEfiImageMaximum) return false;
  const std::optional<std::string> loader = ReadFatFile(Head(path, *size), kRemovableMediaLoader);
  return loader && CarriesAuthenticodeSignature(*loader);
}

}  // namespace

BootMaterial FindBootMaterial(const std::string& rootPath) {
  const fs::path root = platform::FilePath(rootPath);
  BootMaterial material;
  // Without the mark xorrisofs still makes an image, but one that does not
  // boot from a disk.
  const std::optional<std::uintmax_t> mbrSize = RegularFileSize(root / kHybridMbr);
  if (mbrSize && *mbrSize >= kHybridMbrMinimum && *mbrSize <= kHybridMbrMaximum &&
      HasHybridMark(rootPath + "/" + kBiosLoader)) {
    material.hybridMbr = kHybridMbr;
  }
  // With Secure Boot on, firmware starts only a signed loader: an image that
  // holds one is taken before any place that comes earlier in the list.
  for (const char* candidate : kEfiImages) {
    if (!IsEfiImage(root / candidate)) continue;
    if (material.efiImage.empty()) material.efiImage = candidate;
    if (StartsSignedChain(root / candidate)) {
      material.efiImage = candidate;
      break;
    }
  }
  return material;
}
