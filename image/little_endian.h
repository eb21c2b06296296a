#pragma once

#include <cstddef>
#include <cstdint>

/// Little-endian numbers of `size` bytes (at most 8), as the ISO 9660, El
/// Torito, FAT, MBR and GPT layouts store them.

inline std::uint64_t ReadLittleEndian(const void* bytes, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::uint64_t value = 0;
  for (std::size_t i = size; i > 0; --i) value = value << 8 | p[i - 1];
  return value;
}

inline void WriteLittleEndian(void* bytes, std::uint64_t value, std::size_t size) {
  auto* p = static_cast<unsigned char*>(bytes);
  for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
