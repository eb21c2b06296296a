#include "image/fat_file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/little_endian.h"

namespace {

constexpr std::size_t kEntrySize = 32;
constexpr unsigned kAttributeVolumeLabel = 0x08;
constexpr unsigned kAttributeFolder = 0x10;
constexpr unsigned kLongNamePart = 0x0F;
constexpr unsigned char kDeleted = 0xE5;

/// The layout a FAT boot sector describes, in bytes and clusters.
struct Layout {
  std::uint64_t clusterBytes = 0;
  std::uint64_t fatOffset = 0;
  std::uint64_t rootOffset = 0;  // FAT12 and FAT16: the fixed root folder
  std::uint64_t rootBytes = 0;
  std::uint64_t dataOffset = 0;
  std::uint32_t clusters = 0;  // data clusters, numbered from 2
  std::uint32_t rootCluster = 0;  // FAT32: the root folder's first cluster
  unsigned width = 0;  // bits of a table entry: 12, 16 or 28
};

std::uint64_t Field(const std::string& bytes, std::size_t offset, std::size_t size) {
  return ReadLittleEndian(bytes.data() + offset, size);
}

std::optional<Layout> ReadLayout(const std::string& image) {
  if (image.size() < 512 || Field(image, 510, 2) != 0xAA55) return std::nullopt;
  const std::uint64_t sectorBytes = Field(image, 11, 2);
  const std::uint64_t clusterSectors = Field(image, 13, 1);
  const std::uint64_t reserved = Field(image, 14, 2);
  const std::uint64_t fats = Field(image, 16, 1);
  const std::uint64_t rootEntries = Field(image, 17, 2);
  std::uint64_t sectors = Field(image, 19, 2);
  if (sectors == 0) sectors = Field(image, 32, 4);
  std::uint64_t fatSectors = Field(image, 22, 2);
  if (fatSectors == 0) fatSectors = Field(image, 36, 4);
  if (sectorBytes < 512 || sectorBytes > 4096 || (sectorBytes & (sectorBytes - 1)) != 0 || clusterSectors == 0 ||
      (clusterSectors & (clusterSectors - 1)) != 0 || reserved == 0 || fats == 0 || fatSectors == 0) {
    return std::nullopt;
  }
  Layout layout;
  layout.clusterBytes = clusterSectors * sectorBytes;
  layout.fatOffset = reserved * sectorBytes;
  layout.rootOffset = (reserved + fats * fatSectors) * sectorBytes;
  layout.rootBytes = rootEntries * kEntrySize;
  const std::uint64_t rootSectors = (layout.rootBytes + sectorBytes - 1) / sectorBytes;
  const std::uint64_t dataSector = reserved + fats * fatSectors + rootSectors;
  if (dataSector >= sectors) return std::nullopt;
  const std::uint64_t clusters = (sectors - dataSector) / clusterSectors;
  layout.dataOffset = dataSector * sectorBytes;
  // The count of clusters alone decides the width, as every FAT driver reads it.
  if (clusters < 4085) {
    layout.width = 12;
  } else if (clusters < 65525) {
    layout.width = 16;
  } else {
    layout.width = 28;
    if (clusters > 0x0FFFFFF5) return std::nullopt;
    layout.rootCluster = static_cast<std::uint32_t>(Field(image, 44, 4));
  }
  layout.clusters = static_cast<std::uint32_t>(clusters);
  // The table must hold an entry for every cluster.
  const std::uint64_t entryBits = layout.width == 28 ? 32 : layout.width;
  if (fatSectors * sectorBytes * 8 / entryBits < clusters + 2) return std::nullopt;
  return layout;
}

bool Inside(const std::string& image, std::uint64_t offset, std::uint64_t size) {
  return offset <= image.size() && size <= image.size() - offset;
}

/// The table's entry for `cluster`: the next cluster of its chain, or a mark.
std::optional<std::uint32_t> NextCluster(const std::string& image, const Layout& layout, std::uint32_t cluster) {
  switch (layout.width) {
    case 12: {
      const std::uint64_t at = layout.fatOffset + cluster + cluster / 2;
      if (!Inside(image, at, 2)) return std::nullopt;
      const auto pair = static_cast<std::uint32_t>(Field(image, at, 2));
      return cluster % 2 != 0 ? pair >> 4 : pair & 0xFFF;
    }
    case 16: {
      const std::uint64_t at = layout.fatOffset + std::uint64_t{cluster} * 2;
      if (!Inside(image, at, 2)) return std::nullopt;
      return static_cast<std::uint32_t>(Field(image, at, 2));
    }
    default: {
      const std::uint64_t at = layout.fatOffset + std::uint64_t{cluster} * 4;
      if (!Inside(image, at, 4)) return std::nullopt;
      return static_cast<std::uint32_t>(Field(image, at, 4)) & 0x0FFFFFFF;
    }
  }
}

bool IsEndOfChain(const Layout& layout, std::uint32_t entry) {
  const std::uint32_t end = layout.width == 12 ? 0xFF8 : layout.width == 16 ? 0xFFF8 : 0x0FFFFFF8;
  return entry >= end;
}

bool IsDataCluster(const Layout& layout, std::uint32_t cluster) {
  return cluster >= 2 && cluster - 2 < layout.clusters;
}

/// The bytes of the chain that starts at `first`: at most `limit` of them, and
/// all of the chain's when `limit` is none (folders). Nothing when the chain
/// leaves the data area or the image, loops, or ends before `limit`.
std::optional<std::string> ReadChain(const std::string& image, const Layout& layout, std::uint32_t first,
                                     std::optional<std::uint64_t> limit) {
  std::string bytes;
  if (limit && *limit == 0) return bytes;
  if (limit && *limit > image.size()) return std::nullopt;
  std::uint32_t cluster = first;
  for (;;) {
    if (!IsDataCluster(layout, cluster)) return std::nullopt;
    const std::uint64_t at = layout.dataOffset + std::uint64_t{cluster - 2} * layout.clusterBytes;
    std::uint64_t take = layout.clusterBytes;
    if (limit) take = std::min<std::uint64_t>(take, *limit - bytes.size());
    if (!Inside(image, at, take)) return std::nullopt;
    bytes.append(image, at, take);
    // Distinct clusters inside the image cannot hold more than the image.
    if (bytes.size() > image.size()) return std::nullopt;
    if (limit && bytes.size() == *limit) return bytes;
    const std::optional<std::uint32_t> next = NextCluster(image, layout, cluster);
    if (!next) return std::nullopt;
    if (IsEndOfChain(layout, *next)) {
      if (limit) return std::nullopt;  // the file says it is longer
      return bytes;
    }
    cluster = *next;
  }
}

/// One folder entry as it matters here.
struct Entry {
  bool folder = false;
  std::uint32_t cluster = 0;
  std::uint64_t size = 0;
};

/// The 8.3 name of the entry at `entry`, as "NAME.EXT" in capitals.
std::string ShortName(const std::string& folder, std::size_t entry) {
  auto trimmed = [&](std::size_t offset, std::size_t size) {
    std::string part = folder.substr(entry + offset, size);
    part.erase(part.find_last_not_of(' ') + 1);
    return part;
  };
  std::string name = trimmed(0, 8);
  if (!name.empty() && static_cast<unsigned char>(name[0]) == 0x05) name[0] = static_cast<char>(kDeleted);
  const std::string extension = trimmed(8, 3);
  return extension.empty() ? name : name + "." + extension;
}

std::string Capitals(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::optional<Entry> FindEntry(const std::string& folder, const std::string& wanted, const Layout& layout) {
  for (std::size_t entry = 0; entry + kEntrySize <= folder.size(); entry += kEntrySize) {
    const auto first = static_cast<unsigned char>(folder[entry]);
    if (first == 0) break;  // no entries follow
    const auto attributes = static_cast<unsigned>(static_cast<unsigned char>(folder[entry + 11]));
    if (first == kDeleted || attributes == kLongNamePart || (attributes & kAttributeVolumeLabel) != 0) continue;
    if (ShortName(folder, entry) != wanted) continue;
    Entry found;
    found.folder = (attributes & kAttributeFolder) != 0;
    std::uint32_t cluster = static_cast<std::uint32_t>(Field(folder, entry + 26, 2));
    if (layout.width == 28) cluster |= static_cast<std::uint32_t>(Field(folder, entry + 20, 2)) << 16;
    found.cluster = cluster;
    found.size = Field(folder, entry + 28, 4);
    return found;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadFatFile(const std::string& image, const std::string& path) {
  const std::optional<Layout> layout = ReadLayout(image);
  if (!layout) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end == start) return std::nullopt;
    names.push_back(Capitals(path.substr(start, end - start)));
    start = end + 1;
  }
  std::optional<std::string> folder;
  if (layout->width == 28) {
    folder = ReadChain(image, *layout, layout->rootCluster, std::nullopt);
  } else if (Inside(image, layout->rootOffset, layout->rootBytes)) {
    folder = image.substr(layout->rootOffset, layout->rootBytes);
  }
  for (std::size_t i = 0; folder && i < names.size(); ++i) {
    const std::optional<Entry> entry = FindEntry(*folder, names[i], *layout);
    const bool last = i + 1 == names.size();
    if (!entry || entry->folder == last) return std::nullopt;
    folder = ReadChain(image, *layout, entry->cluster, last ? std::optional<std::uint64_t>(entry->size) : std::nullopt);
  }
  return folder;
}
