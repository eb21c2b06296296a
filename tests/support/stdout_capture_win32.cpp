#include "tests/support/stdout_capture.h"

#include <io.h>

#include <stdexcept>

#include "platform/windows_api.h"

// The C runtime's _dup2 on descriptor 1 or 2 also changes the standard handle
// that GetStdHandle returns, so output that goes to the console API when there
// is a console reaches the file as well.

namespace testing_support {

StdoutCapture::StdoutCapture(Stream stream)
    : stream_(stream == Stream::Out ? stdout : stderr), descriptor_(stream == Stream::Out ? 1 : 2) {
  std::fflush(stream_);
  file_ = std::tmpfile();
  saved_ = _dup(descriptor_);
  if (file_ == nullptr || saved_ < 0 || _dup2(_fileno(file_), descriptor_) < 0) {
    throw std::runtime_error("cannot capture an output stream");
  }
}

StdoutCapture::~StdoutCapture() {
  if (saved_ >= 0) Finish();
  if (file_ != nullptr) std::fclose(file_);
}

std::string StdoutCapture::WrittenSoFar() const {
  // Reads at offsets from the start. This leaves the file position at the end,
  // which is where the next write goes anyway.
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
  std::string written;
  char chunk[4096];
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(written.size());
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &got, &at) || got == 0) break;
    written.append(chunk, got);
  }
  return written;
}

std::string StdoutCapture::Finish() {
  if (saved_ < 0) return {};
  std::fflush(stream_);
  _dup2(saved_, descriptor_);
  _close(saved_);
  saved_ = -1;
  return WrittenSoFar();
}

}  // namespace testing_support
