#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
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

class OutputPlace;

/// The system's handle of the file an OutputPlace's result goes into (a
/// descriptor, or a Windows HANDLE), for a child process that writes it as
/// its standard output; the place keeps it.
std::intptr_t NativeResultHandle(const OutputPlace& place);

/// The file that a path names for writing, reached as the system resolves
/// the path (through links, with the system's own protection against links
/// planted in shared folders, as for `cp`), and a new file beside it that
/// takes its place in one step once it holds a whole result. After Open,
/// nothing is done by a name that another user could change meanwhile: the
/// files are used through their open handles, and the folder through a handle
/// of its own. Failures leave their reason in `errno`.
class OutputPlace {
 public:
  OutputPlace();
  ~OutputPlace();
  OutputPlace(const OutputPlace&) = delete;
  OutputPlace& operator=(const OutputPlace&) = delete;

  /// Opens `path`, once per object, for writing as the system resolves it;
  /// creates it empty when missing (Created() then says so); never truncates
  /// it, and never waits (a pipe without reader). EISDIR for a folder,
  /// kErrnoNotRegularFile for anything else that is no regular file.
  bool Open(const std::string& path);
  bool Created() const { return created_; }
  /// The absolute path of the file as the system found it, every link
  /// resolved: for comparing with other places, never for opening.
  const std::string& RealPath() const { return realPath_; }

  /// Creates the new file in the same folder: the output's file name
  /// (shortened where needed, so that the whole name fits the folder's limit),
  /// then `tag`, then six characters that no other file there has; readable
  /// and writable by the owner only until Commit. False with the reason when
  /// the folder takes no new file.
  /// After it, the result goes into the new file; without it, into the
  /// output file itself.
  bool CreateBeside(const std::string& tag);

  /// The result's file by path, for a program that can only be given a name.
  /// Where another user can rename files in the folder, prefer the handle.
  const std::string& ResultPath() const;
  /// Empties the result's file, through its handle.
  bool TruncateResult();
  /// A new stream for reading and writing the result's file, on its own
  /// handle of the same file (read and write position at 0); null with the
  /// reason when the result's file was opened for writing only.
  std::FILE* OpenResultStream();

  /// Puts the new file in the output's place: it takes the old file's
  /// permission bits (and, where the system lets us, its owner and
  /// attributes), set through its handle; then, if its name still names it
  /// (kErrnoFileReplaced otherwise, and nothing is renamed), it is renamed
  /// over the output's name in one step. Without a new file, true at once.
  bool Commit();
  /// Removes what this object made and was not committed: the new file, and
  /// the output file when Open created it, each only while its name still
  /// names the file made here. Best effort.
  void Discard();

 private:
  friend std::intptr_t NativeResultHandle(const OutputPlace& place);
  struct Handles;
  std::unique_ptr<Handles> handles_;
  bool created_ = false;
  bool committed_ = false;
  std::string realPath_;
};

}  // namespace platform
