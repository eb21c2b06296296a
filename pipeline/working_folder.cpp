#include "pipeline/working_folder.h"

#include <cstdio>

#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/paths.h"

bool ExpandOutputPath(const std::string& outputPath, std::string& fullPath) {
  return platform::FullPath(outputPath, fullPath);
}

bool GetTempFolder(std::string& tempFolder) { return platform::TempFolder(tempFolder); }

bool PrepareWorkingFolder(const std::string& tempFolder, std::string& workingFolder, std::uint32_t& errorCode) {
  std::string folder = tempFolder + kWorkingFolderName;
  RemoveFolderTree(folder);
  bool alreadyExisted = false;
  if (!platform::CreateFolder(folder, alreadyExisted) && !alreadyExisted) {
    errorCode = platform::GetLastError();
    return false;
  }
  workingFolder = folder;
  return true;
}

bool ProbeOutputFile(const std::string& fullOutputPath) {
  std::FILE* file = platform::OpenFile(fullOutputPath, "ab");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool RemoveFolderTree(const std::string& folder) { return platform::RemoveTree(folder); }
