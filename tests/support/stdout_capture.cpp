#include "tests/support/stdout_capture.h"

#include <unistd.h>

#include <stdexcept>

namespace testing_support {

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  file_ = std::tmpfile();
  saved_ = dup(STDOUT_FILENO);
  if (file_ == nullptr || saved_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) {
    throw std::runtime_error("cannot capture standard output");
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
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
  saved_ = -1;
  return WrittenSoFar();
}

}  // namespace testing_support
