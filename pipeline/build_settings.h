#pragma once

#include <string>

#include "net/download.h"
#include "platform/resources.h"

/// Everything of a run that the build fixes rather than the command line: the
/// download server, the network time-outs and the trust anchors. Tests pass
/// their own record.
struct BuildSettings {
  /// host[:port] of the download server; every built-in URL is http://<host><path>.
  std::string downloadHost;
  DownloadSettings download{};
  /// Where the root certificate and revocation lists come from.
  const platform::ResourceTable* trust = &platform::ProgramResources();
};

/// The settings this executable was built with.
BuildSettings DefaultBuildSettings();
