#include "image/boot_completion.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "image/little_endian.h"
#include "image/partition_tables.h"
#include "platform/file.h"

namespace {

constexpr std::size_t kSystemAreaSize = kIsoSystemAreaSectors * kIsoSectorSize;
constexpr std::uint8_t kPlatformX86 = 0x00;
constexpr std::uint8_t kPlatformUefi = 0xEF;
constexpr std::uint8_t kMbrTypeIsohybrid = 0x17;
constexpr std::uint8_t kMbrTypeProtective = 0xEE;
constexpr std::uint8_t kMbrTypeEfi = 0xEF;
// The most MBR code the hybrid layout has room for, and the least it needs.
constexpr std::size_t kMbrCodeMax = kDiskSectorSize;
// A GPT entry array larger than this is not one a program wrote.
constexpr std::uint64_t kMaxGptEntryBytes = 1024 * 1024;

bool AllZero(const std::string& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

std::string ReadBytes(const ImageBytes& image, std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  if (!image(offset, bytes.data(), size)) bytes.clear();
  return bytes;
}

/// True when the GPT that the sector after the MBR begins holds an EFI system
/// partition, and its header and entries carry the right CRCs.
bool GptHasEfiPartition(const ImageBytes& image) {
  std::string header = ReadBytes(image, kDiskSectorSize, kDiskSectorSize);
  if (header.size() != kDiskSectorSize || header.compare(0, 8, "EFI PART") != 0) return false;
  const auto* h = reinterpret_cast<const unsigned char*>(header.data());
  const std::uint64_t headerSize = ReadLittleEndian(h + 12, 4);
  if (headerSize < 92 || headerSize > kDiskSectorSize) return false;
  const std::uint32_t headerCrc = static_cast<std::uint32_t>(ReadLittleEndian(h + 16, 4));
  std::string unsummed = header.substr(0, headerSize);
  std::fill(unsummed.begin() + 16, unsummed.begin() + 20, '\0');
  if (GptCrc(unsummed) != headerCrc) return false;
  const std::uint64_t entriesAt = ReadLittleEndian(h + 72, 8);
  const std::uint64_t count = ReadLittleEndian(h + 80, 4);
  const std::uint64_t entrySize = ReadLittleEndian(h + 84, 4);
  if (entrySize == 0 || count * entrySize > kMaxGptEntryBytes || entriesAt > UINT64_MAX / kDiskSectorSize) {
    return false;
  }
  const std::string entries = ReadBytes(image, entriesAt * kDiskSectorSize, count * entrySize);
  if (entries.size() != count * entrySize || GptCrc(entries) != ReadLittleEndian(h + 88, 4)) return false;
  return HasEfiSystemPartition(entries, entrySize);
}

/// The image file, open for reading and writing; the caller keeps it.
class ImageFile {
 public:
  explicit ImageFile(std::FILE* file) : file_(file) {}

  ImageBytes Reader() {
    return [this](std::uint64_t offset, void* data, std::size_t size) {
      return platform::SeekFile(file_, static_cast<std::int64_t>(offset), SEEK_SET) == 0 &&
             std::fread(data, 1, size, file_) == size;
    };
  }
  bool Size(std::uint64_t& size) {
    if (platform::SeekFile(file_, 0, SEEK_END) != 0) return false;
    const std::int64_t end = platform::TellFile(file_);
    size = static_cast<std::uint64_t>(end);
    return end >= 0;
  }
  bool Write(std::uint64_t offset, const std::string& bytes) {
    return platform::SeekFile(file_, static_cast<std::int64_t>(offset), SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() && std::fflush(file_) == 0;
  }
  bool Flush() { return std::fflush(file_) == 0; }

 private:
  std::FILE* file_;
};

/// False, with `fault` set to `code`.
bool Failed(ImageFault& fault, ImageFaultCode code) {
  fault.code = code;
  return false;
}

/// False, with `fault` set to `code` for the file that failed with `errno`.
bool FileFailed(ImageFault& fault, ImageFaultCode code, const std::string& file = {}) {
  fault.errorNumber = errno;
  fault.file = file;
  return Failed(fault, code);
}

bool ReadMbrCode(const std::string& path, std::string& code, ImageFault& fault) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::OpenFile(path, "rb"), std::fclose);
  if (!file) return FileFailed(fault, kImageMbrCodeUnreadable, path);
  code.assign(kMbrCodeMax + 1, '\0');
  code.resize(std::fread(code.data(), 1, code.size(), file.get()));
  if (code.size() < kMbrCodeSize || code.size() > kMbrCodeMax) {
    fault.file = path;
    return Failed(fault, kImageNotMbrCode);
  }
  return true;
}

/// The catalog sector with a final section for the UEFI entry added after the
/// last entry.
std::string WithUefiSection(std::string sector, const BootCatalog& catalog, const IsoExtent& efi) {
  if (catalog.lastHeader != 0) sector[catalog.lastHeader] = '\x90';
  std::string added(64, '\0');
  added[0] = '\x91';
  added[1] = static_cast<char>(kPlatformUefi);
  added[2] = 1;
  added[32] = '\x88';
  const std::uint32_t count = efi.size / kDiskSectorSize + (efi.size % kDiskSectorSize != 0);
  WriteLittleEndian(&added[32 + 6], count, 2);
  WriteLittleEndian(&added[32 + 8], efi.sector, 4);
  sector.replace(catalog.end, added.size(), added);
  return sector;
}

/// The faults of one boot image's place.
struct BootImageFaults {
  ImageFaultCode outsideFile;
  ImageFaultCode inSystemArea;
};
constexpr BootImageFaults kEfiImageFaults{kImageEfiImageOutsideFile, kImageEfiImageInSystemArea};
constexpr BootImageFaults kBiosImageFaults{kImageBiosImageOutsideFile, kImageBiosImageInSystemArea};

/// True when a boot image lies inside the file of `fileSize` bytes and after
/// the system area; a partition or MBR code that points anywhere else would
/// boot nothing, or what the partition tables overwrote.
bool BootImageInPlace(const BootImageFaults& faults, const IsoExtent& extent, std::uint64_t fileSize,
                      ImageFault& fault) {
  const std::uint64_t end = static_cast<std::uint64_t>(extent.sector) * kIsoSectorSize + extent.size;
  if (end > fileSize) return Failed(fault, faults.outsideFile);
  if (extent.sector < kIsoSystemAreaSectors) return Failed(fault, faults.inSystemArea);
  return true;
}

}  // namespace

