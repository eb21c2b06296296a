#pragma once

#include <cstdio>
#include <string>

namespace testing_support {

/// Sends this process's standard output (descriptor 1 and `stdout`), or its
/// standard error, into a temporary file until Finish, so that what code prints
/// can be compared byte for byte. Test assertions belong after Finish, or their
/// messages are captured.
class StdoutCapture {
 public:
  enum class Stream { Out, Err };
  explicit StdoutCapture(Stream stream = Stream::Out);
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  /// What has reached the file so far, without flushing `stdout` first: shows
  /// whether the code under test pushed its output out itself.
  std::string WrittenSoFar() const;

  /// Restores standard output and returns everything written meanwhile.
  std::string Finish();

 private:
  std::FILE* stream_;
  int descriptor_;
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

/// Standard error, captured the same way.
class StderrCapture : public StdoutCapture {
 public:
  StderrCapture() : StdoutCapture(Stream::Err) {}
};

}  // namespace testing_support
