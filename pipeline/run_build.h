#pragma once

#include <optional>
#include <string>

#include "common/verbosity.h"
#include "pipeline/build_settings.h"

/// One build, start to finish: prepares the working folder, fetches and proves
/// the downloads, unpacks them and masters the image. True when the image was
/// created. Whatever the outcome, the working folder is gone at the end, and so
/// is an output file the run created unless the run finished.
///
/// Who prints a failure: the step that fails, once, in one line on standard
/// error, and the run stops there. Where a callee prints its own failure (the
/// proof of a download, the mastering program's run), the step adds nothing.
/// A failure that only gives way to an interrupt request prints nothing: the
/// program's entry reports the interrupt in a line of its own.
bool RunBuild(const std::string& outputPath, const std::optional<std::string>& distributionUrl,
              Verbosity verbosity, const BuildSettings& settings = DefaultBuildSettings());
