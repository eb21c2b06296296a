#pragma once

/// Output level of one run. The numbers are part of the contract: the progress
/// callback compares against Verbose, the pipeline tests for non-zero.
enum Verbosity : int {
  Quiet = 0,    ///< "-q": no banner, no step messages, no progress
  Normal = 1,   ///< default: banner and step messages
  Verbose = 2,  ///< "-v": also progress lines
};
