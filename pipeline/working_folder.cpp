#include "pipeline/working_folder.h"

#include <cerrno>
#include <cstdio>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/output_file.h"
#include "platform/paths.h"

namespace {

std::string LockPath(const std::string& workingFolder) { return workingFolder + ".lock"; }

}  // namespace

bool ExpandOutputPath(const std::string& outputPath, std::string& fullPath) {
  return platform::FullPath(outputPath, fullPath);
}

bool GetTempFolder(std::string& tempFolder) { return platform::TempFolder(tempFolder); }

bool PrepareWorkingFolder(const std::string& tempFolder, platform::ExclusiveLock& lock, std::string& workingFolder,
                          std::uint32_t& errorCode) {
  auto fail = [&] {
    errorCode = platform::GetLastError();
    lock.Release();
    return false;
  };
  // Checking the working folder alone is too late when someone else can swap
  // it, or a folder above it, for a link during the run. From here on the name
  // with links resolved: a link on the way could be pointed elsewhere later.
  std::string realTempFolder;
  if (!platform::CheckTempFolder(tempFolder, realTempFolder)) return fail();
  const std::string folder = realTempFolder + kWorkingFolderName;
  if (!lock.Acquire(LockPath(folder))) return fail();
  RemoveFolderTree(folder);
  // A leftover that could not be removed completely is reused, but only if it
  // is ours alone: under a shared temporary folder another account could
  // otherwise put files into the image.
  bool alreadyExisted = false;
  if (!platform::CreatePrivateFolder(folder, alreadyExisted) && !alreadyExisted) return fail();
  if (!platform::CheckPrivateFolder(folder)) return fail();
  workingFolder = folder;
  return true;
}

bool CreateImageTree(const std::string& workingFolder, std::string& tree) {
  const std::string folder = workingFolder + "/" + kImageTreeFolderName;
  // A leftover of an earlier run that could not be removed is reused, as the
  // working folder around it is.
  if (!platform::MakeDirectory(folder) && errno != EEXIST) {
    platform::SetLastError(platform::ErrorCodeFromErrno(errno));
    return false;
  }
  tree = folder;
  return true;
}

bool IsInsideWorkingFolder(const std::string& imagePath, const std::string& workingFolder) {
  return platform::IsAtOrBelow(imagePath, workingFolder) || platform::IsAtOrBelow(imagePath, LockPath(workingFolder));
}

bool RemoveFolderTree(const std::string& folder) { return platform::RemoveTree(folder); }
