// Mutated inputs for both readers: whatever the bytes, a reader answers true or
// false, stays inside its bounds, and writes nothing outside its target folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/tar_reader.h"
#include "archive/z_reader.h"
#include "platform/file.h"
#include "tests/support/child_process.h"
#include "tests/support/tar_builder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::PathExists;
using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::TarDirectoryEntry;
using testing_support::TarEnd;
using testing_support::TarFileEntry;
using testing_support::TarHeader;
using testing_support::WriteWholeFile;

/// One random change: bit flips, a cut, an insertion, a duplicated stretch, or
/// an overwritten run. With `fixTarChecksums`, headers touched by the change get
/// a valid checksum again, so that the mutation reaches the fields behind it.
std::string Mutate(std::string data, std::mt19937& random, bool fixTarChecksums) {
  const auto pick = [&random](std::size_t bound) {
    return bound == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
  };
  const int kind = static_cast<int>(pick(5));
  if (data.empty()) return std::string(pick(600), static_cast<char>(pick(256)));
  switch (kind) {
    case 0: {
      const std::size_t flips = 1 + pick(8);
      for (std::size_t i = 0; i < flips; ++i) data[pick(data.size())] ^= static_cast<char>(1 << pick(8));
      break;
    }
    case 1:
      data.resize(pick(data.size()));
      break;
    case 2: {
      std::string inserted(1 + pick(700), '\0');
      for (char& c : inserted) c = static_cast<char>(pick(256));
      data.insert(pick(data.size() + 1), inserted);
      break;
    }
    case 3: {
      const std::size_t from = pick(data.size());
      const std::size_t length = 1 + pick(std::min<std::size_t>(2048, data.size() - from));
      data.insert(pick(data.size() + 1), data.substr(from, length));
      break;
    }
    default: {
      const std::size_t at = pick(data.size());
      const std::size_t length = 1 + pick(std::min<std::size_t>(64, data.size() - at));
      const char value = static_cast<char>(pick(3) == 0 ? 0 : pick(256));
      for (std::size_t i = 0; i < length; ++i) data[at + i] = value;
      break;
    }
  }
  if (fixTarChecksums) {
    for (std::size_t block = 0; block + 512 <= data.size(); block += 512) {
      if (pick(2) == 0) continue;
      TarHeader header("", '0', 0);
      for (std::size_t i = 0; i < 512; ++i) header.SetByte(i, static_cast<unsigned char>(data[block + i]));
      header.FixChecksum();
      data.replace(block, 512, header.bytes());
    }
  }
  return data;
}

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

class CountingCallback : public IUntarCallback {
 public:
  std::size_t entries = 0;
  void OnDirectory(const std::string&) override { ++entries; }
  void OnFile(const std::string&) override { ++entries; }
};

class CountingProgress : public IFileProgressCallback {
 public:
  std::size_t calls = 0;
  void OnProgress(std::uint64_t, std::uint64_t) override { ++calls; }
};

std::vector<std::string> TarSeeds(const ScratchFolder& scratch, const std::string& escapeMarker) {
  std::vector<std::string> seeds;
  seeds.push_back(TarDirectoryEntry("d/") + TarFileEntry("d/a", "alpha") + TarDirectoryEntry("d/e/") +
                  TarFileEntry("d/e/b", std::string(1300, 'b')) + TarFileEntry("c", "") + TarEnd());
  // Names that lead outside, so that mutations keep probing the confinement.
  seeds.push_back(TarFileEntry("../" + escapeMarker, "out") + TarFileEntry("d/../../" + escapeMarker, "out") +
                  TarFileEntry("/tmp/" + escapeMarker, "out") + TarEnd());
  seeds.push_back(TarDirectoryEntry("x/") + TarFileEntry("x/../" + escapeMarker, "in") +
                  TarFileEntry("x/" + escapeMarker, "in") + TarEnd());
  // One from GNU tar.
  const std::string root = scratch / "seed-src";
  fs::create_directories(root + "/p/q");
  WriteWholeFile(root + "/p/q/file", std::string(3000, 'q'));
  WriteWholeFile(root + "/p/top", "top");
  const std::string tarPath = scratch / "seed.tar";
  EXPECT_EQ(RunChild("/usr/bin/tar", {"--format=ustar", "-cf", tarPath, "-C", root, "p"}).exitStatus, 0);
  seeds.push_back(testing_support::ReadWholeFile(tarPath));
  return seeds;
}

