#include "cli/banner.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/paths.h"

namespace {
constexpr const char* kStringTable = "\\StringFileInfo\\000904b0\\";
}

std::optional<std::string> ComposeBanner(const platform::VersionInfo& info) {
  std::string description, version, copyright;
  if (!info.Query(std::string(kStringTable) + "FileDescription", description) ||
      !info.Query(std::string(kStringTable) + "FileVersion", version) ||
      !info.Query(std::string(kStringTable) + "LegalCopyright", copyright)) {
    return std::nullopt;
  }
  unsigned major = 0, minor = 0, patch = 0;
  if (std::sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch) != 3) return std::nullopt;
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " v%u.%u.%u\n", major, minor, patch);
  return description + numbers + copyright + "\n\n";
}

void PrintBanner() {
  std::string self;
  if (!platform::ExecutablePath(self)) return;
  platform::VersionInfo info;
  if (!platform::LoadFileVersionInfo(self, info)) return;
  if (auto banner = ComposeBanner(info)) platform::PrintOut("%s", banner->c_str());
}

void PrintUsage() {
  PrintBanner();
  platform::PrintOut("Usage: rscdc [options] <output file>\n");
  platform::PrintOut("Options:\n");
  platform::PrintOut("    -d <url>  URL to download the Linux distribution (default: from Corvex)\n");
  platform::PrintOut("    -q        quiet (no output)\n");
  platform::PrintOut("    -v        verbose output\n");
}
