#pragma once

#include <cstdint>
#include <string>

/// File times and modes of a whole folder tree, for images whose bytes must not
/// depend on when the tree was made, and whose readers must not depend on the
/// umask it was made under.
namespace platform {

/// Sets every access and modification time in `root` and below (the folder
/// itself included) that is later than `after` seconds since 1970 (UTC) to
/// `time`; the others stay. Links are never followed: a link's own times are
/// set. False at the first failure, with the reason in the last error.
bool SetLaterTreeTimes(const std::string& root, std::int64_t after, std::int64_t time);

/// Makes the folder `root` and everything below it readable by all: folders
/// 0755, regular files 0644, or 0755 when their owner may run them. Links are
/// neither followed nor changed, nor is anything else. False at the first
/// failure, with the reason in the last error.
bool MakeTreeReadable(const std::string& root);

}  // namespace platform
