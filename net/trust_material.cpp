#include "net/trust_material.h"

#include <cerrno>
#include <cstdio>

#include "common/error_text.h"
#include "common/report_failure.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/last_error.h"

bool LoadResourceBytes(const platform::Resource& resource, std::string& bytes) {
  if (!resource) return false;
  if (resource.size == 0) {
    platform::SetLastError(platform::kErrorResourceEmpty);
    return false;
  }
  bytes.assign(reinterpret_cast<const char*>(resource.data), resource.size);
  return true;
}

bool WriteBytesToFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = platform::OpenFile(path, "wb");
  if (file == nullptr) return false;
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  int writeError = errno;
  // Small writes stay in the stream's buffer until it is closed, so a full disk
  // may only show here; a failed close is a failed write.
  const bool closed = std::fclose(file) == 0;
  if (written != bytes.size()) {
    errno = writeError;
    return false;
  }
  return closed;
}

namespace {

bool ExtractOne(const std::string& workingFolder, const platform::ResourceTable& resources, const char* type,
                int id, const char* fileName, const char* what) {
  std::string bytes;
  if (!LoadResourceBytes(platform::FindResourceIn(resources, type, id), bytes)) {
    return ReportFailure("Failed to extract %s: %s\n", what, LastErrorText().c_str());
  }
  const std::string path = workingFolder + "/" + fileName;
  if (!WriteBytesToFile(path, bytes)) {
    return ReportFailure("Failed to save %s to %s: %s\n", what, path.c_str(), FileErrorText().c_str());
  }
  return true;
}

}  // namespace

bool ExtractTrustMaterial(const std::string& workingFolder, const platform::ResourceTable& resources) {
  return ExtractOne(workingFolder, resources, kCertificateResourceType, kCertificateResourceId,
                    kCaCertificateFileName, "CA certificate") &&
         ExtractOne(workingFolder, resources, kCrlResourceType, kCrlResourceId, kCrlFileName, "CRL");
}
