#pragma once

#include <cstdint>
#include <string>

#include "common/file_progress.h"
#include "net/download.h"

/// The identities archive: the identities published since the virus data in
/// the package, fetched without a manifest to prove it. What the tool can
/// check before it goes into the image is its size and its kind.

/// The largest identities archive taken, 256 MiB. A real one holds the
/// identities of the weeks since one data release, a few megabytes; an answer
/// this large is a broken or hostile server filling the disk and the image.
inline constexpr std::uint64_t kIdentitiesSizeLimit = 256ULL << 20;

/// Downloads the identities archive at `url` into `destinationPath` as
/// DownloadUrl does, but takes only a zip archive of at most
/// kIdentitiesSizeLimit bytes. On false the last error holds the reason:
/// ERROR_INTERNET_ITEM_NOT_FOUND when the server has no archive,
/// kErrorFileTooLarge, kErrorNotZipArchive, or the download's; after any of
/// them nothing of the answer, nor of an earlier attempt, is left at the
/// destination.
bool DownloadIdentities(IFileProgressCallback* progress, const std::string& url, const std::string& destinationPath,
                        const DownloadSettings& settings);