TEST(ArchiveFuzzTest, MutatedTarArchivesStayInsideTheirFolder) {
  ScratchFolder scratch("fuzz-tar");
  const std::string escapeMarker = "rscdc-fuzz-escape-" + std::to_string(std::random_device{}());
  const std::vector<std::string> seeds = TarSeeds(scratch, escapeMarker);
  const std::string jail = scratch / "jail";
  const std::string target = jail + "/target";
  const std::string archivePath = scratch / "fuzz.tar";
  fs::create_directories(target);
  WriteWholeFile(archivePath, "");
  const std::set<std::string> scratchListing = Listing(scratch.path());

  std::size_t successes = 0;
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    std::mt19937 random(seed);
    std::string archive = seeds[seed % seeds.size()];
    const int rounds = 1 + static_cast<int>(seed % 3);
    for (int i = 0; i < rounds; ++i) archive = Mutate(archive, random, seed % 2 == 0);
    SCOPED_TRACE("seed " + std::to_string(seed));
    WriteWholeFile(archivePath, archive);

    for (const bool extract : {true, false}) {
      UntarContext context;
      if (extract) context.targetFolder = target;
      context.archive = platform::OpenFile(archivePath, "rb");
      ASSERT_NE(context.archive, nullptr);
      CountingCallback callback;
      CountingProgress progress;
      errno = 0;
      const bool ok = Untar(context, &callback, &progress);
      if (ok) ++successes;
      if (!ok) {
        EXPECT_NE(errno, 0);
      }
      // Every entry costs at least one 512-byte block of input.
      EXPECT_LE(callback.entries, archive.size() / 512 + 1);
      // One report per header and per data chunk; a chunk ends an entry's data
      // or carries 64 KiB of it.
      EXPECT_LE(progress.calls, 2 * (archive.size() / 512 + 1) + archive.size() / 65536 + 1);
    }
    ASSERT_EQ(Listing(jail), std::set<std::string>{"target"});
    ASSERT_EQ(Listing(scratch.path()), scratchListing);
    ASSERT_FALSE(PathExists("/tmp/" + escapeMarker));
    fs::remove_all(target);
    fs::create_directory(target);
  }
  // The mutations must leave enough archives readable to reach the deeper code.
  EXPECT_GT(successes, 300u);
}

std::vector<std::string> ZSeeds(const ScratchFolder& scratch) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i * i % 97) + " of the rescue image\n";
  std::string binary(6000, '\0');
  unsigned x = 5;
  for (char& c : binary) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  std::vector<std::string> seeds;
  int bits = 9;
  for (const std::string& data : {text, binary, text + std::string(20000, 'z') + binary}) {
    for (int b : {bits, 12, 16}) {
      const std::string plain = scratch / "plain";
      WriteWholeFile(plain, data);
      const auto result = RunChild("/usr/bin/compress", {"-c", "-b", std::to_string(b), plain});
      EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 2);
      seeds.push_back(result.out);
    }
    ++bits;
  }
  return seeds;
}

TEST(ArchiveFuzzTest, MutatedCompressedFilesEndInTrueOrFalse) {
  ScratchFolder scratch("fuzz-z");
  const std::vector<std::string> seeds = ZSeeds(scratch);
  const std::string source = scratch / "fuzz.Z";
  const std::string destination = scratch / "fuzz.out";
  std::size_t successes = 0;
  for (unsigned seed = 1; seed <= 2000; ++seed) {
    std::mt19937 random(seed);
    std::string stream = seeds[seed % seeds.size()];
    const int rounds = 1 + static_cast<int>(seed % 3);
    for (int i = 0; i < rounds; ++i) stream = Mutate(stream, random, false);
    // Keep the magic now and then, so that most inputs reach the code stream.
    if (seed % 4 != 0 && stream.size() >= 2) stream.replace(0, 2, "\x1F\x9D");
    SCOPED_TRACE("seed " + std::to_string(seed));
    WriteWholeFile(source, stream);

    errno = 0;
    const bool ok = DecompressFile(destination, nullptr, source);
    if (ok) {
      ++successes;
      // No code yields more than the 8,000-byte stack, and every code costs at
      // least 9 bits of input (the first code of a group at least one byte).
      const std::uint64_t codes = stream.size() * 8 / 9 + stream.size();
      EXPECT_LE(fs::file_size(destination), codes * 8000);
      fs::remove(destination);
    } else {
      EXPECT_NE(errno, 0);
      EXPECT_FALSE(PathExists(destination));
    }

    // The same stream through Read with an odd buffer must agree on the outcome.
    ZReader* reader = ZReader::Open(source);
    ASSERT_NE(reader, nullptr);
    unsigned char buffer[777];
    std::size_t count = 0;
    std::uint64_t total = 0;
    bool readOk = true;
    while ((readOk = reader->Read(buffer, sizeof buffer, count)) && count > 0) total += count;
    ZReader::Close(reader);
    EXPECT_EQ(readOk, ok);
  }
  EXPECT_GT(successes, 500u);
}

}  // namespace
