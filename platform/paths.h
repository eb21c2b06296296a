#pragma once

#include <string>

/// Paths and folders. Failures leave the reason in the thread's last error
/// (platform::GetLastError); on POSIX that reason is the `errno` value.
namespace platform {

/// Native path separator, used where a path is joined from parts.
inline constexpr char kPathSeparator = '/';

/// Absolute form of `path`, resolved against the current folder, as a name
/// for the same file: on POSIX "." parts go and ".." parts stay, on Windows
/// both go, as Windows itself takes them. The file need not exist.
bool FullPath(const std::string& path, std::string& full);

/// True when `resolved` (a path with every link resolved, as
/// OutputPlace::RealPath gives it) is the file or
/// folder `place` itself or lies anywhere below it, as the file system sees
/// them: any spelling of the same place counts. `resolved` need not exist.
bool IsAtOrBelow(const std::string& resolved, const std::string& place);

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
