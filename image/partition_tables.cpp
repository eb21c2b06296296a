#include "image/partition_tables.h"

#include <zlib.h>

#include "image/little_endian.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kGptEntries = 128;
constexpr std::uint32_t kGptEntrySize = 128;
constexpr std::uint32_t kGptHeaderSize = 92;
constexpr std::uint32_t kGptEntrySectors = kGptEntries * kGptEntrySize / kDiskSectorSize;
static_assert(kGptSectors == 1 + kGptEntrySectors);

constexpr Guid kEfiSystemPartition = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                      0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
constexpr char16_t kPartitionName[] = u"EFI boot";

// The geometry isohybrid layouts assume for the CHS fields: 64 heads of 32
// sectors; beyond cylinder 1023 the fields carry their maximum.
constexpr std::uint32_t kHeads = 64;
constexpr std::uint32_t kSectorsPerTrack = 32;

void PutLe(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
  WriteLittleEndian(bytes.data() + at, value, size);
}

std::uint64_t GetLe(const std::string& bytes, std::size_t at, std::size_t size) {
  return ReadLittleEndian(bytes.data() + at, size);
}

void PutChs(std::string& bytes, std::size_t at, std::uint32_t sector) {
  const std::uint32_t cylinder = sector / (kHeads * kSectorsPerTrack);
  if (cylinder > 1023) {
    bytes[at] = '\xFE';
    bytes[at + 1] = '\xFF';
    bytes[at + 2] = '\xFF';
    return;
  }
  const std::uint32_t head = sector / kSectorsPerTrack % kHeads;
  const std::uint32_t inTrack = sector % kSectorsPerTrack + 1;
  bytes[at] = static_cast<char>(head);
  bytes[at + 1] = static_cast<char>(inTrack | (cylinder >> 8) << 6);
  bytes[at + 2] = static_cast<char>(cylinder & 0xFF);
}

/// A version 4 GUID made from the seed and a tag that tells it from others.
Guid GuidFor(const std::string& seed, char tag) {
  Guid guid{};
  for (std::size_t i = 0; i < guid.size(); i += 4) {
    const std::string part = seed + tag + static_cast<char>(i);
    std::uint32_t crc = GptCrc(part);
    for (std::size_t j = 0; j < 4; ++j) guid[i + j] = static_cast<unsigned char>(crc >> (8 * j));
  }
  guid[7] = static_cast<unsigned char>((guid[7] & 0x0F) | 0x40);
  guid[8] = static_cast<unsigned char>((guid[8] & 0x3F) | 0x80);
  return guid;
}

std::string GptHeader(std::uint64_t self, std::uint64_t other, std::uint64_t entries, std::uint64_t diskSectors,
                      const Guid& disk, std::uint32_t entriesCrc) {
  std::string header(kDiskSectorSize, '\0');
  header.replace(0, 8, "EFI PART");
  PutLe(header, 8, 0x00010000, 4);
  PutLe(header, 12, kGptHeaderSize, 4);
  PutLe(header, 24, self, 8);
  PutLe(header, 32, other, 8);
  PutLe(header, 40, 1 + kGptSectors, 8);
  PutLe(header, 48, diskSectors - 1 - kGptSectors, 8);
  std::copy(disk.begin(), disk.end(), header.begin() + 56);
  PutLe(header, 72, entries, 8);
  PutLe(header, 80, kGptEntries, 4);
  PutLe(header, 84, kGptEntrySize, 4);
  PutLe(header, 88, entriesCrc, 4);
  PutLe(header, 16, GptCrc(header.substr(0, kGptHeaderSize)), 4);
  return header;
}

}  // namespace

std::uint32_t GptCrc(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

DiskIds DiskIdsFor(const std::string& seed) {
  DiskIds ids;
  ids.mbrSignature = GptCrc(seed + 'm');
  ids.disk = GuidFor(seed, 'd');
  ids.partition = GuidFor(seed, 'p');
  return ids;
}

std::string MbrSector(const std::string& code, std::uint32_t bootImageSector, std::uint32_t signature,
                      const MbrPartition& partition) {
  std::string mbr(kDiskSectorSize, '\0');
  if (!code.empty()) {
    std::copy_n(code.begin(), std::min(code.size(), kMbrCodeSize), mbr.begin());
    // The isohybrid code reads the boot image from this 64-bit address.
    PutLe(mbr, 432, bootImageSector, 8);
  }
  PutLe(mbr, 440, signature, 4);
  constexpr std::size_t entry = 446;
  mbr[entry] = partition.active ? '\x80' : '\0';
  PutChs(mbr, entry + 1, partition.first);
  mbr[entry + 4] = static_cast<char>(partition.type);
  PutChs(mbr, entry + 5, partition.first + partition.count - 1);
  PutLe(mbr, entry + 8, partition.first, 4);
  PutLe(mbr, entry + 12, partition.count, 4);
  mbr[510] = '\x55';
  mbr[511] = '\xAA';
  return mbr;
}

Gpt GptWithEfiPartition(std::uint64_t diskSectors, std::uint64_t first, std::uint64_t last, const DiskIds& ids) {
  std::string entries(kGptEntries * kGptEntrySize, '\0');
  std::copy(kEfiSystemPartition.begin(), kEfiSystemPartition.end(), entries.begin());
  std::copy(ids.partition.begin(), ids.partition.end(), entries.begin() + 16);
  PutLe(entries, 32, first, 8);
  PutLe(entries, 40, last, 8);
  for (std::size_t i = 0; kPartitionName[i] != 0; ++i) PutLe(entries, 56 + 2 * i, kPartitionName[i], 2);
  const std::uint32_t entriesCrc = GptCrc(entries);

  const std::uint64_t lastSector = diskSectors - 1;
  Gpt gpt;
  gpt.front = GptHeader(1, lastSector, 2, diskSectors, ids.disk, entriesCrc) + entries;
  gpt.back = entries + GptHeader(lastSector, 1, lastSector - kGptEntrySectors, diskSectors, ids.disk, entriesCrc);
  return gpt;
}

bool HasEfiSystemPartition(const std::string& entries, std::size_t entrySize) {
  if (entrySize < kGptEntrySize) return false;
  for (std::size_t at = 0; at + entrySize <= entries.size(); at += entrySize) {
    if (std::memcmp(kEfiSystemPartition.data(), entries.data() + at, kEfiSystemPartition.size()) == 0 &&
        GetLe(entries, at + 32, 8) <= GetLe(entries, at + 40, 8)) {
      return true;
    }
  }
  return false;
}
