#pragma once

// For the *_win32.cpp files only: the Windows API with the macros that would
// rename the tool's own functions (DeleteFile, FindResource) taken away, and the
// conversions between the tool's UTF-8 text and the API's UTF-16.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef DeleteFile
#undef FindResource

#include <string>

namespace platform {

/// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring UTF8ToUTF16(const std::string& text);
/// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string UTF16ToUTF8(const std::wstring& text);
std::string UTF16ToUTF8(const wchar_t* text, std::size_t length);

}  // namespace platform
