#pragma once

#include <cstdio>
#include <string>

#include "image/iso_volume.h"

/// Completing a mastered image: where the mastering program could not add a
/// boot way that the distribution brings the material for, the tool adds it
/// itself. Only the system area (the first 32 KiB), the boot catalog and bytes
/// appended at the end are written; the ISO 9660 tree stays as the program
/// wrote it.

/// The ways an image boots.
struct BootWays {
  bool biosCd = false;
  bool biosUsb = false;
  bool uefiCd = false;
  bool uefiUsb = false;
};

/// "BIOS CD, BIOS USB, UEFI CD, UEFI USB", or the part of it the image has;
/// "none" when it has no way at all.
std::string BootWaysText(const BootWays& ways);

/// The ways `image` boots, read from the image itself: BIOS or UEFI from a CD
/// by the boot catalog's entries; BIOS from a disk by an MBR whose code is
/// given the BIOS boot image's address; UEFI from a disk by an EFI system
/// partition in a GPT (with its protective MBR entry) or in the MBR.
BootWays ReadBootWays(const ImageBytes& image, const IsoVolume& volume);

/// Completes the image that `image` is open on for reading and writing, and
/// tells in `ways` which ways it has then. The caller keeps the stream and
/// closes it; what was written is flushed before the return. `mbrCode` is the
/// isohybrid MBR code file and `efiImage` the path of the FAT EFI image inside
/// the image; either is empty when the distribution does not bring it, and
/// with neither nothing is written, but the image is read all the same. Adds:
/// - a UEFI section to the boot catalog when it has none,
/// - the isohybrid MBR when the system area is empty,
/// - a GPT with the EFI image as EFI system partition, behind a protective MBR
///   entry, when the system area is empty, with the backup GPT appended.
/// The disk signature and GUIDs are made from the volume's description, so a
/// volume made twice at the same time is completed to the same bytes. False
/// with `fault` when the image cannot be read or written or is malformed: it
/// holds less than its volume, or the catalog, a directory on the way to the
/// EFI image, or a boot image that a partition table would point at lies
/// outside the file or in the system area. Every such fault shows before
/// anything is written; a failed write may leave the image half-completed,
/// and it must go.
bool CompleteBootWays(std::FILE* image, const std::string& mbrCode, const std::string& efiImage, BootWays& ways,
                      ImageFault& fault);
