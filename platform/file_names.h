#pragma once

#include <string>

/// Which names the file system here can hold, and which of them it tells
/// apart. Both operations take one component of a path: the text between two
/// separators, never empty, never "." or "..".
namespace platform {

/// True when a file or folder made under `component` keeps exactly that name.
/// False where the system would turn it into something else: a device, a name
/// without its trailing dots or blanks, or no file at all.
bool HoldsFileName(const std::string& component);

/// The form under which the file system finds `component`: two names with the
/// same key are one file or folder (on Windows, names that differ only in case).
std::string FileNameKey(const std::string& component);

}  // namespace platform
