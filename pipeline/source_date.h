#pragma once

#include <cstdint>
#include <optional>

/// Reproducible images: the reproducible-builds convention names, in the
/// environment variable SOURCE_DATE_EPOCH, the one time that a build may record
/// instead of the time it ran. The mastering program inherits the variable and
/// takes its own dates from it; the pipeline clamps the working folder's file
/// times to it.

/// The value of SOURCE_DATE_EPOCH in seconds since 1970 (UTC), when it is set
/// to a decimal number. Nothing when it is unset or malformed: a malformed
/// value is the mastering program's to refuse.
std::optional<std::int64_t> SourceDateEpoch();
