#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/error_codes.h"

/// Reading the parts of a finished ISO 9660 image that its boot ways live in:
/// the primary volume descriptor, the El Torito boot catalog and the directory
/// tree. Everything is read through `ImageBytes`, so that the image may be a
/// file or memory; every field is checked before it is used, because the
/// image comes from an outside program.

/// Reads `size` bytes at `offset` into `data`; false when they are not all
/// there.
using ImageBytes = std::function<bool(std::uint64_t offset, void* data, std::size_t size)>;

inline constexpr std::uint32_t kIsoSectorSize = 2048;
/// The sectors before the volume descriptors: the system area, which holds
/// the partition tables of an image that boots from a disk.
inline constexpr std::uint32_t kIsoSystemAreaSectors = 16;

/// A file's place in the image.
struct IsoExtent {
  std::uint32_t sector = 0;  ///< first 2048-byte sector
  std::uint32_t size = 0;    ///< length in bytes
};

/// One El Torito boot entry.
struct BootEntry {
  std::uint8_t platform = 0;    ///< 0 for x86 BIOS, 0xEF for UEFI
  bool bootable = false;        ///< boot indicator 0x88
  std::uint16_t sectorCount = 0;  ///< 512-byte sectors the firmware loads
  std::uint32_t loadSector = 0;   ///< the boot image's first 2048-byte sector
};

/// The boot catalog: the default entry and where more sections may go.
struct BootCatalog {
  std::uint32_t sector = 0;
  BootEntry defaultEntry;
  bool hasUefiEntry = false;
  /// Offset in the catalog sector of the last section header (0: none), and of
  /// the first byte after the last entry.
  std::size_t lastHeader = 0;
  std::size_t end = 64;
};

/// What the image's volume descriptors say.
struct IsoVolume {
  std::uint32_t volumeSectors = 0;  ///< the volume space size
  IsoExtent root;                   ///< the root directory
  std::string creationDate;         ///< the 17 characters of the descriptor
  std::string volumeId;             ///< 32 characters, blank-padded
  std::optional<BootCatalog> catalog;  ///< none without an El Torito boot record
};

/// Reads the volume descriptors and, when there is one, the boot catalog, of
/// an image of `imageSize` bytes. Empty with `fault` set when they are
/// malformed: no primary descriptor among the first few, an image shorter
/// than its volume, a catalog outside the volume or in the system area, a
/// validation entry whose checksum or key bytes are wrong, sections that
/// overrun the catalog sector. So every extent inside the volume that is read
/// is inside the image too.
std::optional<IsoVolume> ReadIsoVolume(const ImageBytes& image, std::uint64_t imageSize, ImageFault& fault);

/// Finds `path` ("boot/grub/efi.img") by its Rock Ridge names, or by its ISO
/// 9660 names compared without case, version and trailing dot. Empty when no
/// such file is there; `fault` is set as well when a directory on the way is
/// malformed (a record overrunning its sector, an extent outside the volume or
/// a directory in the system area).
std::optional<IsoExtent> FindIsoFile(const ImageBytes& image, const IsoVolume& volume, const std::string& path,
                                     ImageFault& fault);
