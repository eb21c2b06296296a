#pragma once

#include <cstdint>
#include <string>

#include "common/error_codes.h"

/// The one place where an error code becomes text: the application's own
/// codes and the WinINet family (common/error_codes.h) have the tool's texts,
/// every other code falls through to the platform's description of it (its
/// own codes' texts, then the system's).

/// Text for a last-error code. Never fails: a code nobody describes gives
/// "Error 0x%08x".
std::string ErrorCodeText(std::uint32_t code);

/// ErrorCodeText of the calling thread's current last error.
std::string LastErrorText();

/// Text for an `errno` number: the tool's own texts for its own numbers, the C
/// library's message otherwise.
std::string FileErrorText(int errorNumber);

/// FileErrorText of the calling thread's current `errno`.
std::string FileErrorText();

/// Text for a fault of an image, with the facts it carries.
std::string ImageFaultText(const ImageFault& fault);
