#include "net/progress.h"

#include "platform/console.h"

MyProgressCallback::MyProgressCallback(Verbosity verbosity) : verbosity_(verbosity) {}

MyProgressCallback::~MyProgressCallback() {
  if (verbosity_ != Verbose) return;
  platform::PrintOut("%79s\r", "");
  platform::FlushOut();
}

void MyProgressCallback::OnProgress(std::uint64_t total, std::uint64_t done) {
  if (verbosity_ != Verbose) return;
  // The line is drawn with a carriage return and no line feed, so it has to be
  // pushed out by hand to be seen while the operation runs.
  if (total != 0) {
    const auto percent = static_cast<std::uint32_t>(done * 100 / total);
    platform::PrintOut("%u%% of %llu KB\r", percent, static_cast<unsigned long long>(total >> 10));
  } else {
    platform::PrintOut("%llu KB\r", static_cast<unsigned long long>(done >> 10));
  }
  platform::FlushOut();
}

void MyProgressCallback::OnResume(std::uint64_t done, bool startsOver) {
  if (verbosity_ != Verbose) return;
  // Over the progress line, which may be the longer one, and kept. A break
  // within the first KB is no "0 KB".
  const auto amount = static_cast<unsigned long long>(done < 1024 ? done : done >> 10);
  platform::PrintOut("%79s\rConnection lost after %llu %s; %s...\n", "", amount, done < 1024 ? "bytes" : "KB",
                     startsOver ? "starting over" : "resuming");
  platform::FlushOut();
}
