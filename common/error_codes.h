#pragma once

#include <cstdint>

/// The tool's own error codes, one list per channel: the numbers its
/// application code leaves in the thread's last error and in `errno`, and the
/// WinINet family that downloads report on every system. The codes the
/// platform layer raises itself are in platform/error_codes.h; a new reason of
/// the application's takes the next free number of its list here. Each list
/// makes its enumeration and the array of all its codes that the tests walk;
/// the texts (common/error_text.cpp) switch over the enumerations without a
/// default, so that -Wswitch names a code that has no text.

// Last-error codes of the application. Bit 29 marks application-defined
// codes, as on Windows: 0x200000xx for a place the run refuses, 0x200001xx
// for what a download brought.
#define RSCDC_APP_LAST_ERROR_CODES(X)                                                          \
  X(kErrorInsideWorkingFolder, 0x20000006)  /* a path inside the working folder or its lock */ \
  X(kErrorFileTooLarge, 0x20000101)         /* past the size limit of a download */            \
  X(kErrorNotZipArchive, 0x20000102)        /* not the zip archive asked for */                \
  X(kErrorProxyRefused, 0x20000103)         /* the proxy answered 407, or refused a tunnel */

// `errno` numbers of the archive subsystem, under the names the system gives
// them. They sit far above every standard `errno` value, beside the
// platform's own (platform/error_codes.h).
#define RSCDC_APP_ERRNO_CODES(X) \
  X(ARCHIVE_CORRUPT, 1100)       \
  X(ARCHIVE_TRUNCATED, 1101)     \
  X(ARCHIVE_UNSUPPORTED, 1102)

// Error codes left in the thread's last error by downloads, with the names,
// numbers and meanings of the WinINet family so that callers can tell them
// apart.
#define RSCDC_INTERNET_ERROR_CODES(X)                                               \
  X(ERROR_INTERNET_TIMEOUT, 12002)                                                  \
  X(ERROR_INTERNET_EXTENDED_ERROR, 12003) /* FTP server refused */                  \
  X(ERROR_INTERNET_INTERNAL_ERROR, 12004)                                           \
  X(ERROR_INTERNET_INVALID_URL, 12005)                                              \
  X(ERROR_INTERNET_UNRECOGNIZED_SCHEME, 12006)                                      \
  X(ERROR_INTERNET_NAME_NOT_RESOLVED, 12007)                                        \
  X(ERROR_INTERNET_INCORRECT_PASSWORD, 12014)                                       \
  X(ERROR_INTERNET_LOGIN_FAILURE, 12015)                                            \
  X(ERROR_INTERNET_ITEM_NOT_FOUND, 12028) /* HTTP 404 */                            \
  X(ERROR_INTERNET_CANNOT_CONNECT, 12029) /* also: an HTTP status other than 200 */ \
  X(ERROR_INTERNET_CONNECTION_ABORTED, 12030)                                       \
  X(ERROR_INTERNET_SEC_CERT_DATE_INVALID, 12037)                                    \
  X(ERROR_INTERNET_SEC_CERT_CN_INVALID, 12038)                                      \
  X(ERROR_INTERNET_INVALID_CA, 12045)                                               \
  X(ERROR_INTERNET_SEC_CERT_REV_FAILED, 12057)                                      \
  X(ERROR_FTP_NO_PASSIVE_MODE, 12112)                                               \
  X(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, 12157)                                   \
  X(ERROR_INTERNET_SEC_INVALID_CERT, 12169)                                         \
  X(ERROR_INTERNET_SEC_CERT_REVOKED, 12170)                                         \
  X(ERROR_INTERNET_DECODING_FAILED, 12175)

#define RSCDC_ERROR_CODE_ENUMERATOR(name, value) name = value,
#define RSCDC_ERROR_CODE_NAME(name, value) name,

enum AppLastErrorCode : std::uint32_t { RSCDC_APP_LAST_ERROR_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };
enum AppErrnoCode : int { RSCDC_APP_ERRNO_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };
enum InternetErrorCode : std::uint32_t { RSCDC_INTERNET_ERROR_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };

/// Every code of each list, in the order of the list.
inline constexpr AppLastErrorCode kAppLastErrorCodes[] = {RSCDC_APP_LAST_ERROR_CODES(RSCDC_ERROR_CODE_NAME)};
inline constexpr AppErrnoCode kAppErrnoCodes[] = {RSCDC_APP_ERRNO_CODES(RSCDC_ERROR_CODE_NAME)};
inline constexpr InternetErrorCode kInternetErrorCodes[] = {RSCDC_INTERNET_ERROR_CODES(RSCDC_ERROR_CODE_NAME)};

#undef RSCDC_ERROR_CODE_ENUMERATOR
#undef RSCDC_ERROR_CODE_NAME
