// Fuzz target: the .Z decoder. The input is decoded twice, once in blocks of
// the size the build uses and once in small blocks of changing size, and both
// must give the same bytes and the same outcome: a string cut at the end of a
// block must resume exactly. `DecompressFile` over the same input must agree
// with both, and leave no destination behind when it fails.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "archive/z_reader.h"
#include "fuzz/fuzz_support.h"

namespace {

/// Output beyond this is not compared: a hostile stream can expand a thousand
/// times and more, which would only slow the search.
constexpr std::size_t kMaxOutput = 1 << 20;
/// `DecompressFile` is run only for outputs up to this size.
constexpr std::size_t kMaxFileOutput = 256 << 10;

struct Decoded {
  bool ok = true;
  int error = 0;
  bool complete = true;  ///< false when decoding stopped at kMaxOutput
  std::string bytes;
};

Decoded Decode(const std::string& path, const std::vector<std::size_t>& capacities) {
  Decoded result;
  errno = 0;
  ZReader* reader = ZReader::Open(path);
  FUZZ_CHECK(reader != nullptr, "cannot open the scratch file: " + FileErrorText());
  std::vector<unsigned char> buffer(65536);
  for (std::size_t call = 0;; ++call) {
    if (result.bytes.size() >= kMaxOutput) {
      result.complete = false;
      break;
    }
    const std::size_t capacity = capacities[call % capacities.size()];
    std::size_t count = capacity + 1;
    errno = 0;
    if (!reader->Read(buffer.data(), capacity, count)) {
      result.ok = false;
      result.error = errno;
      break;
    }
    FUZZ_CHECK(count <= capacity, "Read delivered more than asked for");
    if (count == 0) {
      // The end stays the end.
      FUZZ_CHECK(reader->Read(buffer.data(), capacity, count) && count == 0, "bytes after the end of the stream");
      break;
    }
    result.bytes.append(reinterpret_cast<const char*>(buffer.data()), count);
  }
  ZReader::Close(reader);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  const std::string& scratch = fuzzing::ProcessScratchFolder();
  const std::string source = scratch + "/input.Z";
  const std::string destination = scratch + "/output";
  fuzzing::WriteFile(source, data, size);

  const Decoded whole = Decode(source, {65536});
  const Decoded pieces = Decode(source, {1, 2, 3, 5, 16, 17, 100, 4096});
  if (!whole.ok) {
    // The only failures an intact, readable file can cause.
    FUZZ_CHECK(whole.error == ARCHIVE_CORRUPT || whole.error == ENOMEM,
               "decoding failed with errno " + std::to_string(whole.error) + " (" + FileErrorText(whole.error) + ")");
  }
  if (size < 3 || data[0] != 0x1F || data[1] != 0x9D || (data[2] & 0x1F) > 16) {
    FUZZ_CHECK(!whole.ok && whole.error == ARCHIVE_CORRUPT && whole.bytes.empty(), "a bad header was accepted");
  }

  const std::size_t common = std::min(whole.bytes.size(), pieces.bytes.size());
  FUZZ_CHECK(whole.bytes.compare(0, common, pieces.bytes, 0, common) == 0, "block size changed the output");
  if (whole.complete && pieces.complete) {
    FUZZ_CHECK(whole.ok == pieces.ok && whole.error == pieces.error, "block size changed the outcome");
    // A failing Read delivers nothing of its block, so only whole streams compare in length.
    if (whole.ok) FUZZ_CHECK(whole.bytes.size() == pieces.bytes.size(), "block size changed the output's length");
  }

  if (whole.complete && whole.bytes.size() <= kMaxFileOutput) {
    errno = 0;
    const bool ok = DecompressFile(destination, nullptr, source);
    const int error = errno;
    FUZZ_CHECK(ok == whole.ok, "DecompressFile and Read disagree on success");
    if (ok) {
      std::FILE* file = std::fopen(destination.c_str(), "rb");
      FUZZ_CHECK(file != nullptr, "DecompressFile succeeded without a destination");
      std::string written(whole.bytes.size() + 1, '\0');
      const std::size_t got = std::fread(written.data(), 1, written.size(), file);
      std::fclose(file);
      written.resize(got);
      FUZZ_CHECK(written == whole.bytes, "DecompressFile wrote other bytes than Read delivered");
      std::remove(destination.c_str());
    } else {
      FUZZ_CHECK(error == whole.error, "DecompressFile failed for another reason than Read");
    }
  }
  FUZZ_CHECK(fuzzing::ListFolder(scratch) == "input.Z", "files left behind: " + fuzzing::ListFolder(scratch));
  return 0;
}
