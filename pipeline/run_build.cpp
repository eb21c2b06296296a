#include "pipeline/run_build.h"

#include "archive/file_error.h"
#include "net/error_text.h"
#include "pipeline/download_locations.h"
#include "pipeline/working_folder.h"
#include "platform/console.h"

namespace {

/// Console and clean-up rules shared by every step of one run.
class BuildRun {
 public:
  explicit BuildRun(Verbosity verbosity) : verbosity_(verbosity) {}

  template <typename... Args>
  void Step(const char* format, Args... args) const {
    if (verbosity_ != Quiet) platform::PrintOut(format, args...);
  }

  /// Ends the run after a reported failure: the working folder goes, if made.
  bool Abort() const {
    if (!workingFolder_.empty()) RemoveFolderTree(workingFolder_);
    return false;
  }

  void SetWorkingFolder(const std::string& folder) { workingFolder_ = folder; }
  const std::string& WorkingFolder() const { return workingFolder_; }

 private:
  Verbosity verbosity_;
  std::string workingFolder_;
};

}  // namespace

bool RunBuild(const std::string& outputPath, const std::optional<std::string>& distributionUrl,
              Verbosity verbosity, const BuildSettings& settings) {
  BuildRun run(verbosity);

  const std::string sourceUrl = distributionUrl ? *distributionUrl : DefaultDistributionUrl(settings);
  (void)sourceUrl;

  std::string fullOutputPath;
  if (!ExpandOutputPath(outputPath, fullOutputPath)) {
    platform::PrintErr("Failed to expand the output path: %s\n", LastErrorText().c_str());
    return false;
  }

  std::string tempFolder;
  if (!GetTempFolder(tempFolder)) {
    platform::PrintErr("Failed to get temp folder: %s\n", LastErrorText().c_str());
    return false;
  }

  platform::ExclusiveLock runLock;
  std::string workingFolder;
  std::uint32_t folderError = 0;
  if (!PrepareWorkingFolder(tempFolder, runLock, workingFolder, folderError)) {
    platform::PrintErr("Failed to create temp folder %s: %s\n", (tempFolder + kWorkingFolderName).c_str(),
                       ErrorCodeText(folderError).c_str());
    return false;
  }
  run.SetWorkingFolder(workingFolder);

  if (!ProbeOutputFile(fullOutputPath)) {
    platform::PrintErr("Cannot open the output file %s: %s\n", fullOutputPath.c_str(), FileErrorText().c_str());
    return run.Abort();
  }

  platform::PrintErr("This build stops after preparing the working folder: downloading is not available yet\n");
  return run.Abort();
}