std::string BootWaysText(const BootWays& ways) {
  std::string text;
  const std::pair<bool, const char*> all[] = {
      {ways.biosCd, "BIOS CD"}, {ways.biosUsb, "BIOS USB"}, {ways.uefiCd, "UEFI CD"}, {ways.uefiUsb, "UEFI USB"}};
  for (const auto& [has, name] : all) {
    if (!has) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text.empty() ? "none" : text;
}

BootWays ReadBootWays(const ImageBytes& image, const IsoVolume& volume) {
  BootWays ways;
  std::uint32_t biosImage = 0;
  if (volume.catalog) {
    const BootEntry& first = volume.catalog->defaultEntry;
    ways.biosCd = first.bootable && first.platform == kPlatformX86;
    ways.uefiCd = volume.catalog->hasUefiEntry || (first.bootable && first.platform == kPlatformUefi);
    if (ways.biosCd) biosImage = first.loadSector;
  }
  const std::string mbr = ReadBytes(image, 0, kDiskSectorSize);
  if (mbr.size() != kDiskSectorSize || mbr[510] != '\x55' || mbr[511] != '\xAA') return ways;
  const auto* m = reinterpret_cast<const unsigned char*>(mbr.data());
  ways.biosUsb = biosImage != 0 && !AllZero(mbr.substr(0, kMbrCodeSize)) &&
                 ReadLittleEndian(m + 432, 8) == static_cast<std::uint64_t>(biosImage) * (kIsoSectorSize / kDiskSectorSize);
  for (std::size_t entry = 446; entry < 510; entry += 16) {
    if (m[entry + 4] == kMbrTypeEfi || (m[entry + 4] == kMbrTypeProtective && GptHasEfiPartition(image))) {
      ways.uefiUsb = true;
    }
  }
  return ways;
}

bool CompleteBootWays(std::FILE* imageFile, const std::string& mbrCode, const std::string& efiImage,
                      BootWays& ways, ImageFault& fault) {
  fault = ImageFault{};
  std::string code;
  if (!mbrCode.empty() && !ReadMbrCode(mbrCode, code, fault)) return false;
  ImageFile file(imageFile);
  const ImageBytes image = file.Reader();
  std::uint64_t size = 0;
  if (!file.Size(size)) {
    return Failed(fault, kImageUnreadable);
  }
  std::optional<IsoVolume> volume = ReadIsoVolume(image, size, fault);
  if (!volume) return false;
  if (!volume->catalog) {
    if (code.empty() && efiImage.empty()) {
      ways = ReadBootWays(image, *volume);
      return true;
    }
    return Failed(fault, kImageNoBootCatalog);
  }
  const BootCatalog& catalog = *volume->catalog;
  const std::string systemArea = ReadBytes(image, 0, kSystemAreaSize);
  if (systemArea.empty()) {
    return Failed(fault, kImageUnreadable);
  }
  const bool emptySystemArea = AllZero(systemArea);

  std::optional<IsoExtent> efi;
  if (!efiImage.empty() && (!catalog.hasUefiEntry || emptySystemArea)) {
    efi = FindIsoFile(image, *volume, efiImage, fault);
    if (!efi && fault) return false;
    // An entry counts the image in 512-byte sectors, in 16 bits.
    if (efi && (efi->size == 0 || efi->size > 0xFFFFu * kDiskSectorSize)) efi.reset();
    if (efi && !BootImageInPlace(kEfiImageFaults, *efi, size, fault)) return false;
  }
  const BootEntry& first = catalog.defaultEntry;
  if (emptySystemArea && !code.empty() && first.bootable) {
    const IsoExtent loaded{first.loadSector, std::max<std::uint32_t>(first.sectorCount, 1) * kDiskSectorSize};
    if (!BootImageInPlace(kBiosImageFaults, loaded, size, fault)) return false;
  }
  const std::uint32_t biosImage = first.bootable ? first.loadSector : 0;
  const std::uint32_t biosImageSector = biosImage * (kIsoSectorSize / kDiskSectorSize);
  const std::string seed = volume->creationDate + volume->volumeId + std::to_string(volume->volumeSectors);
  const DiskIds ids = DiskIdsFor(seed);

  if (emptySystemArea && efi) {
    // The backup GPT fills the last sectors; the whole stays in 2048-byte
    // sectors, as a CD writer expects.
    const std::uint64_t withGpt = size + kGptSectors * kDiskSectorSize;
    const std::uint64_t total = (withGpt + kIsoSectorSize - 1) / kIsoSectorSize * kIsoSectorSize;
    const std::uint64_t diskSectors = total / kDiskSectorSize;
    const std::uint64_t efiFirst = static_cast<std::uint64_t>(efi->sector) * (kIsoSectorSize / kDiskSectorSize);
    const Gpt gpt = GptWithEfiPartition(diskSectors, efiFirst, efiFirst + (efi->size - 1) / kDiskSectorSize, ids);
    MbrPartition protective{false, kMbrTypeProtective, 1,
                            static_cast<std::uint32_t>(std::min<std::uint64_t>(diskSectors - 1, 0xFFFFFFFFu))};
    const std::string mbr = MbrSector(biosImage != 0 ? code : std::string(), biosImageSector, ids.mbrSignature,
                                      protective);
    if (!file.Write(size, std::string(total - size - gpt.back.size(), '\0') + gpt.back) ||
        !file.Write(0, mbr + gpt.front)) {
      return FileFailed(fault, kImageUnwritable);
    }
  } else if (emptySystemArea && !code.empty() && biosImage != 0) {
    const MbrPartition whole{true, kMbrTypeIsohybrid, 0,
                             static_cast<std::uint32_t>(std::min<std::uint64_t>(size / kDiskSectorSize, 0xFFFFFFFFu))};
    if (!file.Write(0, MbrSector(code, biosImageSector, ids.mbrSignature, whole))) {
      return FileFailed(fault, kImageUnwritable);
    }
  }
  if (efi && !catalog.hasUefiEntry && catalog.end + 64 <= kIsoSectorSize) {
    const std::uint64_t at = static_cast<std::uint64_t>(catalog.sector) * kIsoSectorSize;
    const std::string sector = ReadBytes(image, at, kIsoSectorSize);
    if (sector.empty() || !file.Write(at, WithUefiSection(sector, catalog, *efi))) {
      return FileFailed(fault, kImageUnwritable);
    }
  }

  if (!file.Size(size)) {
    return Failed(fault, kImageUnreadable);
  }
  volume = ReadIsoVolume(image, size, fault);
  if (!volume) return false;
  ways = ReadBootWays(image, *volume);
  if (!file.Flush()) {
    return FileFailed(fault, kImageUnwritable);
  }
  return true;
}
