#pragma once

#include <cstdint>

/// Receives progress of one long file operation (download, decompression, tar
/// reading). `total` is 0 when the operation does not know it. Objects are never
/// destroyed through this interface, so it has no virtual destructor on purpose.
class IFileProgressCallback {
 public:
  virtual void OnProgress(std::uint64_t total, std::uint64_t done) = 0;
  /// The operation broke off after `done` bytes and is tried again, from the
  /// start when `startsOver` says so; its reports then go on from where it
  /// resumes.
  virtual void OnResume(std::uint64_t /*done*/, bool /*startsOver*/) {}

 protected:
  ~IFileProgressCallback() = default;
};
