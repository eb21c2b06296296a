#pragma once

#include <cstdint>
#include <string>

#include "platform/exclusive_lock.h"
#include "platform/private_folder.h"

/// The working folder and the output path. None of these print; the pipeline
/// turns their failures into messages.

/// Fixed name of the private working folder under the temporary folder.
inline constexpr const char* kWorkingFolderName = "CorvexBootableAvTempFolder";

/// Name of the image's tree inside the working folder. The working folder
/// itself stays private; the tree is the image's root, whose folders and files
/// any reader of the image must be able to see.
inline constexpr const char* kImageTreeFolderName = "image";

/// Absolute form of the output path as typed (the file need not exist).
/// Failure: reason in the last error.
bool ExpandOutputPath(const std::string& outputPath, std::string& fullPath);

/// The user's temporary folder, ending with a separator. Failure: last error.
bool GetTempFolder(std::string& tempFolder);

/// Takes the run lock beside the working folder, removes a leftover working
/// folder of an earlier run and creates it afresh, for this user only. Gives the
/// working folder path (no trailing separator); on failure the error code. The
/// lock stays held by `lock` for the rest of the run, so a second run of the
/// same account fails here instead of deleting the first run's folder.
bool PrepareWorkingFolder(const std::string& tempFolder, platform::ExclusiveLock& lock, std::string& workingFolder,
                          std::uint32_t& errorCode);

/// Creates the image's tree in the working folder and gives its path (no
/// trailing separator); the mastering makes it readable by all, with all it
/// holds then. Failure: reason in the last error.
bool CreateImageTree(const std::string& workingFolder, std::string& tree);

/// True when the file at `imagePath` (as platform::OutputPlace found it) is
/// in the working folder, which the run empties and removes, or is the lock
/// file beside it.
bool IsInsideWorkingFolder(const std::string& imagePath, const std::string& workingFolder);

/// Removes a folder tree. Best effort: callers ignore the result.
bool RemoveFolderTree(const std::string& folder);
