// Fuzz target: reading a mastered image and completing its boot ways. The
// input is read from memory, then completed as a file with MBR code and the
// EFI image's path at hand. Completing may change the system area, the boot
// catalog and bytes after the end, never the rest of the image.

#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "image/boot_completion.h"

namespace {

ImageBytes MemoryImage(const std::string& bytes) {
  return [&bytes](std::uint64_t offset, void* data, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::memcpy(data, bytes.data() + offset, size);
    return true;
  };
}

std::string ReadBack(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(file != nullptr, "the completed image is gone");
  std::string bytes;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const ImageBytes image = MemoryImage(input);
  ImageFault fault;
  const std::optional<IsoVolume> volume = ReadIsoVolume(image, input.size(), fault);
  FUZZ_CHECK(volume.has_value() == !fault, "a volume was read with a reason, or refused without one");
  if (volume) {
    ReadBootWays(image, *volume);
    for (const char* path : {"boot/grub/efi.img", "EFI/boot/efiboot.img", "boot/isolinux/isolinux.bin"}) {
      ImageFault lookup;
      FindIsoFile(image, *volume, path, lookup);
    }
  }

  const std::string& scratch = fuzzing::ProcessScratchFolder();
  const std::string path = scratch + "/image.iso";
  const std::string mbr = scratch + "/isohdpfx.bin";
  fuzzing::WriteFile(path, data, size);
  fuzzing::WriteFile(mbr, std::string(432, '\x33').data(), 432);
  BootWays ways;
  ImageFault failure;
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  FUZZ_CHECK(file != nullptr, "the image to complete cannot be opened");
  const bool completed = CompleteBootWays(file, mbr, "boot/grub/efi.img", ways, failure);
  FUZZ_CHECK(std::fclose(file) == 0, "the completed image cannot be closed");
  FUZZ_CHECK(completed == !failure, "completion failed without a reason, or succeeded with one");
  if (completed) {
    FUZZ_CHECK(volume.has_value(), "an image that cannot be read was completed");
    const std::string after = ReadBack(path);
    FUZZ_CHECK(after.size() >= size, "completion cut the image short");
    FUZZ_CHECK(size / kIsoSectorSize >= volume->volumeSectors, "an image shorter than its volume was completed");
    const std::size_t catalog = volume->catalog ? std::size_t{volume->catalog->sector} * kIsoSectorSize : 0;
    for (std::size_t at = 16 * kIsoSectorSize; at < size; ++at) {
      if (at >= catalog && at < catalog + kIsoSectorSize) continue;
      FUZZ_CHECK(after[at] == input[at], "completion changed the image outside the system area and catalog");
    }
  }
  std::remove(path.c_str());
  return 0;
}
