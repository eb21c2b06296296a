#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/file_progress.h"

/// Limits of one download. The time-outs give ERROR_INTERNET_TIMEOUT (12002);
/// zero leaves them to the transfer library's default (none for a stall).
struct DownloadSettings {
  std::chrono::seconds connectTimeout{60};  ///< to reach the server
  std::chrono::seconds stallTimeout{60};    ///< without receiving a single byte
  /// Most bytes the file may have; 0: no limit. A larger announced size fails
  /// before the destination is made, a body that grows past it fails before
  /// the block that passes it is written; both with
  /// platform::kErrorFileTooLarge.
  std::uint64_t sizeLimit = 0;
};

/// Copies the resource behind `url` (http, https, ftp or file; redirects are
/// followed to http, https and ftp only) into the file `destinationPath`, in
/// blocks of at most 64 KiB, calling `progress` (may be null) after each block
/// is written. An HTTP answer other than 200 never creates or touches the
/// destination. Prints nothing. On false the reason is the thread's last error:
/// 12028 for HTTP 404, 12029 for any other status, a WinINet-style 12xxx code
/// for other network failures, an errno value for file failures. A transfer
/// that fails part-way leaves the partial file. An exception thrown by
/// `progress` closes everything and goes on to the caller.
bool DownloadUrl(IFileProgressCallback* progress, const std::string& url,
                 const std::string& destinationPath,
                 const DownloadSettings& settings = DownloadSettings{});
