// Runs one archive operation of rscdc on real files, so that a script can time
// it beside the peer tool (uncompress, tar). Prints nothing on success but the
// version that "scan" finds.
//
//   archive_bench decompress <source.Z> <destination>
//   archive_bench decode <source.Z>          (decoded bytes are discarded)
//   archive_bench untar <archive.tar> <target folder>
//   archive_bench walk <archive.tar>
//   archive_bench scan <archive.tar>         (walk for the virus data version)
//
// Like the build pipeline, every operation gets a progress reporter, so the
// figures include what reporting costs the readers.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/error_text.h"
#include "archive/tar_reader.h"
#include "archive/virus_version.h"
#include "archive/z_reader.h"
#include "platform/file.h"

namespace {

/// Touches every name, so that the walk does the work a listing does.
class CountingCallback : public IUntarCallback {
 public:
  unsigned long long nameBytes = 0;
  void OnDirectory(const std::string& name) override { nameBytes += name.size(); }
  void OnFile(const std::string& name) override { nameBytes += name.size(); }
};

/// Takes the reports the way a quiet console reporter does: it looks at them
/// and draws nothing.
class CountingProgress : public IFileProgressCallback {
 public:
  unsigned long long calls = 0;
  void OnProgress(std::uint64_t, std::uint64_t) override { ++calls; }
};

int Usage() {
  std::fprintf(stderr, "usage: archive_bench decompress <source.Z> <destination>\n"
                       "       archive_bench decode <source.Z>\n"
                       "       archive_bench untar <archive.tar> <target folder>\n"
                       "       archive_bench walk <archive.tar>\n"
                       "       archive_bench scan <archive.tar>\n");
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
  CountingProgress progress;
  if (command == "decompress" && argc == 4) {
    return DecompressFile(argv[3], &progress, argv[2]) ? 0 : Failed("Decompression");
  }
  if (command == "decode" && argc == 3) {
    ZReader* reader = ZReader::Open(argv[2]);
    if (reader == nullptr) return Failed("Opening the source");
    static unsigned char block[65536];
    std::size_t count = 0;
    unsigned long long total = 0;
    bool ok = true;
    while ((ok = reader->Read(block, sizeof block, count)) && count > 0) total += count;
    ZReader::Close(reader);
    if (!ok) return Failed("Decoding");
    return total > 0 ? 0 : 1;
  }
  if ((command == "untar" && argc == 4) || ((command == "walk" || command == "scan") && argc == 3)) {
    UntarContext context;
    if (command == "untar") context.targetFolder = argv[3];
    context.archive = platform::OpenFile(argv[2], "rb");
    if (context.archive == nullptr) return Failed("Opening the archive");
    CountingCallback counting;
    MyUntarCallback version;
    IUntarCallback* callback = &counting;
    if (command == "scan") callback = &version;
    if (!Untar(context, callback, &progress)) return Failed("Reading the archive");
    if (command == "scan") {
      if (!version.found) {
        std::fprintf(stderr, "no virus data version found\n");
        return 1;
      }
      std::printf("%d.%d\n", version.major, version.minor);
    }
    return 0;
  }
  return Usage();
}
