#pragma once

#include <cstdint>
#include <string>

/// Error codes left in the thread's last error by downloads, with the names,
/// numbers and meanings of the WinINet family so that callers can tell them
/// apart; ErrorCodeText gives each a text of the tool's. The tool's own codes
/// (kErrorFileTooLarge and the like) are in platform/error_codes.h.
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

#define RSCDC_INTERNET_ERROR_ENUMERATOR(name, value) name = value,
#define RSCDC_INTERNET_ERROR_NAME(name, value) name,

enum InternetErrorCode : std::uint32_t { RSCDC_INTERNET_ERROR_CODES(RSCDC_INTERNET_ERROR_ENUMERATOR) };

/// Every code of the list, for the tests.
inline constexpr InternetErrorCode kInternetErrorCodes[] = {RSCDC_INTERNET_ERROR_CODES(RSCDC_INTERNET_ERROR_NAME)};

#undef RSCDC_INTERNET_ERROR_ENUMERATOR
#undef RSCDC_INTERNET_ERROR_NAME

/// Text for a platform or download error code. Never fails: a code nobody
/// describes gives "Error 0x%08x".
std::string ErrorCodeText(std::uint32_t code);

/// ErrorCodeText of the calling thread's current last error.
std::string LastErrorText();
