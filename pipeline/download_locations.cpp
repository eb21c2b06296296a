#include "pipeline/download_locations.h"

#include <cstdio>

#ifndef RSCDC_DOWNLOAD_BASE
#error "RSCDC_DOWNLOAD_BASE must be defined by the build"
#endif

BuildSettings DefaultBuildSettings() {
  BuildSettings settings;
  settings.downloadBase = RSCDC_DOWNLOAD_BASE;
  return settings;
}

namespace {
std::string ServerUrl(const BuildSettings& settings, const std::string& path) {
  return settings.downloadBase + path;
}
}  // namespace

std::string DefaultDistributionUrl(const BuildSettings& settings) {
  return ServerUrl(settings, std::string("/tools/rscd/") + kDistributionFileName);
}

std::string DistributionManifestUrl(const BuildSettings& settings) {
  return ServerUrl(settings, "/tools/rscd/CorvexLive-SLAX_manifest.dat");
}

std::string PackageUrl(const BuildSettings& settings) {
  return ServerUrl(settings, std::string("/dp/full/") + kPackageFileName);
}

std::string PackageManifestUrl(const BuildSettings& settings) {
  return ServerUrl(settings, "/dp/full/NXV-Unix_manifest.dat");
}

std::string BuildIdentitiesUrl(const BuildSettings& settings, const std::string& identitiesFileName) {
  return ServerUrl(settings, "/downloads/ide/" + identitiesFileName);
}

std::string IdentitiesFileName(int major, int minor) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%d%d_ides.zip", major, minor);
  return buffer;
}
