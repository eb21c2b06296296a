#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "verify/file_entry.h"

/// Writing manifests: the body lines and the signed-file layout around them,
/// for the publisher's side. Every piece is read back with the library's own
/// reader before it is handed out, so a manifest that the reader would refuse
/// or read differently is never produced: such input raises
/// std::invalid_argument with a text that names the piece and the reason.
namespace verify {

/// The largest number a manifest line can carry.
inline constexpr std::uint64_t kMaxEntryNumber = 4294967295u;
/// Base64 line length of the signature and certificate blocks.
inline constexpr std::size_t kBase64LineLength = 64;
/// A SHA-1 checksum in lower-case hexadecimal.
inline constexpr std::size_t kChecksumLength = 40;

/// Why `name` cannot stand between the quotes of a manifest line (the first
/// byte the reader refuses, described), or empty when it can.
std::string manifest_name_problem(std::string_view name);

/// `"name" number checksum` and a line feed. Refuses a name that
/// `manifest_name_problem` objects to and a checksum that is not 40 lower-case
/// hexadecimal digits.
std::string format_manifest_line(const file_entry& entry);

/// One line per entry, in order. Refuses an empty list: a manifest body is
/// never empty.
std::string format_manifest_body(const std::vector<file_entry>& entries);

/// `bytes` in base64, `kBase64LineLength` characters a line, every line ended
/// by a line feed; the last line is shorter and carries the padding.
std::string base64_lines(std::string_view bytes);

/// The signed-file layout: `body` (complete lines, the last one ended), the
/// signature block over `signature`, the signer certificate block over
/// `signer_der` and one block per chain certificate, nothing after them.
/// Refuses an empty or unterminated body, a body with an empty line or its own
/// signature marker, and a block the reader refuses (an empty one, or one whose
/// only base64 line carries the padding: 1 to 48 bytes not a multiple of three).
std::string format_signed_file(std::string_view body, std::string_view signature, std::string_view signer_der,
                               const std::vector<std::string>& chain_der);

}  // namespace verify
