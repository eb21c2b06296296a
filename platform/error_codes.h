#pragma once

#include <cstdint>

/// The tool's own error codes, one registry per channel: the numbers it leaves
/// in the thread's last error (platform/last_error.h) and the numbers it
/// leaves in `errno`, each beside the system's own codes of that channel. A
/// new reason takes the next free number of its list here. Each list makes
/// the enumeration, and the array of all its codes that the tests walk; the
/// texts (error_codes.cpp) switch over the enumeration without a default, so
/// that -Wswitch names a code that has no text.
namespace platform {

// Last-error codes. Bit 29 marks application-defined codes, as on Windows:
// 0x200000xx for reasons found by the platform. The two resource codes have the numbers of Windows'
// ERROR_RESOURCE_DATA_NOT_FOUND and ERROR_RESOURCE_TYPE_NOT_FOUND on every
// platform, and the tool's own texts on every platform.
#define RSCDC_OWN_LAST_ERROR_CODES(X)                                                          \
  X(kErrorResourceEmpty, 1812)              /* the resource in the executable has no bytes */  \
  X(kErrorResourceNotFound, 1813)           /* no such resource in the executable */           \
  X(kErrorFolderIsLink, 0x20000001)         /* a link where the working folder should be */    \
  X(kErrorFolderNotOwned, 0x20000002)       /* the working folder or its lock is another's */  \
  X(kErrorFolderShared, 0x20000003)         /* others may write into the working folder */     \
  X(kErrorRunInProgress, 0x20000004)        /* another run holds the lock */                   \
  X(kErrorNotRegularFile, 0x20000005)       /* = kErrnoNotRegularFile, in this channel */      \
  X(kErrorTempFolderNotOwned, 0x20000007)   /* the temporary folder or one above is another's */ \
  X(kErrorTempFolderShared, 0x20000008)     /* others may rename in it, or one above it */

// `errno` numbers. They sit far above every standard `errno` value (the Linux
// numbers 100-102 are ENETDOWN, ENETUNREACH and ENETRESET), after the
// archive subsystem's 1100-1102.
#define RSCDC_OWN_ERRNO_CODES(X)                                                                 \
  /* Something that is no regular file (a pipe, a device, a socket): reading it may never end */ \
  /* and writing it stores nothing. */                                                           \
  X(kErrnoNotRegularFile, 1103)                                                                  \
  /* The name of a file the tool made now names another file: someone renamed it. */            \
  X(kErrnoFileReplaced, 1104)

#define RSCDC_ERROR_CODE_ENUMERATOR(name, value) name = value,
#define RSCDC_ERROR_CODE_NAME(name, value) name,

enum LastErrorCode : std::uint32_t { RSCDC_OWN_LAST_ERROR_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };
enum ErrnoCode : int { RSCDC_OWN_ERRNO_CODES(RSCDC_ERROR_CODE_ENUMERATOR) };

/// Every code of each list, in the order of the list.
inline constexpr LastErrorCode kOwnLastErrorCodes[] = {RSCDC_OWN_LAST_ERROR_CODES(RSCDC_ERROR_CODE_NAME)};
inline constexpr ErrnoCode kOwnErrnoCodes[] = {RSCDC_OWN_ERRNO_CODES(RSCDC_ERROR_CODE_NAME)};

#undef RSCDC_ERROR_CODE_ENUMERATOR
#undef RSCDC_ERROR_CODE_NAME

/// The tool's text for one of its own last-error codes; null for any other
/// code, which the system describes (SystemErrorDescription).
const char* OwnLastErrorText(std::uint32_t code);

/// The tool's text for one of its own `errno` numbers; null for any other
/// number, which the C library describes (ErrnoDescription).
const char* OwnErrnoText(int errorNumber);

/// Not a number of the tool's own: the system's code for an operation that was
/// stopped (EINTR; on Windows ERROR_OPERATION_ABORTED), which a download that
/// gave way to an interrupt request leaves in the last error. File and archive
/// operations leave EINTR in `errno` instead. Its text is the system's.
extern const std::uint32_t kErrorInterrupted;

}  // namespace platform
