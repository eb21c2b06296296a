#pragma once

#include <istream>
#include <vector>

#include "verify/file_entry.h"

/// The manifest body: one line per file, byte for byte a quote, the name, a
/// quote, a space, a decimal number, a space, the checksum and a line feed;
/// lines starting with `#` are comments. Nothing else may stand in the body.
namespace verify {

/// Bytes 0x20-0x7E except `"` `*` `:` `<` `>` `?` `|`.
bool is_name_char(char c);
/// `0`-`9` and `a`-`f`; upper-case digits are not accepted.
bool is_hex_lower(char c);

/// Parses the whole input into `entries`, which is replaced only when the input
/// ends neither failed nor bad; a malformed body leaves `entries` untouched and
/// the input failed.
void parse_manifest(std::istream& in, std::vector<file_entry>& entries);

}  // namespace verify
