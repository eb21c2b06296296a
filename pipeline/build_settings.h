#pragma once

#include <string>

/// Everything of a run that the build fixes rather than the command line: the
/// download server. Tests pass their own record.
struct BuildSettings {
  /// host[:port] of the download server; every built-in URL is http://<host><path>.
  std::string downloadHost;
};

/// The settings this executable was built with.
BuildSettings DefaultBuildSettings();
