// Writing into a place that runs out of room or refuses every write: a
// download, an extraction and a decompression must each fail with the
// system's own reason, never report success, and leave the destination as
// their contracts say (a download and an extraction keep the partial file, a
// decompression deletes its destination).
//
// Three kinds of place: a 1 MiB tmpfs (the disk fills up: ENOSPC), a 1 MiB
// file size limit (RLIMIT_FSIZE with SIGXFSZ ignored: EFBIG) and a read-only
// tmpfs (EROFS). The tmpfs is mounted in a mount namespace of this test
// process alone, so nothing outside sees it; where mounting is not permitted
// those cases are skipped.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "common/error_text.h"
#include "archive/tar_reader.h"
#include "archive/z_reader.h"
#include "net/download.h"
#include "common/error_text.h"
#include "platform/file.h"
#include "tests/support/child_process.h"
#include "tests/support/local_server.h"
#include "tests/support/tar_builder.h"

namespace {

using testing_support::LocalHttpServer;
using testing_support::PathExists;
using testing_support::PatternBytes;
using testing_support::ReadWholeFile;
using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

constexpr std::size_t kRoom = 1 << 20;
// Several times the room, so that no buffering along the way hides the limit.
constexpr std::size_t kPayload = 4 << 20;

enum class Place { FullDisk, FileSizeLimit, ReadOnly };

/// Mounts happen in a mount namespace private to this process, made once.
bool EnterPrivateMountNamespace(std::string& why) {
  static int error = [] {
    if (unshare(CLONE_NEWNS) != 0) return errno;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return errno;
    return 0;
  }();
  if (error != 0) why = std::strerror(error);
  return error == 0;
}

/// Puts the limit of `place` on `folder` for its lifetime.
class Limit {
 public:
  Limit(Place place, const std::string& folder) : place_(place), folder_(folder) {
    if (place == Place::FileSizeLimit) {
      getrlimit(RLIMIT_FSIZE, &saved_);
      struct rlimit limited = saved_;
      limited.rlim_cur = kRoom;
      // Without this the first write past the limit kills the process.
      previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
      armed_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
      if (!armed_) why_ = std::strerror(errno);
      return;
    }
    if (!EnterPrivateMountNamespace(why_)) return;
    const unsigned long flags = place == Place::ReadOnly ? MS_RDONLY : 0;
    armed_ = mount("tmpfs", folder.c_str(), "tmpfs", flags, "size=1m") == 0;
    if (!armed_) why_ = std::strerror(errno);
  }
  ~Limit() {
    if (!armed_) return;
    if (place_ == Place::FileSizeLimit) {
      setrlimit(RLIMIT_FSIZE, &saved_);
      std::signal(SIGXFSZ, previousHandler_);
    } else {
      umount2(folder_.c_str(), MNT_DETACH);
    }
  }
  Limit(const Limit&) = delete;
  Limit& operator=(const Limit&) = delete;

  bool armed() const { return armed_; }
  const std::string& why() const { return why_; }

 private:
  Place place_;
  std::string folder_;
  bool armed_ = false;
  std::string why_;
  struct rlimit saved_ {};
  void (*previousHandler_)(int) = SIG_DFL;
};

struct Outcome {
  bool ok = true;
  std::string text;  ///< the failure's text, as the caller would print it
};

/// One writing operation: runs into `folder`, and names the file it writes.
struct Operation {
  std::function<Outcome(const std::string& folder)> run;
  std::string written;  ///< relative to the folder
};

struct Case {
  const char* name;
  const char* operation;  ///< "download", "resumed download", "extract" or "decompress"
  Place place;
  const char* text;       ///< the system's text for the failure
  bool keepsPartialFile;  ///< false: no destination may remain
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class OutOfRoomTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    // Inputs and the server are made before any limit applies to this process.
    server_.Script("/big.bin", testing_support::HttpReply::Generated(kPayload));
    // Cut off well inside the room, so that the disk fills while the resumed
    // transfer appends.
    testing_support::HttpReply whole = testing_support::HttpReply::Generated(kPayload);
    whole.ranges = true;
    whole.headers["ETag"] = "\"big-1\"";
    testing_support::HttpReply cut = whole;
    cut.cutAfter = kRoom / 4;
    server_.Script("/cut.bin", {cut, whole});
    WriteWholeFile(sources_ / "big.tar", testing_support::TarDirectoryEntry("pkg/") +
                                             testing_support::TarFileEntry("pkg/big", PatternBytes(0, kPayload)) +
                                             testing_support::TarEnd());
    WriteWholeFile(sources_ / "big", PatternBytes(0, kPayload));
    const auto compressed = RunChild("/bin/sh", {"-c", "compress -c -f \"$0\" > \"$0.Z\"", sources_ / "big"});
    ASSERT_EQ(compressed.exitStatus, 0) << compressed.err;
  }

