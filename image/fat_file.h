#pragma once

#include <optional>
#include <string>

/// Reading one file out of a FAT12, FAT16 or FAT32 file system held in memory,
/// such as the FAT image a distribution brings for UEFI firmware. Names are
/// matched against the 8.3 short names, without regard to case: the loaders
/// firmware starts (EFI/BOOT/BOOTX64.EFI) have short names of their own.

/// The content of the file at `path` ("EFI/BOOT/BOOTX64.EFI": names separated
/// by '/') in the file system `image`. Nothing when the path names no file, or
/// when anything on the way to it lies outside the image, loops, or ends before
/// the file does: the image is outside input.
std::optional<std::string> ReadFatFile(const std::string& image, const std::string& path);
