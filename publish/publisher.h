#pragma once

#include <string>

#include "publish/command_line.h"

/// What a finished publication wrote.
struct PublishReport {
  std::size_t entries = 0;  ///< lines in the manifest
  bool verified = false;    ///< proved against --verify-with
};

/// Lists the files, signs the list and puts the manifest in place. The result
/// is always read back with the manifest reader and its signature checked with
/// the signer certificate; with a trusted root it is also loaded the way rscdc
/// loads it and every file is checked against its entry. Only a manifest that
/// passed all of that replaces the output file. Raises PublishError.
PublishReport Publish(const PublishOptions& options);
