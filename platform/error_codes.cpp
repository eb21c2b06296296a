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
      return "It belongs to another user";
    case kErrorFolderShared:
      return "The folder is writable by other users";
    case kErrorRunInProgress:
      return "Another run of the tool is using the working folder";
    case kErrorNotRegularFile:
      return kNotRegularFileText;
    case kErrorTempFolderNotOwned:
      return "It, or a folder above it, belongs to another user";
    case kErrorTempFolderShared:
      return "Other users may rename what is in it, or in a folder above it (writable by them, without the "
             "sticky bit)";
  }
  return nullptr;
}

const char* OwnErrnoText(int errorNumber) {
  switch (static_cast<ErrnoCode>(errorNumber)) {
    case kErrnoNotRegularFile:
      return kNotRegularFileText;
    case kErrnoFileReplaced:
      return "Another file was put under the name of the tool's new file";
  }
  return nullptr;
}

}  // namespace platform
