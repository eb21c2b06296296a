#pragma once

#include <cstdint>
#include <string>

#include "pipeline/build_settings.h"

/// File names and URLs on the download server, and the local names they get.
inline constexpr const char* kDistributionFileName = "CorvexLive-SLAX.tar";
inline constexpr const char* kPackageFileName = "linux.intel.libc6.glibc.2.2.tar.Z";
inline constexpr const char* kPackageTarFileName = "linux.intel.libc6.glibc.2.2.tar";
inline constexpr const char* kRootCopyFolder = "slax/rootcopy/";

/// The largest distribution archive taken, 8 GiB: it is unpacked into an
/// image that a dual-layer DVD holds at the most.
inline constexpr std::uint64_t kDistributionSizeLimit = 8ULL << 30;
/// The largest anti-virus package taken, 4 GiB: it goes into the image as one
/// file, which ISO 9660 holds up to 4 GiB.
inline constexpr std::uint64_t kPackageSizeLimit = 4ULL << 30;

std::string DefaultDistributionUrl(const BuildSettings& settings);
std::string DistributionManifestUrl(const BuildSettings& settings);
std::string PackageUrl(const BuildSettings& settings);
std::string PackageManifestUrl(const BuildSettings& settings);

/// The identities base URL with the file name appended unchanged.
std::string BuildIdentitiesUrl(const BuildSettings& settings, const std::string& identitiesFileName);

/// "%d%d_ides.zip": 4.42 and 44.2 both give 442_ides.zip.
std::string IdentitiesFileName(int major, int minor);
