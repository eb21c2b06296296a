#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// The operating system's own description of an error code (on POSIX, of an
/// `errno` value), without a trailing line end. False when it has none.
bool SystemErrorDescription(std::uint32_t code, std::string& text);

/// The operating system's part of SystemErrorDescription: the same without the
/// tool's own codes (kErrorFolderIsLink, kResourceNotFound and the like).
bool OsErrorDescription(std::uint32_t code, std::string& text);

}  // namespace platform
