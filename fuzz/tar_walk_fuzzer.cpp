// Fuzz target: the tar reader walking an archive without a target folder, with
// the callback that looks for the virus data version, as the build does with
// the anti-virus package. Whatever the bytes, the walk ends with true or false
// and a reason, closes the archive, and writes nothing.

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "archive/tar_reader.h"
#include "archive/virus_version.h"
#include "fuzz/fuzz_support.h"

namespace {

/// Keeps the names while the real callback does its work.
class RecordingCallback : public MyUntarCallback {
 public:
  void OnDirectory(const std::string& name) override {
    names.push_back(name);
    MyUntarCallback::OnDirectory(name);
  }
  void OnFile(const std::string& name) override {
    names.push_back(name);
    MyUntarCallback::OnFile(name);
  }
  std::vector<std::string> names;
};

class Progress : public IFileProgressCallback {
 public:
  // A skip may seek past the end, so `done` can exceed `total`; it never goes back.
  void OnProgress(std::uint64_t, std::uint64_t done) override {
    FUZZ_CHECK(done >= last, "progress went backwards");
    last = done;
    ++calls;
  }
  std::uint64_t last = 0;
  int calls = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  const std::string& scratch = fuzzing::ProcessScratchFolder();
  const std::string archivePath = scratch + "/archive.tar";
  fuzzing::WriteFile(archivePath, data, size);

  UntarContext context;
  context.archive = std::fopen(archivePath.c_str(), "rb");
  FUZZ_CHECK(context.archive != nullptr, "cannot open the scratch archive");
  RecordingCallback callback;
  Progress progress;
  errno = 0;
  const bool ok = Untar(context, &callback, &progress);
  const int error = errno;

  FUZZ_CHECK(context.archive == nullptr, "Untar did not hand back the stream it closed");
  FUZZ_CHECK(context.totalSize == static_cast<std::int64_t>(size), "total size is not the archive's length");
  FUZZ_CHECK(size == 0 || progress.calls > 0, "no progress reported");
  if (!ok) {
    // A walk over a readable file can only fail for what the archive holds.
    FUZZ_CHECK(error == ARCHIVE_CORRUPT || error == ARCHIVE_TRUNCATED || error == ARCHIVE_UNSUPPORTED,
               "walk failed with errno " + std::to_string(error) + " (" + FileErrorText(error) + ")");
  }
  // Every entry costs a 512-byte header block, of which the last may lack the
  // 12 bytes after its record.
  FUZZ_CHECK(callback.names.size() <= (size + 12) / 512, "more entries than header blocks");
  for (const std::string& name : callback.names) {
    FUZZ_CHECK(name.size() <= 100, "entry name longer than its field");
    FUZZ_CHECK(name.find('\0') == std::string::npos, "NUL inside an entry name");
  }
  if (callback.found) {
    bool fromAName = false;
    for (const std::string& name : callback.names) fromAName = fromAName || name.find('/') != std::string::npos;
    FUZZ_CHECK(fromAName, "version found without a name below the top level");
  }
  FUZZ_CHECK(fuzzing::ListFolder(scratch) == "archive.tar", "a walk wrote " + fuzzing::ListFolder(scratch));
  return 0;
}
