#pragma once

#include <string>

/// Error numbers of the archive subsystem. They travel in `errno` beside the C
/// library's own codes, so they sit far above every standard `errno` value (the
/// Linux numbers 100-102 are ENETDOWN, ENETUNREACH and ENETRESET).
inline constexpr int ARCHIVE_CORRUPT = 1100;
inline constexpr int ARCHIVE_TRUNCATED = 1101;
inline constexpr int ARCHIVE_UNSUPPORTED = 1102;

/// Text for the calling thread's current `errno`: the archive texts for the three
/// numbers above, the C library's message otherwise.
std::string FileErrorText();

/// The same text for a given error number.
std::string FileErrorText(int errorNumber);
