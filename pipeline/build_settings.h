#pragma once

#include <string>

#include "net/download.h"
#include "platform/resources.h"

/// Everything of a run that the build fixes rather than the command line: the
/// download server, the network time-outs and the trust anchors. Tests pass
/// their own record.
struct BuildSettings {
  /// scheme://host[:port] of the download server, http or https; every
  /// built-in URL is <base><path>.
  std::string downloadBase;
  DownloadSettings download{};
  /// Where the root certificate and revocation lists come from.
  const platform::ResourceTable* trust = &platform::ProgramResources();
};

/// The settings this executable was built with.
BuildSettings DefaultBuildSettings();
