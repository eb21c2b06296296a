// Downloads one URL into one file with DownloadUrl, for bench/download.sh to
// time beside curl. Counts progress reports so that their cost is included.
#include <cstdio>
#include <string>

#include "net/download.h"
#include "common/error_text.h"
#include "platform/last_error.h"

namespace {
struct CountingProgress final : IFileProgressCallback {
  unsigned long long calls = 0;
  std::uint64_t done = 0;
  void OnProgress(std::uint64_t, std::uint64_t bytes) override {
    ++calls;
    done = bytes;
  }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench <url> <destination>\n");
    return 2;
  }
  CountingProgress progress;
  if (!DownloadUrl(&progress, argv[1], argv[2])) {
    const std::uint32_t code = platform::GetLastError();
    std::fprintf(stderr, "download failed: %s\n", ErrorCodeText(code).c_str());
    return 1;
  }
  std::fprintf(stderr, "%llu bytes in %llu blocks\n", static_cast<unsigned long long>(progress.done), progress.calls);
  return 0;
}