  Operation Named(const std::string& name) {
    if (name == "download" || name == "resumed download") {
      const std::string path = name == "download" ? "/big.bin" : "/cut.bin";
      return {[this, path](const std::string& folder) {
                const bool ok = DownloadUrl(nullptr, server_.Url(path), folder + "/big.bin");
                return Outcome{ok, ok ? "" : LastErrorText()};
              },
              "big.bin"};
    }
    if (name == "extract") {
      return {[this](const std::string& folder) {
                UntarContext context;
                context.targetFolder = folder;
                context.archive = platform::OpenFile(sources_ / "big.tar", "rb");
                errno = 0;
                const bool ok = Untar(context, nullptr, nullptr);
                return Outcome{ok, ok ? "" : FileErrorText()};
              },
              "pkg/big"};
    }
    return {[this](const std::string& folder) {
              errno = 0;
              const bool ok = DecompressFile(folder + "/big", nullptr, sources_ / "big.Z");
              return Outcome{ok, ok ? "" : FileErrorText()};
            },
            "big"};
  }

  LocalHttpServer server_;
  ScratchFolder sources_{"disk-full-sources"};
  ScratchFolder destination_{"disk-full-destination"};
};

TEST_P(OutOfRoomTest, FailsWithTheSystemsReasonAndCleansUpAsPromised) {
  const Case& c = GetParam();
  const Operation operation = Named(c.operation);
  const std::string written = destination_ / operation.written;
  Outcome outcome;
  std::string partial;
  bool remains = false;
  {
    Limit limit(c.place, destination_.path());
    if (!limit.armed()) GTEST_SKIP() << "cannot limit the destination here: " << limit.why();
    outcome = operation.run(destination_.path());
    // Looked at before the limit goes: an unmounted tmpfs takes its files along.
    remains = PathExists(written);
    if (remains) partial = ReadWholeFile(written);
  }

  EXPECT_FALSE(outcome.ok) << "reported success without room for the output";
  if (std::string(c.operation) == "resumed download") {
    const std::vector<std::string> requests = server_.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "GET /cut.bin (Range)"), 1) << "no resumption";
  }
  EXPECT_EQ(outcome.text, c.text);
  if (c.keepsPartialFile) {
    ASSERT_TRUE(remains) << written;
    // What did reach the disk is the start of the data, nothing else.
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LE(partial.size(), kRoom);
    EXPECT_EQ(partial, PatternBytes(0, partial.size()));
  } else {
    EXPECT_FALSE(remains) << written << " was left behind";
  }
}

constexpr const char* kNoSpace = "No space left on device";
constexpr const char* kTooLarge = "File too large";
constexpr const char* kReadOnly = "Read-only file system";

INSTANTIATE_TEST_SUITE_P(
    DiskFull, OutOfRoomTest,
    ::testing::Values(
        // A download keeps what arrived; the caller decides what to do with it.
        Case{"DownloadOnFullDisk", "download", Place::FullDisk, kNoSpace, true},
        Case{"DownloadOverFileSizeLimit", "download", Place::FileSizeLimit, kTooLarge, true},
        Case{"DownloadIntoReadOnlyFolder", "download", Place::ReadOnly, kReadOnly, false},
        Case{"ResumedDownloadOnFullDisk", "resumed download", Place::FullDisk, kNoSpace, true},
        // Extraction leaves the file it was writing as far as it got.
        Case{"ExtractionOnFullDisk", "extract", Place::FullDisk, kNoSpace, true},
        Case{"ExtractionOverFileSizeLimit", "extract", Place::FileSizeLimit, kTooLarge, true},
        Case{"ExtractionIntoReadOnlyFolder", "extract", Place::ReadOnly, kReadOnly, false},
        // Decompression deletes a destination it could not finish.
        Case{"DecompressionOnFullDisk", "decompress", Place::FullDisk, kNoSpace, false},
        Case{"DecompressionOverFileSizeLimit", "decompress", Place::FileSizeLimit, kTooLarge, false},
        Case{"DecompressionIntoReadOnlyFolder", "decompress", Place::ReadOnly, kReadOnly, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
