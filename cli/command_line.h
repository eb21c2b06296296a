#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/verbosity.h"

/// What the command line asks for.
struct RunOptions {
  std::string outputPath;                      ///< as typed; always the last argument
  std::optional<std::string> distributionUrl;  ///< set by -d
  Verbosity verbosity = Normal;
};

/// Parses the arguments after the program path. False when the usage text must
/// be shown: no argument, an unknown one, or -d with no URL before the output.
bool ParseCommandLine(const std::vector<std::string>& args, RunOptions& options);
