#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// Reproducible images: the reproducible-builds convention names, in the
/// environment variable SOURCE_DATE_EPOCH, the one time that a build may record
/// instead of the time it ran. A malformed value fails the build, as the
/// convention asks. The mastering program inherits the variable and takes its
/// own dates from it; the pipeline gives the working folder's files that time.

/// The last instant SOURCE_DATE_EPOCH may name, 9999-12-31T23:59:59Z: an ISO
/// 9660 date has four digits for the year.
inline constexpr std::int64_t kLatestSourceDate = 253402300799;

/// What SOURCE_DATE_EPOCH asks of one run.
struct SourceDate {
  std::int64_t epoch = 0;     ///< the time to record, in seconds since 1970 (UTC)
  std::int64_t runStart = 0;  ///< when the run began, in the same seconds
};

/// Reads SOURCE_DATE_EPOCH as a run begins. True with `date` empty when the
/// variable is unset; true with `date` set when it holds decimal digits only
/// and names no time after kLatestSourceDate. Leading zeros are taken, but the
/// mastering program refuses them, so the variable it inherits is rewritten
/// without. False when the variable is set but malformed; `value` then holds
/// it. Throws std::bad_alloc when the environment has no room for the rewrite.
bool ReadSourceDate(std::optional<SourceDate>& date, std::string& value);

/// Gives the epoch to every file and folder time in `folder` and below that
/// this run made (none earlier than its start) or that is later than the
/// epoch; the distribution's own earlier times stay. Two runs against the same
/// mirror then make the same image bytes, whenever they run and whether the
/// epoch lies in the past or the future. False at the first failure, with the
/// reason in the last error.
bool SetTreeTimesToSourceDate(const std::string& folder, const SourceDate& date);
