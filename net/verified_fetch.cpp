#include "net/verified_fetch.h"

#include <sstream>

#include "common/error_text.h"
#include "common/report_failure.h"
#include "net/progress.h"
#include "net/trust_material.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "verify/verify_exceptions.h"
#include "verify/version_tool.h"

bool VerifyDownload(const std::string& manifestUrl, const std::string& workingFolder, const std::string& fileName,
                    Verbosity verbosity, const DownloadSettings& settings, const platform::ResourceTable& trust) {
  if (!ExtractTrustMaterial(workingFolder, trust)) return false;

  // The verification library takes narrow paths in the system code page; here
  // every path is already UTF-8 bytes.
  const std::string manifestPath = workingFolder + "/" + kManifestFileName;
  const std::string certificatePath = workingFolder + "/" + kCaCertificateFileName;
  const std::string crlPath = workingFolder + "/" + kCrlFileName;
  const std::string basePath = workingFolder + "/";

  if (verbosity != Quiet) platform::PrintOut("Downloading the manifest file...\n");
  bool downloaded = false;
  std::uint32_t downloadError = 0;
  {
    MyProgressCallback progress(verbosity);
    DownloadSettings limited = settings;
    limited.sizeLimit = kManifestSizeLimit;
    downloaded = DownloadUrl(&progress, manifestUrl, manifestPath, limited);
    downloadError = platform::GetLastError();
  }
  if (!downloaded) return ReportFailure("Download failed: %s\n", ErrorCodeText(downloadError).c_str());

  VersionTool manifest;
  try {
    manifest.load(manifestPath, certificatePath, crlPath);
  } catch (const verify_exceptions::ve_base& e) {
    std::ostringstream text;
    e.print(text);
    return ReportFailure("%s\n", text.str().c_str());
  }

  const std::string key = ".\\" + fileName;
  const file_entry* entry = nullptr;
  for (const file_entry& candidate : manifest.version()) {
    if (candidate.name == key) {
      entry = &candidate;
      break;
    }
  }
  if (entry == nullptr) return ReportFailure("Error: Manifest does not contain the requested file.\n");

  switch (entry->check_file(basePath)) {
    case 0:
      break;
    case 1:
      return ReportFailure("Error: File checksum is incorrect.\n");
    default:
      return ReportFailure("Failed to verify the checksum.\n");
  }

  platform::DeleteFile(manifestPath);
  platform::DeleteFile(crlPath);
  platform::DeleteFile(certificatePath);
  return true;
}
