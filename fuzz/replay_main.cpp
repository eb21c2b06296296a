// Runs saved inputs through a fuzz target without libFuzzer, so that the
// targets build with any compiler and every test run replays the seed corpus
// and the inputs that once broke something.
//
//   <target>_replay <file or folder>...
//
// Folders are read one level deep, in name order. No input at all is an error:
// an empty seed folder would otherwise pass unnoticed.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

bool Collect(const std::string& argument, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_directory(argument, error)) {
    std::vector<fs::path> found;
    for (fs::directory_iterator it(argument, error), end; !error && it != end; it.increment(error)) {
      if (it->is_regular_file()) found.push_back(it->path());
    }
    if (error) return false;
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
  }
  if (!fs::is_regular_file(argument, error)) return false;
  inputs.emplace_back(argument);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <input file or folder>...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);

  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!Collect(argv[i], inputs)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "%s: no inputs found\n", argv[0]);
    return 1;
  }

  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
      return 1;
    }
    // Named before it runs: a crash then points at its input.
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
