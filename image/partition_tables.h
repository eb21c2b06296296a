#pragma once

#include <array>
#include <cstdint>
#include <string>

/// The partition tables that let an ISO 9660 image boot from a disk such as a
/// USB stick: the isohybrid MBR, whose code loads the BIOS boot image, and a
/// GPT that shows UEFI firmware the EFI image as an EFI system partition.
/// Sectors here are 512 bytes.

inline constexpr std::uint32_t kDiskSectorSize = 512;
/// The MBR code that the isohybrid layout takes: it ends where the boot image's
/// address begins.
inline constexpr std::size_t kMbrCodeSize = 432;

using Guid = std::array<unsigned char, 16>;

/// The identities a layout writes: made from `seed` (the volume's own
/// description), so that the same volume always gets the same ones.
struct DiskIds {
  std::uint32_t mbrSignature = 0;
  Guid disk{};
  Guid partition{};
};
DiskIds DiskIdsFor(const std::string& seed);

/// The MBR sector: `code` (its first kMbrCodeSize bytes; none leaves the code
/// area zero), the boot image's first sector for that code to read, the disk
/// signature, one partition entry and the 0x55AA mark.
struct MbrPartition {
  bool active = false;
  std::uint8_t type = 0;
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};
std::string MbrSector(const std::string& code, std::uint32_t bootImageSector, std::uint32_t signature,
                      const MbrPartition& partition);

/// A GPT with one EFI system partition, for a disk of `diskSectors`: `front`
/// is the primary header and its entries (sectors 1 to 33), `back` the backup
/// entries and header that fill the last 33 sectors.
struct Gpt {
  std::string front;
  std::string back;
};
inline constexpr std::uint32_t kGptSectors = 33;
Gpt GptWithEfiPartition(std::uint64_t diskSectors, std::uint64_t first, std::uint64_t last, const DiskIds& ids);

/// True when `entries` (GPT partition entries of `entrySize` bytes) hold an
/// EFI system partition.
bool HasEfiSystemPartition(const std::string& entries, std::size_t entrySize);

/// The CRC-32 that GPT headers and entry arrays carry.
std::uint32_t GptCrc(const std::string& bytes);
