#pragma once

#include <string>

/// A working folder that no other account can plant files in. Failures leave
/// their reason in the last error: the system's code, or one of the tool's own
/// (kErrorFolderIsLink and the others of platform/error_codes.h).
namespace platform {

/// Creates one folder usable by the current user only.
bool CreatePrivateFolder(const std::string& path, bool& alreadyExisted);

/// True when `path` is a real folder (not a link), owned by the current user and
/// writable by nobody else. Otherwise false with the reason in the last error.
bool CheckPrivateFolder(const std::string& path);

/// True when nobody but the current user (or the administrator) can rename or
/// replace anything in the temporary folder `folder` or in a folder above it;
/// otherwise false with kErrorTempFolderNotOwned, kErrorTempFolderShared or the
/// system's error. Gives the folder as the system found it, links resolved and
/// ending with a separator: the name as given may lead through a link that its
/// owner can point elsewhere once this check has passed.
bool CheckTempFolder(const std::string& folder, std::string& realFolder);

}  // namespace platform
