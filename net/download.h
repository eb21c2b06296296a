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
  /// A transfer that receives less than 1 KB a second on average over this long
  /// times out too; zero: no lowest rate.
  std::chrono::milliseconds slowWindow{std::chrono::seconds(60)};
  /// The wait before the second attempt of a broken transfer; each later wait
  /// is twice the one before.
  std::chrono::milliseconds retryDelay{std::chrono::seconds(1)};
  /// Most bytes the file may have; 0: no limit. A larger announced size fails
  /// before the destination is made, a body that grows past it fails before
  /// the block that passes it is written; both with
  /// kErrorFileTooLarge.
  std::uint64_t sizeLimit = 0;
  /// A redirect from an https URL is followed to https only: one to http or
  /// ftp is not followed, so that a redirect cannot take the download off
  /// the checked connection.
  bool noDowngrade = false;
};

/// Copies the resource behind `url` (http, https, ftp or file; redirects are
/// followed to http, https and ftp only) into the file `destinationPath`, in
/// blocks of at most 64 KiB, calling `progress` (may be null) after each block
/// is written. An HTTP answer other than 200 never creates or touches the
/// destination. Prints nothing. On false the reason is the thread's last error:
/// 12028 for HTTP 404, 12029 for any other status and for an answer whose
/// length cannot be read, a WinINet-style 12xxx code for other network
/// failures, an errno value for file failures.
///
/// A transfer that breaks after its answer (cut off, stalled, too slow) is
/// tried again, up to 5 attempts in all with waits of `retryDelay`, twice that,
/// and so on between them; an interrupt request ends a wait at once. Each
/// further attempt goes on from what the destination holds: over HTTP, where
/// the first answer named a total and a strong validator, with a range request
/// (If-Range) that only a 206 for exactly that rest of the same resource (same
/// total, same validator) continues, over FTP from a restart offset where the
/// size is known; any other answer, and a body that would make the file longer
/// than its total, starts the file over. `progress` hears of each further
/// attempt (OnResume) and then counts on from where the file goes on. When the
/// attempts run out, the last one's reason is reported and the partial file
/// stays. An exception thrown by `progress` closes everything and goes on to
/// the caller.
bool DownloadUrl(IFileProgressCallback* progress, const std::string& url,
                 const std::string& destinationPath,
                 const DownloadSettings& settings = DownloadSettings{});
