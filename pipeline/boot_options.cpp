#include "pipeline/boot_options.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

constexpr const char* kBiosLoader = "boot/isolinux/isolinux.bin";
constexpr const char* kHybridMbr = "boot/isolinux/isohdpfx.bin";

/// Where distributions keep the FAT image that UEFI firmware boots from a CD,
/// in order of preference.
constexpr const char* kEfiImages[] = {"boot/grub/efi.img", "EFI/boot/efiboot.img", "boot/efi.img",
                                      "images/efiboot.img"};

/// A regular file, not a link to one: the image must hold the file itself.
bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(path, error));
}

/// True when `path` is a regular file holding `bytes` at `offset`.
bool HasBytesAt(const fs::path& path, std::streamoff offset, const std::string& bytes) {
  if (!IsRegularFile(path)) return false;
  std::ifstream in(path, std::ios::binary);
  std::string found(bytes.size(), '\0');
  return in.seekg(offset) && in.read(found.data(), static_cast<std::streamsize>(found.size())) && found == bytes;
}

}  // namespace

BootOptions ChooseBootOptions(const std::string& workingFolder, platform::MkisofsBootSupport support) {
  using platform::MkisofsBootSupport;
  const fs::path root(workingFolder);
  BootOptions options;
  options.ways = "BIOS CD";
  if (support == MkisofsBootSupport::BiosOnly) return options;

  // Without the mark xorrisofs still makes an image, but one that does not
  // boot from a disk.
  const bool hybridMbr = support == MkisofsBootSupport::Hybrid && IsRegularFile(root / kHybridMbr) &&
                         HasBytesAt(root / kBiosLoader, 0x40, "\xfb\xc0\x78\x70");
  std::string efiImage;
  for (const char* candidate : kEfiImages) {
    if (HasBytesAt(root / candidate, 510, "\x55\xaa")) {
      efiImage = candidate;
      break;
    }
  }

  if (hybridMbr) {
    options.arguments.insert(options.arguments.end(), {{"-isohybrid-mbr", false}, {kHybridMbr, true}});
    options.ways += ", BIOS USB";
  }
  if (!efiImage.empty()) {
    // Everything after -eltorito-alt-boot belongs to the new entry.
    options.arguments.insert(options.arguments.end(), {{"-eltorito-alt-boot", false},
                                                       {"-e", false},
                                                       {efiImage, true},
                                                       {"-no-emul-boot", false}});
    options.ways += ", UEFI CD";
  }
  if (hybridMbr && !efiImage.empty()) {
    // Puts the EFI image into the disk's partition tables; useless without the MBR.
    options.arguments.push_back({"-isohybrid-gpt-basdat", false});
    options.ways += ", UEFI USB";
  }
  return options;
}
