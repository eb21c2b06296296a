#include "platform/error_codes.h"

namespace platform {
namespace {

// One reason, one text, whichever channel carries it.
constexpr const char* kNotRegularFileText = "Not a regular file";

}  // namespace

// Neither switch has a default: -Wswitch names a code of the registry that has
// no text here. Other values pass through to the null at the end.

const char* OwnLastErrorText(std::uint32_t code) {
  switch (static_cast<LastErrorCode>(code)) {
    case kErrorResourceEmpty:
      return "The resource in the executable is empty";
    case kErrorResourceNotFound:
      return "The resource cannot be found in the executable";
    case kErrorFolderIsLink:
      return "The path is a symbolic link, not a folder";
    case kErrorFolderNotOwned:
      return "It belongs to another user; set TMPDIR (on Windows: TMP) to a folder of your own";
    case kErrorFolderShared:
      return "The folder is writable by other users";
    case kErrorRunInProgress:
      return "Another run of the tool is using the working folder";
    case kErrorNotRegularFile:
      return kNotRegularFileText;
    case kErrorInsideWorkingFolder:
      return "It is inside the tool's working folder";
    case kErrorTempFolderNotOwned:
      return "It, or a folder above it, belongs to another user; set TMPDIR (on Windows: TMP) to a folder of "
             "your own";
    case kErrorTempFolderShared:
      return "Other users may rename what is in it, or in a folder above it (writable by them, without the "
             "sticky bit); set TMPDIR (on Windows: TMP) to a folder of your own";
    case kErrorFileTooLarge:
      return "The file exceeds the size limit of this download";
    case kErrorNotZipArchive:
      return "The file is not a zip archive";
    case kErrorProxyRefused:
      return "The proxy refused the request (check the proxy settings and credentials)";
  }
  return nullptr;
}

const char* OwnErrnoText(int errorNumber) {
  switch (static_cast<ErrnoCode>(errorNumber)) {
    case ARCHIVE_CORRUPT:
      return "The archive is corrupt";
    case ARCHIVE_TRUNCATED:
      return "The archive is truncated";
    case ARCHIVE_UNSUPPORTED:
      return "The archive contains unsupported features";
    case kErrnoNotRegularFile:
      return kNotRegularFileText;
    case kErrnoFileReplaced:
      return "Another file was put under the name of the tool's new file";
  }
  return nullptr;
}

}  // namespace platform
