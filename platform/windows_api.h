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

/// Where writing to `path` lands (paths_win32.cpp), for opening it there:
/// the folder part resolved by the file system, so that a `..` after a linked
/// folder climbs from the link's target; then, while the file name is a
/// symbolic link or junction, its target takes its place (a relative target
/// counts from the link's real folder). A link whose target does not exist
/// yet gives that target. A folder part that does not exist is left as
/// written, made absolute, for the opening to report. Fails after too many
/// links in a row. Windows has no protection of shared folders against links
/// to lose by following them here (and only privileged accounts make
/// symbolic links).
bool ResolveLinks(const std::string& path, std::string& resolved);

}  // namespace platform
