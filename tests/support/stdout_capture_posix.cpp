#include "tests/support/stdout_capture.h"

#include <unistd.h>

#include <stdexcept>

namespace testing_support {

StdoutCapture::StdoutCapture(Stream stream)
    : stream_(stream == Stream::Out ? stdout : stderr),
      descriptor_(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) {
  std::fflush(stream_);
  file_ = std::tmpfile();
  saved_ = dup(descriptor_);
  if (file_ == nullptr || saved_ < 0 || dup2(fileno(file_), descriptor_) < 0) {
    throw std::runtime_error("cannot capture an output stream");
  }
}

StdoutCapture::~StdoutCapture() {
  if (saved_ >= 0) Finish();
  if (file_ != nullptr) std::fclose(file_);
}

std::string StdoutCapture::WrittenSoFar() const {
  std::string written;
  char chunk[4096];
  off_t offset = 0;
  for (ssize_t n; (n = pread(fileno(file_), chunk, sizeof chunk, offset)) > 0; offset += n) {
    written.append(chunk, static_cast<std::size_t>(n));
  }
  return written;
}

std::string StdoutCapture::Finish() {
  if (saved_ < 0) return {};
  std::fflush(stream_);
  dup2(saved_, descriptor_);
  close(saved_);
  saved_ = -1;
  return WrittenSoFar();
}

}  // namespace testing_support
