#pragma once

#include <cstdint>

#include "common/file_progress.h"
#include "common/verbosity.h"

/// The console's progress line for one long operation. Draws only at Verbose:
/// one self-overwriting line ending in a carriage return, blanked when the
/// object goes away so that the next message starts on a clean line. A
/// resumption gets a line of its own: "Connection lost after <amount>;
/// resuming..." or "...; starting over...", the amount in KB, or in bytes
/// below one KB.
class MyProgressCallback final : public IFileProgressCallback {
 public:
  explicit MyProgressCallback(Verbosity verbosity);
  ~MyProgressCallback();
  MyProgressCallback(const MyProgressCallback&) = delete;
  MyProgressCallback& operator=(const MyProgressCallback&) = delete;

  void OnProgress(std::uint64_t total, std::uint64_t done) override;
  void OnResume(std::uint64_t done, bool startsOver) override;

 private:
  const std::int32_t verbosity_;
};
