#pragma once

#include <cstdint>
#include <string>

/// One line of a manifest: a file name, a number that nothing interprets, and
/// the lower-case hexadecimal SHA-1 checksum of the file's content.
struct file_entry {
  std::string name;          ///< the bytes between the quotes, unaltered
  std::uint32_t number = 0;  ///< stored and handed out only
  std::string checksum;      ///< as written: `0`-`9` and `a`-`f`, any length

  /// Compares the SHA-1 of the file `base_path` + `name` with `checksum`:
  /// 0 equal, 1 different, 2 the file cannot be opened or read. `base_path`
  /// ends with a separator; backslashes of `name` stand for the native one.
  int check_file(const std::string& base_path) const;
};
