#include "archive/file_error.h"

#include <cerrno>
#include <cstring>

#include "platform/output_file.h"

std::string FileErrorText(int errorNumber) {
  switch (errorNumber) {
    case ARCHIVE_CORRUPT:
      return "The archive is corrupt";
    case ARCHIVE_TRUNCATED:
      return "The archive is truncated";
    case ARCHIVE_UNSUPPORTED:
      return "The archive contains unsupported features";
    case platform::kFileNotRegular:
      return "Not a regular file";
    default:
      return std::strerror(errorNumber);
  }
}

std::string FileErrorText() { return FileErrorText(errno); }
