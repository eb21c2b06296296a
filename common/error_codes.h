#pragma once

#include <cstdint>
#include <string>

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

// Faults of an ISO 9660 image that the image reader and the completion find
// (image/): what is malformed, or which file failed. They travel in an
// ImageFault, with the facts their texts name, rather than in a channel.
#define RSCDC_IMAGE_FAULT_CODES(X)                                                              \
  X(kImageUnreadable, 0x20000201)               /* the image file cannot be read */            \
  X(kImageUnwritable, 0x20000202)               /* ... or written (errorNumber) */             \
  X(kImageMbrCodeUnreadable, 0x20000203)        /* the MBR code file (file, errorNumber) */    \
  X(kImageNotMbrCode, 0x20000204)               /* the MBR code file has the wrong size */     \
  X(kImageNoPrimaryDescriptor, 0x20000205)                                                     \
  X(kImageShorterThanVolume, 0x20000206)        /* heldSectors of volumeSectors */             \
  X(kImageRootOutsideVolume, 0x20000207)                                                       \
  X(kImageNoBootCatalog, 0x20000208)                                                           \
  X(kImageCatalogOutsideVolume, 0x20000209)                                                    \
  X(kImageCatalogInSystemArea, 0x2000020A)                                                     \
  X(kImageCatalogUnreadable, 0x2000020B)                                                       \
  X(kImageCatalogNotValid, 0x2000020C)                                                         \
  X(kImageCatalogDefaultEntryMalformed, 0x2000020D)                                            \
  X(kImageCatalogSectionsOverrun, 0x2000020E)                                                  \
  X(kImageDirectoryOutsideVolume, 0x2000020F)                                                  \
  X(kImageDirectoryInSystemArea, 0x20000210)                                                   \
  X(kImageDirectoryUnreadable, 0x20000211)                                                     \
  X(kImageDirectoryRecordMalformed, 0x20000212)                                                \
  X(kImageFileOutsideVolume, 0x20000213)                                                       \
  X(kImageEfiImageOutsideFile, 0x20000214)                                                     \
  X(kImageEfiImageInSystemArea, 0x20000215)                                                    \
  X(kImageBiosImageOutsideFile, 0x20000216)                                                    \
  X(kImageBiosImageInSystemArea, 0x20000217)

#define RSCDC_ERROR_CODE_ENUMERATOR(name, value) name = value,
#define RSCDC_ERROR_CODE_NAME(name, value) name,

enum AppLastErrorCode : std::uint32_t { RSCDC_APP_LAST_ERROR_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };
enum AppErrnoCode : int { RSCDC_APP_ERRNO_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };
enum InternetErrorCode : std::uint32_t { RSCDC_INTERNET_ERROR_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };
enum ImageFaultCode : std::uint32_t { RSCDC_IMAGE_FAULT_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };

/// Every code of each list, in the order of the list.
inline constexpr AppLastErrorCode kAppLastErrorCodes[] = {RSCDC_APP_LAST_ERROR_CODES(RSCDC_ERROR_CODE_NAME)};
inline constexpr AppErrnoCode kAppErrnoCodes[] = {RSCDC_APP_ERRNO_CODES(RSCDC_ERROR_CODE_NAME)};
inline constexpr InternetErrorCode kInternetErrorCodes[] = {RSCDC_INTERNET_ERROR_CODES(RSCDC_ERROR_CODE_NAME)};
inline constexpr ImageFaultCode kImageFaultCodes[] = {RSCDC_IMAGE_FAULT_CODES(RSCDC_ERROR_CODE_NAME)};

#undef RSCDC_ERROR_CODE_ENUMERATOR
#undef RSCDC_ERROR_CODE_NAME

/// Why an image cannot be read or completed: a code of the image list and the
/// facts its text names. A value-initialized one names no fault.
struct ImageFault {
  ImageFaultCode code{};
  std::string file;            ///< the file it is about, where that is not the image
  int errorNumber = 0;         ///< the system's reason, for a file that failed
  std::uint64_t heldSectors = 0;    ///< the whole sectors the image file holds
  std::uint64_t volumeSectors = 0;  ///< the sectors its volume claims
  explicit operator bool() const { return code != ImageFaultCode{}; }
};
