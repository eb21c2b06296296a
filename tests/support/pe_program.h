#pragma once

#include <cstddef>
#include <string>

/// Windows and UEFI programs built from bytes, for tests of what the tool
/// reads in the boot loaders a distribution brings.
namespace testing_support {

/// Types of certificate-table entry.
inline constexpr unsigned kPkcsSignedData = 2;
inline constexpr unsigned kX509Certificate = 1;

/// A 64-bit PE program of `size` bytes (at least 512) with its headers as a
/// linker writes them. With `certificateType` nonzero, a certificate table of
/// one entry of that type at the end, as a signing tool appends it.
std::string PeProgram(std::size_t size, unsigned certificateType);

/// Where PeProgram puts the certificate table's directory entry (its file
/// offset, then its size) and the optional header's magic number.
inline constexpr std::size_t kPeCertificateDirectory = 0x80 + 24 + 112 + 4 * 8;
inline constexpr std::size_t kPeOptionalMagic = 0x80 + 24;

}  // namespace testing_support
