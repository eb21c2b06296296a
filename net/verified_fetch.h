#pragma once

#include <cstdint>
#include <string>

#include "common/verbosity.h"
#include "net/download.h"
#include "platform/resources.h"

inline constexpr const char* kManifestFileName = "manifest.dat";

/// The largest manifest taken, 1 MiB. A real one lists a file or two in about
/// 2 KB with its certificates; anything near this is a broken or hostile
/// server filling the disk.
inline constexpr std::uint64_t kManifestSizeLimit = 1ULL << 20;

/// Proves that working folder + "/" + fileName is the file the signed manifest
/// at `manifestUrl` lists: writes the trust material, downloads the manifest,
/// verifies its signature and certificate chain, and compares the file's SHA-1
/// with the entry ".\" + fileName. The manifest download takes at most
/// kManifestSizeLimit bytes. Prints exactly one message on failure. After
/// a successful proof the three proof files are removed again. `trust` holds the
/// trust anchors to write (the program's own unless a test gives others).
bool VerifyDownload(const std::string& manifestUrl, const std::string& workingFolder, const std::string& fileName,
                    Verbosity verbosity, const DownloadSettings& settings = DownloadSettings{},
                    const platform::ResourceTable& trust = platform::ProgramResources());
