#pragma once

#include <optional>
#include <string>

#include "common/verbosity.h"
#include "pipeline/build_settings.h"

/// One build, start to finish: prepares the working folder, fetches and proves
/// the downloads, unpacks them and masters the image. Stops at the first failing
/// step, which reports itself in one line on standard error. True when the image
/// was created.
bool RunBuild(const std::string& outputPath, const std::optional<std::string>& distributionUrl,
              Verbosity verbosity, const BuildSettings& settings = DefaultBuildSettings());
