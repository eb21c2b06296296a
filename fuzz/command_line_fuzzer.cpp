// Fuzz target: the command-line parser. The input is split at NUL bytes into
// the arguments after the program path. An accepted command line always names
// the last argument as the output and takes its URL from an argument that
// follows a "-d" before the output.

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  std::vector<std::string> args;
  if (size > 0) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (;;) {
      const std::size_t nul = text.find('\0', start);
      args.push_back(text.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
      if (nul == std::string::npos) break;
      start = nul + 1;
    }
  }

  RunOptions options;
  const bool accepted = ParseCommandLine(args, options);
  if (args.empty()) FUZZ_CHECK(!accepted, "an empty command line was accepted");
  if (!accepted) return 0;

  FUZZ_CHECK(options.outputPath == args.back(), "the output is not the last argument");
  FUZZ_CHECK(options.verbosity == Quiet || options.verbosity == Normal || options.verbosity == Verbose,
             "verbosity out of range");
  bool sawOption = false;
  bool urlFound = !options.distributionUrl.has_value();
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "-d") {
      FUZZ_CHECK(i + 2 < args.size(), "-d accepted without a URL before the output");
      urlFound = urlFound || args[i + 1] == *options.distributionUrl;
      ++i;
      continue;
    }
    FUZZ_CHECK(args[i] == "-v" || args[i] == "-q", "accepted the argument '" + args[i] + "'");
    sawOption = true;
  }
  FUZZ_CHECK(urlFound, "a URL that no -d introduced");
  if (!sawOption) FUZZ_CHECK(options.verbosity == Normal, "verbosity changed without -q or -v");
  return 0;
}
