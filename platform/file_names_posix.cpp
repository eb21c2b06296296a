#include "platform/file_names.h"

namespace platform {

// A name here is a byte string without '/' and NUL, and the file systems the
// tool writes to tell every two of them apart.
bool HoldsFileName(const std::string&) { return true; }

std::string FileNameKey(const std::string& component) { return component; }

}  // namespace platform
