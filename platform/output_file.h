#pragma once

#include <cstddef>
#include <string>

namespace platform {

/// A file that one operation writes from the start: created or truncated on
/// opening, write-only, and closed with the object. Failures leave their reason
/// in `errno`, as file operations report.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Creates `path`, or truncates the file already there.
  bool Create(const std::string& path);
  bool IsOpen() const { return descriptor_ >= 0; }
  /// Writes the whole block, or fails (a disk that fills up gives ENOSPC).
  bool Write(const void* data, std::size_t size);
  /// Closes the file; false when the system reports that data was not stored.
  bool Close();

 private:
  int descriptor_ = -1;
};

/// True when `path` names a regular file that can be opened for reading;
/// otherwise false with the reason in `errno` (EISDIR for a folder,
/// kErrnoNotRegularFile of platform/error_codes.h for anything else that is
/// not a regular file).
bool IsReadableFile(const std::string& path);

/// Proves that `path` can be opened for appending: creates it empty when
/// missing (`created` then says so), never truncates it, and never waits (on a
/// pipe without reader, for one). False with the reason in `errno` when it
/// cannot be opened or is not a regular file (kErrnoNotRegularFile).
bool ProbeAppendableFile(const std::string& path, bool& created);

/// Creates a new, empty file in the folder of `path`, named after it: its file
/// name, then `tag`, then a part that no other file there has. For a file that
/// is written in full before it takes `path`'s place (MoveIntoPlace). False
/// with the reason in `errno` when the folder takes no new file.
bool CreateFileBeside(const std::string& path, const std::string& tag, std::string& created);

/// Puts the file `from` in the place of the existing file `to` in one step, so
/// that `to` names either the old file or the whole new one, never a part. The
/// new file takes the old one's permission bits (and, where the system lets
/// us, its owner). False with the reason in `errno`; both files then stay.
bool MoveIntoPlace(const std::string& from, const std::string& to);

}  // namespace platform
