#include "archive/file_error.h"

#include <cerrno>

#include "platform/error_description.h"

std::string FileErrorText(int errorNumber) { return platform::ErrnoDescription(errorNumber); }

std::string FileErrorText() { return FileErrorText(errno); }
