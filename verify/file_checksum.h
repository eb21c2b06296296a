#pragma once

#include <istream>
#include <string>

/// SHA-1 checksums of files, written as lower-case hexadecimal text the way the
/// manifest records them.
namespace verify {

/// The SHA-1 digest (20 bytes) of everything from the current position to the
/// end of `in`; empty if the digest cannot be computed. A read error leaves the
/// stream bad.
std::string digest_stream(std::istream& in);

/// Two lower-case hexadecimal digits per byte, in byte order.
std::string hex_encode(const std::string& bytes);

}  // namespace verify
