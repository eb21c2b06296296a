#pragma once

// What every fuzz target shares: the libFuzzer entry points, the input size
// cap, a scratch folder per process, and checks that stop the process so that
// libFuzzer (or the replay driver) reports the input that broke them.

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzzing {

/// Larger inputs are ignored: they only slow the search down, and every reader
/// here meets its interesting cases well below this size.
inline constexpr std::size_t kMaxInputSize = 1 << 20;

/// A folder of this process alone, made with mkdtemp under $TMPDIR (or /tmp) on
/// the first call and removed with its content when the process exits. Parallel
/// fuzzing jobs and test runs therefore never share a path.
const std::string& ProcessScratchFolder();

/// Writes the bytes to `path`, replacing the file; stops the process on failure.
void WriteFile(const std::string& path, const void* data, std::size_t size);

/// Removes everything inside `folder`, keeping the folder itself.
void EmptyFolder(const std::string& folder);

/// Names in `folder` (not recursive), sorted.
std::string ListFolder(const std::string& folder);

/// Prints the broken expectation and aborts.
[[noreturn]] void Fail(const char* file, int line, const std::string& what);

}  // namespace fuzzing

#define FUZZ_CHECK(condition, what)                                                    \
  do {                                                                                 \
    if (!(condition)) ::fuzzing::Fail(__FILE__, __LINE__, std::string(#condition ": ") + (what)); \
  } while (0)
