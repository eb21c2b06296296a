#pragma once

#include <cstdint>
#include <string>

/// Error codes left in the thread's last error by downloads, with the numbers
/// and meanings of the WinINet family so that callers can tell them apart.
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_ITEM_NOT_FOUND = 12028;  ///< HTTP 404
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;  ///< also: status not 200

/// Text for a platform or download error code. Never fails: a code nobody
/// describes gives "Error 0x%08x".
std::string ErrorCodeText(std::uint32_t code);

/// ErrorCodeText of the calling thread's current last error.
std::string LastErrorText();
