// Fuzz target: reading the loader out of a FAT image a distribution brings,
// and looking for its signature. Whatever the bytes, a loader read is no
// larger than the image that holds it.

#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "image/boot_material.h"
#include "image/fat_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  const std::string image(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> loader = ReadFatFile(image, "EFI/BOOT/BOOTX64.EFI");
  if (loader) {
    FUZZ_CHECK(loader->size() <= image.size(), "a file larger than its file system was read");
    CarriesAuthenticodeSignature(*loader);
  }
  CarriesAuthenticodeSignature(image);
  return 0;
}
