#include "pipeline/boot_options.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

namespace fs = std::filesystem;
using platform::ProcessArgument;

constexpr const char* kHybridMbr = "boot/isolinux/isohdpfx.bin";

/// Where distributions keep the FAT image that UEFI firmware boots from a CD,
/// in order of preference.
constexpr const char* kEfiImages[] = {"boot/grub/efi.img", "EFI/boot/efiboot.img", "boot/efi.img",
                                      "images/efiboot.img"};

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

/// True when `path` is a regular file holding `bytes` at `offset`.
bool HasBytesAt(const fs::path& path, std::size_t offset, const std::string& bytes) {
  if (!RegularFileSize(path)) return false;
  const std::string head = Head(path, offset + bytes.size());
  return head.size() == offset + bytes.size() && head.compare(offset, bytes.size(), bytes) == 0;
}

}  // namespace

BootMaterial FindBootMaterial(const std::string& workingFolder) {
  const fs::path root(workingFolder);
  BootMaterial material;
  // Without the mark xorrisofs still makes an image, but one that does not
  // boot from a disk.
  if (RegularFileSize(root / kHybridMbr) && HasBytesAt(root / kBiosLoader, 0x40, "\xfb\xc0\x78\x70")) {
    material.hybridMbr = kHybridMbr;
  }
  for (const char* candidate : kEfiImages) {
    if (HasBytesAt(root / candidate, 510, "\x55\xaa")) {
      material.efiImage = candidate;
      break;
    }
  }
  return material;
}

std::vector<ProcessArgument> BootArguments(const BootMaterial& material, MkisofsFlavour flavour) {
  std::vector<ProcessArgument> arguments;
  if (flavour == MkisofsFlavour::FixedCommandOnly) return arguments;
  const bool hybridMbr = flavour == MkisofsFlavour::Hybrid && !material.hybridMbr.empty();
  if (hybridMbr) arguments.insert(arguments.end(), {"-isohybrid-mbr", {material.hybridMbr, true}});
  if (!material.efiImage.empty()) {
    // Everything after -eltorito-alt-boot belongs to the new entry.
    arguments.insert(arguments.end(), {"-eltorito-alt-boot", "-e", {material.efiImage, true}, "-no-emul-boot"});
  }
  if (hybridMbr && !material.efiImage.empty()) {
    // Puts the EFI image into the disk's partition tables; useless without the MBR.
    arguments.push_back("-isohybrid-gpt-basdat");
  }
  return arguments;
}

std::string BootWays(const BootMaterial& material, MkisofsFlavour flavour) {
  std::string ways = "BIOS CD";
  if (flavour == MkisofsFlavour::FixedCommandOnly) return ways;
  const bool hybridMbr = flavour == MkisofsFlavour::Hybrid && !material.hybridMbr.empty();
  if (hybridMbr) ways += ", BIOS USB";
  if (!material.efiImage.empty()) ways += ", UEFI CD";
  if (hybridMbr && !material.efiImage.empty()) ways += ", UEFI USB";
  return ways;
}
