#pragma once

#include <string>

#include "platform/error_codes.h"

/// Error numbers of the archive subsystem. They travel in `errno` beside the C
/// library's own codes; their numbers are in the registry of the tool's own
/// `errno` numbers (platform/error_codes.h), under the names the system gives
/// them.
using platform::ARCHIVE_CORRUPT;
using platform::ARCHIVE_TRUNCATED;
using platform::ARCHIVE_UNSUPPORTED;

/// Text for the calling thread's current `errno`: the tool's own texts for its
/// own numbers (the three above among them), the C library's message otherwise.
std::string FileErrorText();

/// The same text for a given error number.
std::string FileErrorText(int errorNumber);
