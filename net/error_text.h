#pragma once

#include <cstdint>
#include <string>

/// Error codes left in the thread's last error by downloads, with the numbers
/// and meanings of the WinINet family so that callers can tell them apart.
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_ITEM_NOT_FOUND = 12028;  ///< HTTP 404
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;  ///< also: status not 200

/// The other codes a download may leave, each with its own text.
inline constexpr std::uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003;  ///< FTP server refused
inline constexpr std::uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
inline constexpr std::uint32_t ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_FTP_NO_PASSIVE_MODE = 12112;
inline constexpr std::uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_INVALID_CERT = 12169;
inline constexpr std::uint32_t ERROR_INTERNET_DECODING_FAILED = 12175;

/// The tool's own codes for what a download brought; platform/ numbers its own
/// from 0x20000001, these from 0x20000101.
inline constexpr std::uint32_t kErrorFileTooLarge = 0x20000101;   ///< past DownloadSettings::sizeLimit
inline constexpr std::uint32_t kErrorNotZipArchive = 0x20000102;  ///< not the zip archive asked for

/// Text for a platform or download error code. Never fails: a code nobody
/// describes gives "Error 0x%08x".
std::string ErrorCodeText(std::uint32_t code);

/// ErrorCodeText of the calling thread's current last error.
std::string LastErrorText();
