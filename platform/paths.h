#pragma once

#include <string>

/// Paths and folders. Failures leave the reason in the thread's last error
/// (platform::GetLastError); on POSIX that reason is the `errno` value.
namespace platform {

/// Native path separator, used where a path is joined from parts.
inline constexpr char kPathSeparator = '/';

/// Absolute, lexically normalised form of `path`, resolved against the current
/// folder. The file need not exist.
bool FullPath(const std::string& path, std::string& full);

/// Where writing to `path` lands: while `path` names a symbolic link, the link's
/// target takes its place (a relative target counts from the link's folder),
/// and the result is made absolute and lexically normalised. A link whose target
/// does not exist yet gives that target. Fails with ELOOP's code after too many
/// links in a row. Where every program writes through links by itself
/// (Windows), this is the full path.
bool ResolveLinks(const std::string& path, std::string& resolved);

/// The user's temporary folder, always ending with a separator.
bool TempFolder(std::string& folder);

/// Creates one folder (its parent must exist). `alreadyExisted` tells the caller
/// that the only problem was an existing entry of that name.
bool CreateFolder(const std::string& path, bool& alreadyExisted);

/// Removes a folder and everything below it. True when nothing is left.
bool RemoveTree(const std::string& path);

/// Full path of the running executable.
bool ExecutablePath(std::string& path);

/// Locates a program by name along the search path (PATH). Empty when not found.
std::string FindProgramOnPath(const std::string& name);

}  // namespace platform
