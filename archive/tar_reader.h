#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/file_progress.h"

/// Hears of every entry `Untar` reads, in archive order, with the entry's name as
/// the archive holds it. The caller owns the object, so there is no virtual
/// destructor.
class IUntarCallback {
 public:
  virtual void OnDirectory(const std::string& name) = 0;
  virtual void OnFile(const std::string& name) = 0;

 protected:
  ~IUntarCallback() = default;
};

/// One `Untar` call. The caller fills in the target folder and the archive
/// stream; `Untar` fills in the rest.
struct UntarContext {
  /// Folder to extract into, without a trailing separator; none to only walk the
  /// entries.
  std::optional<std::string> targetFolder;
  /// Opened by the caller with mode "rb"; `Untar` takes it over and closes it.
  std::FILE* archive = nullptr;
  std::int64_t totalSize = 0;
  IFileProgressCallback* progress = nullptr;
};

/// Reads a tar archive of regular files and directories (names of at most 100
/// bytes, octal numeric fields), extracting it into the target folder or only
/// walking it. True when the end of the archive was reached; false with `errno`
/// set otherwise: `ARCHIVE_CORRUPT`, `ARCHIVE_TRUNCATED`, `ARCHIVE_UNSUPPORTED`
/// or the runtime's number. When extracting, an absolute entry name or one with a
/// ".." component is refused as unsupported before anything is written for it;
/// so is a name that the file system cannot hold as written (a device or a
/// forbidden character on Windows), and one that it takes for an earlier
/// entry's file or folder named otherwise (where case is ignored).
/// A null archive stream fails, keeping the `errno` of the open that produced it.
bool Untar(UntarContext& context, IUntarCallback* callback, IFileProgressCallback* progress);
