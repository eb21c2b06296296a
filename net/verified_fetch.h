#pragma once

#include <string>

#include "common/verbosity.h"
#include "net/download.h"
#include "platform/resources.h"

inline constexpr const char* kManifestFileName = "manifest.dat";

/// Proves that working folder + "/" + fileName is the file the signed manifest
/// at `manifestUrl` lists: writes the trust material, downloads the manifest,
/// verifies its signature and certificate chain, and compares the file's SHA-1
/// with the entry ".\" + fileName. Prints exactly one message on failure. After
/// a successful proof the three proof files are removed again. `trust` holds the
/// trust anchors to write (the program's own unless a test gives others).
bool VerifyDownload(const std::string& manifestUrl, const std::string& workingFolder, const std::string& fileName,
                    Verbosity verbosity, const DownloadSettings& settings = DownloadSettings{},
                    const platform::ResourceTable& trust = platform::ProgramResources());
