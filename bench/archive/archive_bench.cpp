// Runs one archive operation of rscdc on real files, so that a script can time
// it beside the peer tool (uncompress, tar). Prints nothing on success.
//
//   archive_bench decompress <source.Z> <destination>
//   archive_bench untar <archive.tar> <target folder>
//   archive_bench walk <archive.tar>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/file_error.h"
#include "archive/tar_reader.h"
#include "archive/z_reader.h"
#include "platform/file.h"

namespace {

/// Counts entries, so that the walk does the work a listing does.
class CountingCallback : public IUntarCallback {
 public:
  unsigned long entries = 0;
  void OnDirectory(const std::string&) override { ++entries; }
  void OnFile(const std::string&) override { ++entries; }
};

int Usage() {
  std::fprintf(stderr, "usage: archive_bench decompress <source.Z> <destination>\n"
                       "       archive_bench untar <archive.tar> <target folder>\n"
                       "       archive_bench walk <archive.tar>\n");
  return 2;
}

int Failed(const char* what) {
  std::fprintf(stderr, "%s failed: %s\n", what, FileErrorText().c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  if (command == "decompress" && argc == 4) {
    return DecompressFile(argv[3], nullptr, argv[2]) ? 0 : Failed("Decompression");
  }
  if ((command == "untar" && argc == 4) || (command == "walk" && argc == 3)) {
    UntarContext context;
    if (command == "untar") context.targetFolder = argv[3];
    context.archive = platform::OpenFile(argv[2], "rb");
    if (context.archive == nullptr) return Failed("Opening the archive");
    CountingCallback callback;
    if (!Untar(context, &callback, nullptr)) return Failed("Reading the archive");
    return callback.entries > 0 ? 0 : 1;
  }
  return Usage();
}
