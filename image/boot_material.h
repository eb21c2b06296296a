#pragma once

#include <string>

/// The boot material in a tree that becomes an image: an image gains UEFI and
/// disk (USB stick) boot only when the tree brings the material for it.

/// The ISOLINUX loader, relative to the tree's root: the BIOS CD entry, which
/// every image has.
inline constexpr const char* kBiosLoader = "boot/isolinux/isolinux.bin";

/// The boot material a tree brings, as paths relative to its root; each empty
/// when absent or unusable.
struct BootMaterial {
  /// The ISOLINUX hybrid MBR code, which boots the image from a disk.
  std::string hybridMbr;
  /// The FAT image that UEFI firmware boots.
  std::string efiImage;
};

/// Looks in the tree at `root` for boot/isolinux/isohdpfx.bin, taken when it is a
/// regular file of 432 to 512 bytes and the loader carries the hybrid mark,
/// and for a usable FAT image among the usual EFI image places: a regular
/// file, not empty, of at most 65535 sectors of 512 bytes (what an El Torito
/// entry can load), whose first sector is a FAT boot sector. The first usable
/// image whose EFI/BOOT/BOOTX64.EFI carries an Authenticode signature is
/// taken, so that the image also boots with Secure Boot on; without one, the
/// first usable image in the order of the places.
BootMaterial FindBootMaterial(const std::string& root);

/// True when `sector` is the boot sector of a FAT file system: the boot
/// signature, a sane BIOS parameter block and the file system type of FAT12,
/// FAT16 or FAT32.
bool IsFatBootSector(const std::string& sector);

/// True when `program` is a PE program that carries an Authenticode signature:
/// a certificate table, inside the file, whose first entry is PKCS #7 signed
/// data. Whether the firmware trusts its signer is the firmware's to judge.
bool CarriesAuthenticodeSignature(const std::string& program);

/// True when the loader at `path` is a regular file that carries the mark of
/// ISOLINUX builds that boot from a disk through the hybrid MBR.
bool HasHybridMark(const std::string& path);
