#pragma once

#include <cstdint>
#include <string>

/// A working folder that no other account can plant files in, and a lock that
/// keeps two runs of one account out of each other's way.
namespace platform {

/// The tool's own error codes (bit 29 marks application-defined codes, as on
/// Windows). ErrorCodeText describes them through SystemErrorDescription.
inline constexpr std::uint32_t kErrorFolderIsLink = 0x20000001;
inline constexpr std::uint32_t kErrorFolderNotOwned = 0x20000002;
inline constexpr std::uint32_t kErrorFolderShared = 0x20000003;
inline constexpr std::uint32_t kErrorRunInProgress = 0x20000004;
/// A path that would land inside the working folder, or on its lock file.
inline constexpr std::uint32_t kErrorInsideWorkingFolder = 0x20000006;

/// Creates one folder usable by the current user only.
bool CreatePrivateFolder(const std::string& path, bool& alreadyExisted);

/// True when `path` is a real folder (not a link), owned by the current user and
/// writable by nobody else. Otherwise false with the reason in the last error.
bool CheckPrivateFolder(const std::string& path);

/// An exclusive lock on a lock file, held until the object goes.
class ExclusiveLock {
 public:
  ExclusiveLock() = default;
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  /// Creates the lock file if needed and takes the lock without waiting. False
  /// with kErrorRunInProgress when another holder has it, or the file's error.
  bool Acquire(const std::string& lockPath);
  void Release();
  bool Held() const { return handle_ >= 0; }

 private:
  int handle_ = -1;
};

}  // namespace platform
