#include "cli/command_line.h"

bool ParseCommandLine(const std::vector<std::string>& args, RunOptions& options) {
  if (args.empty()) return false;
  options = RunOptions{};
  options.outputPath = args.back();
  // Only the arguments before the output path are options.
  const size_t last = args.size() - 1;
  for (size_t i = 0; i < last; ++i) {
    const std::string& arg = args[i];
    if (arg == "-d") {
      if (i + 1 >= last) return false;
      options.distributionUrl = args[++i];
    } else if (arg == "-v") {
      options.verbosity = Verbose;
    } else if (arg == "-q") {
      options.verbosity = Quiet;
    } else {
      return false;
    }
  }
  return true;
}
