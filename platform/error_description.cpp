#include "platform/error_description.h"

#include "platform/output_file.h"
#include "platform/private_folder.h"
#include "platform/resources.h"

namespace platform {
namespace {

const char* OwnDescription(std::uint32_t code) {
  switch (code) {
    case kErrorFolderIsLink:
      return "The path is a symbolic link, not a folder";
    case kErrorFolderNotOwned:
      return "It belongs to another user; set TMPDIR (on Windows: TMP) to a folder of your own";
    case kErrorFolderShared:
      return "The folder is writable by other users";
    case kErrorRunInProgress:
      return "Another run of the tool is using the working folder";
    case kErrorInsideWorkingFolder:
      return "It is inside the tool's working folder";
    case kErrorNotRegularFile:
      return "Not a regular file";
    case kResourceNotFound:
      return "The resource cannot be found in the executable";
    case kResourceEmpty:
      return "The resource in the executable is empty";
    default:
      return nullptr;
  }
}

}  // namespace

bool SystemErrorDescription(std::uint32_t code, std::string& text) {
  if (const char* own = OwnDescription(code)) {
    text = own;
    return true;
  }
  return OsErrorDescription(code, text);
}

}  // namespace platform
