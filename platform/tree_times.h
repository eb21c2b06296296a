#pragma once

#include <cstdint>
#include <string>

/// File times of a whole folder tree, for images whose bytes must not depend on
/// when the tree was made.
namespace platform {

/// Sets every access and modification time in `root` and below (the folder
/// itself included) that is later than `after` seconds since 1970 (UTC) to
/// `time`; the others stay. Links are never followed: a link's own times are
/// set. False at the first failure, with the reason in the last error.
bool SetLaterTreeTimes(const std::string& root, std::int64_t after, std::int64_t time);

}  // namespace platform
