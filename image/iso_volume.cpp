#include "image/iso_volume.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "image/little_endian.h"

namespace {

using Sector = std::array<unsigned char, kIsoSectorSize>;

constexpr std::uint32_t kFirstDescriptor = 16;
// Images carry a primary, a Joliet, a boot record and a terminator; a set
// this long is not one a mastering program wrote.
constexpr std::uint32_t kMaxDescriptors = 32;
constexpr unsigned char kDescriptorBootRecord = 0;
constexpr unsigned char kDescriptorPrimary = 1;
constexpr unsigned char kDescriptorTerminator = 255;
constexpr char kElToritoId[] = "EL TORITO SPECIFICATION";

constexpr unsigned char kBootable = 0x88;
constexpr unsigned char kNotBootable = 0x00;
constexpr unsigned char kHeaderMore = 0x90;
constexpr unsigned char kHeaderFinal = 0x91;
constexpr unsigned char kExtensionEntry = 0x44;
constexpr unsigned char kPlatformUefi = 0xEF;
constexpr std::size_t kCatalogEntry = 32;

// A directory on the way to a boot file is small; one this big is not sane.
constexpr std::uint32_t kMaxDirectorySize = 16u * 1024 * 1024;
constexpr std::size_t kDirectoryRecordHeader = 33;
constexpr unsigned char kFlagDirectory = 0x02;

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(ReadLittleEndian(p, 2)); }
std::uint32_t Le32(const unsigned char* p) { return static_cast<std::uint32_t>(ReadLittleEndian(p, 4)); }

bool ReadSector(const ImageBytes& image, std::uint32_t sector, Sector& data) {
  return image(static_cast<std::uint64_t>(sector) * kIsoSectorSize, data.data(), data.size());
}

std::uint32_t SectorsFor(std::uint32_t bytes) { return bytes / kIsoSectorSize + (bytes % kIsoSectorSize != 0); }

/// True when the extent lies inside the volume.
bool InsideVolume(const IsoExtent& extent, std::uint32_t volumeSectors) {
  return extent.sector < volumeSectors && SectorsFor(extent.size) <= volumeSectors - extent.sector;
}

BootEntry ReadEntry(const unsigned char* entry, std::uint8_t platform) {
  BootEntry result;
  result.platform = platform;
  result.bootable = entry[0] == kBootable;
  result.sectorCount = Le16(entry + 6);
  result.loadSector = Le32(entry + 8);
  return result;
}

std::optional<BootCatalog> ReadCatalog(const ImageBytes& image, std::uint32_t sector, std::uint32_t volumeSectors,
                                       ImageFault& fault) {
  if (sector >= volumeSectors) {
    fault.code = kImageCatalogOutsideVolume;
    return std::nullopt;
  }
  // A UEFI entry added to a catalog there would be overwritten by the
  // partition tables, or overwrite them.
  if (sector < kIsoSystemAreaSectors) {
    fault.code = kImageCatalogInSystemArea;
    return std::nullopt;
  }
  Sector data;
  if (!ReadSector(image, sector, data)) {
    fault.code = kImageCatalogUnreadable;
    return std::nullopt;
  }
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < kCatalogEntry; i += 2) sum = static_cast<std::uint16_t>(sum + Le16(&data[i]));
  if (data[0] != 1 || data[30] != 0x55 || data[31] != 0xAA || sum != 0) {
    fault.code = kImageCatalogNotValid;
    return std::nullopt;
  }
  if (data[32] != kBootable && data[32] != kNotBootable) {
    fault.code = kImageCatalogDefaultEntryMalformed;
    return std::nullopt;
  }
  BootCatalog catalog;
  catalog.sector = sector;
  catalog.defaultEntry = ReadEntry(&data[32], data[1]);
  std::size_t at = 2 * kCatalogEntry;
  while (at + kCatalogEntry <= data.size() && (data[at] == kHeaderMore || data[at] == kHeaderFinal)) {
    const bool final = data[at] == kHeaderFinal;
    const std::uint8_t platform = data[at + 1];
    const std::uint16_t count = Le16(&data[at + 2]);
    catalog.lastHeader = at;
    at += kCatalogEntry;
    for (std::uint16_t i = 0; i < count; ++i) {
      if (at + kCatalogEntry > data.size()) {
        fault.code = kImageCatalogSectionsOverrun;
        return std::nullopt;
      }
      const BootEntry entry = ReadEntry(&data[at], platform);
      if (entry.platform == kPlatformUefi && entry.bootable) catalog.hasUefiEntry = true;
      at += kCatalogEntry;
      while (at + kCatalogEntry <= data.size() && data[at] == kExtensionEntry) at += kCatalogEntry;
    }
    if (final) break;
  }
  catalog.end = at;
  return catalog;
}

/// A name as it appears in a directory record: the Rock Ridge name when the
/// record has one, else the ISO 9660 name.
struct RecordName {
  std::string text;
  bool rockRidge = false;
};

RecordName ReadName(const unsigned char* record, std::size_t length) {
  const std::size_t nameLength = record[32];
  RecordName name;
  name.text.assign(reinterpret_cast<const char*>(record + kDirectoryRecordHeader), nameLength);
  // The system use area follows the name and the byte that pads it to even.
  std::size_t at = kDirectoryRecordHeader + nameLength + (nameLength % 2 == 0 ? 1 : 0);
  std::string alternate;
  bool found = false;
  while (at + 4 <= length) {
    const unsigned char* entry = record + at;
    const std::size_t entryLength = entry[2];
    if (entryLength < 4 || at + entryLength > length) break;
    if (entry[0] == 'S' && entry[1] == 'T') break;
    if (entry[0] == 'N' && entry[1] == 'M' && entryLength >= 5) {
      // Flags: 1 continues in the next NM entry; 2 and 4 name "." and "..".
      if ((entry[4] & 0x06) == 0) {
        alternate.append(reinterpret_cast<const char*>(entry + 5), entryLength - 5);
        found = true;
      }
    }
    at += entryLength;
  }
  if (found) {
    name.text = alternate;
    name.rockRidge = true;
  }
  return name;
}

