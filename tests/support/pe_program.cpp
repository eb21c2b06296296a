#include "tests/support/pe_program.h"

#include "image/little_endian.h"

namespace testing_support {

std::string PeProgram(std::size_t size, unsigned certificateType) {
  std::string bytes(size, '\x90');
  bytes.replace(0, 2, "MZ");
  constexpr std::size_t kPe = 0x80;
  WriteLittleEndian(&bytes[0x3C], kPe, 4);
  bytes.replace(kPe, 4, std::string("PE\0\0", 4));
  WriteLittleEndian(&bytes[kPe + 4], 0x8664, 2);
  WriteLittleEndian(&bytes[kPe + 20], 240, 2);  // the optional header's size
  WriteLittleEndian(&bytes[kPeOptionalMagic], 0x20B, 2);
  WriteLittleEndian(&bytes[kPeOptionalMagic + 108], 16, 4);  // directories
  for (std::size_t d = 0; d < 16 * 8; ++d) bytes[kPeOptionalMagic + 112 + d] = '\0';
  if (certificateType != 0) {
    const std::size_t table = size - 24;
    WriteLittleEndian(&bytes[kPeCertificateDirectory], table, 4);
    WriteLittleEndian(&bytes[kPeCertificateDirectory + 4], 24, 4);
    WriteLittleEndian(&bytes[table], 24, 4);
    WriteLittleEndian(&bytes[table + 4], 0x0200, 2);
    WriteLittleEndian(&bytes[table + 6], certificateType, 2);
  }
  return bytes;
}

}  // namespace testing_support
