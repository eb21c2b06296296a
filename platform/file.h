#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

/// C-runtime style file access by native path. Every failure leaves its reason in
/// `errno`, which is how file and archive operations report.
namespace platform {

/// `path` in the standard library's path type, for C++ streams and
/// std::filesystem: the same file that OpenFile opens.
std::filesystem::path FilePath(const std::string& path);
/// The other way: a path of the standard library as UTF-8 text.
std::string FilePathText(const std::filesystem::path& path);

/// fopen with a native path and a C mode string ("rb", "wb", "ab"; "wbx" creates
/// a file that must not exist yet, failing with EEXIST).
std::FILE* OpenFile(const std::string& path, const char* mode);

/// 64-bit seek and position of a C stream.
int SeekFile(std::FILE* file, std::int64_t offset, int origin);
std::int64_t TellFile(std::FILE* file);

/// True when `path` names the very file that `stream` is open on, under this
/// name or another; false when it names another file or nothing.
bool IsSameFile(std::FILE* stream, const std::string& path);

/// Sets both access and modification time to `mtime` seconds since 1970 (UTC).
bool SetFileTimes(const std::string& path, std::uint32_t mtime);

/// Creates one directory, leaving `errno` (EEXIST when the name is taken).
bool MakeDirectory(const std::string& path);

/// Deletes one file.
bool DeleteFile(const std::string& path);

}  // namespace platform
