#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// The description of a last-error code (on POSIX, of an `errno` value) without
/// a trailing line end: the tool's own text for its own codes
/// (platform/error_codes.h), the operating system's otherwise. False when
/// neither has one.
bool SystemErrorDescription(std::uint32_t code, std::string& text);

/// The operating system's part of SystemErrorDescription: the same without the
/// tool's own codes.
bool OsErrorDescription(std::uint32_t code, std::string& text);

/// The description of an `errno` number: the tool's own text for its own
/// numbers (platform/error_codes.h), the C library's message (strerror)
/// otherwise.
std::string ErrnoDescription(int errorNumber);

}  // namespace platform
