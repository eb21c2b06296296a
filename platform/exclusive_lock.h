#pragma once

#include <string>

/// A lock that keeps two runs of one account out of each other's way. Failures
/// leave their reason in the last error: the system's code, or one of the
/// tool's own (kErrorRunInProgress and the others of platform/error_codes.h).
namespace platform {

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
