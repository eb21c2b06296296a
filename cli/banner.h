#pragma once

#include <optional>
#include <string>

#include "platform/version_info.h"

/// The two banner lines (and the blank line after them) made from a version
/// table, or nothing when any value is missing or the version has fewer than
/// three numbers.
std::optional<std::string> ComposeBanner(const platform::VersionInfo& info);

/// Prints the banner of the running executable, or nothing at all.
void PrintBanner();

/// Prints the banner, then the usage lines.
void PrintUsage();
