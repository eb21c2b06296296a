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

/// True when `path` names something that can be opened for reading and is not a
/// folder; otherwise false with the reason in `errno` (EISDIR for a folder).
bool IsReadableFile(const std::string& path);

}  // namespace platform
