#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

/// Boot ways beyond the BIOS CD entry: an image gains UEFI and disk (USB
/// stick) boot only when the distribution in the working folder brings the
/// material for it and the mastering program can use it.

/// The ISOLINUX loader, relative to the working folder: the BIOS CD entry,
/// which every image has.
inline constexpr const char* kBiosLoader = "boot/isolinux/isolinux.bin";

/// What a mastering program can do beyond the fixed command.
enum class MkisofsFlavour {
  FixedCommandOnly,  ///< only the fixed BIOS CD command (an old mkisofs, or one that did not say)
  AlternativeEntry,  ///< a second El Torito entry, for UEFI (mkisofs, genisoimage)
  Hybrid,            ///< that entry and the isohybrid MBR and GPT for disks (xorrisofs)
};

/// The boot material a distribution brings, as paths relative to the working
/// folder; each empty when absent or unusable.
struct BootMaterial {
  /// The ISOLINUX hybrid MBR code, which boots the image from a disk.
  std::string hybridMbr;
  /// The FAT image that UEFI firmware boots.
  std::string efiImage;
};

/// Looks at `workingFolder` for boot/isolinux/isohdpfx.bin, taken when it is a
/// regular file of 432 to 512 bytes and the loader carries the hybrid mark,
/// and for the first usable FAT image among the usual EFI image places: a
/// regular file, not empty, of at most 65535 sectors of 512 bytes (what an El
/// Torito entry can load), whose first sector is a FAT boot sector.
BootMaterial FindBootMaterial(const std::string& workingFolder);

/// The mastering arguments that go after the BIOS entry's boot catalog for
/// the material that `flavour` can use; none for FixedCommandOnly.
std::vector<platform::ProcessArgument> BootArguments(const BootMaterial& material, MkisofsFlavour flavour);
