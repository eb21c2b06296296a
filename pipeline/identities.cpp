#include "pipeline/identities.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/error_text.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/last_error.h"

namespace {

/// A zip archive begins with the signature of its first local file header, or,
/// with no entries at all, with that of its end record: an archive that brings
/// no identities is still one and harms nothing. Anything else (an empty
/// answer, an error page, a compressed transfer encoding) is not.
bool BeginsAsZip(const std::string& path, std::uint32_t& code) {
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) {
    code = platform::ErrorCodeFromErrno(errno);
    return false;
  }
  char signature[4] = {};
  const std::size_t got = std::fread(signature, 1, sizeof signature, file);
  std::fclose(file);
  const bool zip = got == sizeof signature && (std::memcmp(signature, "PK\x03\x04", 4) == 0 ||
                                               std::memcmp(signature, "PK\x05\x06", 4) == 0);
  if (!zip) code = kErrorNotZipArchive;
  return zip;
}

}  // namespace

bool DownloadIdentities(IFileProgressCallback* progress, const std::string& url, const std::string& destinationPath,
                        const DownloadSettings& settings) {
  DownloadSettings limited = settings;
  limited.sizeLimit = kIdentitiesSizeLimit;
  std::uint32_t code = 0;
  if (DownloadUrl(progress, url, destinationPath, limited)) {
    if (BeginsAsZip(destinationPath, code)) return true;
  } else {
    code = platform::GetLastError();
  }
  // Whatever way it failed, a 404 included (one that answers a resumed
  // request finds the part of an earlier attempt), no byte of it may reach
  // the image.
  platform::DeleteFile(destinationPath);
  platform::SetLastError(code);
  return false;
}
