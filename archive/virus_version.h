#pragma once

#include <string>

#include "archive/tar_reader.h"

/// Finds the virus data version among the entry names of the anti-virus
/// package: the first regular file, below the top level, named "vdl-<major>.<minor>.dat"
/// (letter case aside). The caller reads the fields after `Untar` returns.
class MyUntarCallback : public IUntarCallback {
 public:
  bool found = false;
  int major = 0;
  int minor = 0;

  void OnDirectory(const std::string& name) override;
  void OnFile(const std::string& name) override;
};