bool SameIsoName(std::string isoName, const std::string& wanted) {
  const std::size_t version = isoName.find(';');
  if (version != std::string::npos) isoName.erase(version);
  if (!isoName.empty() && isoName.back() == '.') isoName.pop_back();
  return isoName.size() == wanted.size() &&
         std::equal(isoName.begin(), isoName.end(), wanted.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

struct DirectoryEntry {
  IsoExtent extent;
  bool directory = false;
};

/// Looks for `name` among the records of one directory.
std::optional<DirectoryEntry> FindInDirectory(const ImageBytes& image, const IsoExtent& directory,
                                              std::uint32_t volumeSectors, const std::string& name,
                                              ImageFault& fault) {
  if (directory.size > kMaxDirectorySize || !InsideVolume(directory, volumeSectors)) {
    fault.code = kImageDirectoryOutsideVolume;
    return std::nullopt;
  }
  // No mastering program puts one there; what is read there is whatever the
  // system area holds, and the partition tables may replace it.
  if (directory.sector < kIsoSystemAreaSectors) {
    fault.code = kImageDirectoryInSystemArea;
    return std::nullopt;
  }
  Sector data;
  for (std::uint32_t i = 0; i < SectorsFor(directory.size); ++i) {
    if (!ReadSector(image, directory.sector + i, data)) {
      fault.code = kImageDirectoryUnreadable;
      return std::nullopt;
    }
    // Records never cross a sector boundary; a zero length ends the sector.
    for (std::size_t at = 0; at < data.size() && data[at] != 0;) {
      const std::size_t length = data[at];
      const unsigned char* record = &data[at];
      if (length < kDirectoryRecordHeader + 1 || at + length > data.size() ||
          kDirectoryRecordHeader + record[32] > length) {
        fault.code = kImageDirectoryRecordMalformed;
        return std::nullopt;
      }
      at += length;
      const RecordName recordName = ReadName(record, length);
      const bool match = recordName.rockRidge ? recordName.text == name : SameIsoName(recordName.text, name);
      if (!match) continue;
      DirectoryEntry entry;
      entry.extent.sector = Le32(record + 2);
      entry.extent.size = Le32(record + 10);
      entry.directory = (record[25] & kFlagDirectory) != 0;
      if (!InsideVolume(entry.extent, volumeSectors)) {
        fault.code = kImageFileOutsideVolume;
        return std::nullopt;
      }
      return entry;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<IsoVolume> ReadIsoVolume(const ImageBytes& image, std::uint64_t imageSize, ImageFault& fault) {
  IsoVolume volume;
  bool primary = false;
  std::uint32_t catalogSector = 0;
  bool elTorito = false;
  Sector data;
  for (std::uint32_t i = 0; i < kMaxDescriptors; ++i) {
    if (!ReadSector(image, kFirstDescriptor + i, data) || std::memcmp(&data[1], "CD001", 5) != 0) break;
    if (data[0] == kDescriptorTerminator) break;
    if (data[0] == kDescriptorPrimary && !primary) {
      primary = true;
      volume.volumeSectors = Le32(&data[80]);
      volume.root.sector = Le32(&data[156 + 2]);
      volume.root.size = Le32(&data[156 + 10]);
      volume.volumeId.assign(reinterpret_cast<const char*>(&data[40]), 32);
      volume.creationDate.assign(reinterpret_cast<const char*>(&data[813]), 17);
    } else if (data[0] == kDescriptorBootRecord &&
               std::memcmp(&data[7], kElToritoId, sizeof kElToritoId - 1) == 0) {
      elTorito = true;
      catalogSector = Le32(&data[0x47]);
    }
  }
  if (!primary) {
    fault.code = kImageNoPrimaryDescriptor;
    return std::nullopt;
  }
  // A program that stopped halfway leaves a volume that claims more than the
  // file holds; checking it once here covers every extent inside the volume.
  const std::uint64_t heldSectors = imageSize / kIsoSectorSize;
  if (heldSectors < volume.volumeSectors) {
    fault.code = kImageShorterThanVolume;
    fault.heldSectors = heldSectors;
    fault.volumeSectors = volume.volumeSectors;
    return std::nullopt;
  }
  if (!InsideVolume(volume.root, volume.volumeSectors)) {
    fault.code = kImageRootOutsideVolume;
    return std::nullopt;
  }
  if (elTorito) {
    volume.catalog = ReadCatalog(image, catalogSector, volume.volumeSectors, fault);
    if (!volume.catalog) return std::nullopt;
  }
  return volume;
}

std::optional<IsoExtent> FindIsoFile(const ImageBytes& image, const IsoVolume& volume, const std::string& path,
                                     ImageFault& fault) {
  DirectoryEntry current{volume.root, true};
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (!current.directory) return std::nullopt;
    const std::optional<DirectoryEntry> next = FindInDirectory(image, current.extent, volume.volumeSectors, part, fault);
    if (!next) return std::nullopt;
    current = *next;
  }
  if (current.directory) return std::nullopt;
  return current.extent;
}
