#include "pipeline/run_build.h"

#include <cstdio>

#include "archive/file_error.h"
#include "archive/tar_reader.h"
#include "archive/virus_version.h"
#include "archive/z_reader.h"
#include "common/virus_data_version.h"
#include "net/download.h"
#include "net/error_text.h"
#include "net/progress.h"
#include "net/verified_fetch.h"
#include "pipeline/download_locations.h"
#include "pipeline/identities.h"
#include "pipeline/iso_master.h"
#include "pipeline/source_date.h"
#include "pipeline/working_folder.h"
#include "platform/console.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/private_folder.h"

namespace {

/// Marks the image being made beside an existing output file, so that a user
/// who finds one left by a killed run knows whose it is.
constexpr const char* kStagedImageTag = ".rscdc-partial-";

/// Prints a message of the message table; one without arguments is printed as
/// it is, never read as a format.
template <typename... Args>
void Print(void (*print)(const char*, ...), const char* format, Args... args) {
  if constexpr (sizeof...(Args) == 0) {
    print("%s", format);
  } else {
    print(format, args...);
  }
}

/// Console, clean-up and download rules shared by every step of one run.
class BuildRun {
 public:
  BuildRun(Verbosity verbosity, const BuildSettings& settings) : verbosity_(verbosity), settings_(settings) {}

  template <typename... Args>
  void Step(const char* format, Args... args) const {
    if (verbosity_ != Quiet) Print(platform::PrintOut, format, args...);
  }

  /// Begins the next step with its message; false instead when an interrupt
  /// was requested, since the run is to stop where it is.
  template <typename... Args>
  bool Next(const char* format, Args... args) const {
    if (platform::InterruptRequested()) return false;
    Step(format, args...);
    return true;
  }

  /// Reports a failed step, unless the failure is only the step giving way to
  /// an interrupt request: the program's entry says that in a line of its own.
  template <typename... Args>
  void Report(const char* format, Args... args) const {
    if (!platform::InterruptRequested()) Print(platform::PrintErr, format, args...);
  }

  /// Ends the run after a failure: the working folder goes, if made.
  bool Abort() const {
    if (!workingFolder_.empty()) RemoveFolderTree(workingFolder_);
    if (!createdOutput_.empty()) platform::DeleteFile(createdOutput_);
    return false;
  }

  /// Downloads with a progress line of its own, which is gone (and the line
  /// blanked) before the caller looks at the outcome. On failure `error` holds
  /// the download's error code.
  bool Download(const std::string& url, const std::string& destination, std::uint32_t& error) const {
    MyProgressCallback progress(verbosity_);
    const bool ok = DownloadUrl(&progress, url, destination, settings_.download);
    error = platform::GetLastError();
    return ok;
  }

  /// Downloads a file that the build cannot go on without; reports a failure.
  bool DownloadRequired(const std::string& url, const std::string& destination) const {
    std::uint32_t error = 0;
    if (Download(url, destination, error)) return true;
    Report("Download failed: %s\n", ErrorCodeText(error).c_str());
    return false;
  }

  /// Proves a downloaded file; a failed proof earns one more download and one
  /// more proof. The proof reports its own failures.
  bool DownloadVerified(const std::string& manifestUrl, const std::string& url, const std::string& fileName) const {
    if (Prove(manifestUrl, fileName)) return true;
    if (!Next("Retrying the download...\n")) return false;
    if (!DownloadRequired(url, workingFolder_ + "/" + fileName)) return false;
    return Prove(manifestUrl, fileName);
  }

  bool Prove(const std::string& manifestUrl, const std::string& fileName) const {
    return VerifyDownload(manifestUrl, workingFolder_, fileName, verbosity_, settings_.download, *settings_.trust);
  }

  /// Runs Untar over an archive file; false with errno set.
  bool UntarFile(const std::string& archivePath, const std::optional<std::string>& target,
                 IUntarCallback* callback) const {
    UntarContext context;
    context.targetFolder = target;
    context.archive = platform::OpenFile(archivePath, "rb");
    if (context.archive == nullptr) return false;
    MyProgressCallback progress(verbosity_);
    return Untar(context, callback, &progress);
  }

  Verbosity verbosity() const { return verbosity_; }
  const BuildSettings& settings() const { return settings_; }
  void SetWorkingFolder(const std::string& folder) { workingFolder_ = folder; }
  const std::string& WorkingFolder() const { return workingFolder_; }
  /// An output file this run made; a failure removes it again.
  void SetCreatedOutput(const std::string& path) { createdOutput_ = path; }

 private:
  Verbosity verbosity_;
  const BuildSettings& settings_;
  std::string workingFolder_;
  std::string createdOutput_;
};

}  // namespace

bool RunBuild(const std::string& outputPath, const std::optional<std::string>& distributionUrl,
              Verbosity verbosity, const BuildSettings& settings) {
  BuildRun run(verbosity, settings);

  // Before anything is made or fetched: the mastering program would refuse a
  // malformed value only at the very end.
  std::optional<SourceDate> sourceDate;
  std::string sourceDateText;
  if (!ReadSourceDate(sourceDate, sourceDateText)) {
    platform::PrintErr("Invalid SOURCE_DATE_EPOCH \"%s\": not a decimal number of seconds since 1970 up to %lld\n",
                       sourceDateText.c_str(), static_cast<long long>(kLatestSourceDate));
    return false;
  }

  const std::string sourceUrl = distributionUrl ? *distributionUrl : DefaultDistributionUrl(settings);

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

  // The image lands where the file system resolves the output path, through
  // links as for any program that writes a file; messages keep the path as
  // typed.
  std::string imagePath;
  if (!platform::ResolveLinks(outputPath, imagePath)) {
    platform::PrintErr("Cannot open the output file %s: %s\n", fullOutputPath.c_str(), LastErrorText().c_str());
    return run.Abort();
  }
  // The working folder goes at the end of the run, and with it anything in it.
  if (IsInsideWorkingFolder(imagePath, workingFolder)) {
    platform::PrintErr("Cannot open the output file %s: %s\n", fullOutputPath.c_str(),
                       ErrorCodeText(platform::kErrorInsideWorkingFolder).c_str());
    return run.Abort();
  }
  bool outputCreated = false;
  if (!ProbeOutputFile(imagePath, outputCreated)) {
    platform::PrintErr("Cannot open the output file %s: %s\n", fullOutputPath.c_str(), FileErrorText().c_str());
    return run.Abort();
  }
  // A failed run leaves no empty or half image where there was no file before.
  if (outputCreated) run.SetCreatedOutput(imagePath);

  // The distribution.
  const std::string distributionPath = workingFolder + "/" + kDistributionFileName;
  if (!run.Next("Downloading Linux distribution from %s...\n", distributionUrl ? distributionUrl->c_str() : "Corvex") ||
      !run.DownloadRequired(sourceUrl, distributionPath)) {
    return run.Abort();
  }
  if (!distributionUrl) {
    if (!run.DownloadVerified(DistributionManifestUrl(settings), sourceUrl, kDistributionFileName)) {
      return run.Abort();
    }
    run.Step("Integrity of the Linux distribution successfully verified.\n");
  }

  if (!run.Next("Unpacking Linux distribution...\n")) return run.Abort();
  if (!run.UntarFile(distributionPath, workingFolder, nullptr)) {
    run.Report("Failed to unpack the Linux distribution to %s: %s\n", workingFolder.c_str(), FileErrorText().c_str());
    return run.Abort();
  }
  platform::DeleteFile(distributionPath);

  // The anti-virus package.
  const std::string packagePath = workingFolder + "/" + kPackageFileName;
  if (!run.Next("Downloading Corvex Anti-Virus for Linux...\n") ||
      !run.DownloadRequired(PackageUrl(settings), packagePath)) {
    return run.Abort();
  }
  if (!run.DownloadVerified(PackageManifestUrl(settings), PackageUrl(settings), kPackageFileName)) {
    return run.Abort();
  }
  run.Step("Integrity of Corvex Anti-Virus for Linux successfully verified.\n");

  const std::string rootCopy = workingFolder + "/" + kRootCopyFolder;
  const std::string packageTarPath = rootCopy + kPackageTarFileName;
  if (!run.Next("Unpacking Corvex Anti-Virus for Linux...\n")) return run.Abort();
  bool decompressed = false;
  {
    MyProgressCallback progress(verbosity);
    decompressed = DecompressFile(packageTarPath, &progress, packagePath);
  }
  if (!decompressed) {
    run.Report("Decompression failed: %s\n", FileErrorText().c_str());
    return run.Abort();
  }
  platform::DeleteFile(packagePath);

  if (!run.Next("Determining virus data version...\n")) return run.Abort();
  MyUntarCallback versionScan;
  if (!run.UntarFile(packageTarPath, std::nullopt, &versionScan)) {
    run.Report("Reading archive %s failed: %s\n", packageTarPath.c_str(), FileErrorText().c_str());
    return run.Abort();
  }
  if (!versionScan.found) {
    platform::PrintErr("Could not determine the virus data version\n");
    return run.Abort();
  }
  const VirusDataVersion version{versionScan.major, versionScan.minor};

  // The newest identities, when the server has some for this data version.
  const std::string identitiesName = IdentitiesFileName(version.major, version.minor);
  if (!run.Next("Downloading latest identities for virus data %d.%d...\n", version.major, version.minor)) {
    return run.Abort();
  }
  std::uint32_t identitiesError = 0;
  bool identitiesFetched = false;
  {
    MyProgressCallback progress(verbosity);
    identitiesFetched = DownloadIdentities(&progress, BuildIdentitiesUrl(settings, identitiesName),
                                           rootCopy + identitiesName, settings.download);
    identitiesError = platform::GetLastError();
  }
  if (!identitiesFetched) {
    if (identitiesError != ERROR_INTERNET_ITEM_NOT_FOUND) {
      run.Report("\nDownload failed: %s\n", ErrorCodeText(identitiesError).c_str());
      return run.Abort();
    }
    run.Step("No newer identities found\n");
  }

  if (!run.Next("Creating the ISO image: %s...\n", outputPath.c_str())) return run.Abort();
  // The same mirror then gives the same image bytes.
  if (sourceDate) {
    if (!SetTreeTimesToSourceDate(workingFolder, *sourceDate)) {
      platform::PrintErr("Failed to set the file times in %s: %s\n", workingFolder.c_str(), LastErrorText().c_str());
      return run.Abort();
    }
  }
  // A file that was there before is replaced only by a finished image: the
  // image is made beside it and takes its place once the program succeeded.
  // Where the folder takes no new file, the image is made in place.
  std::string masteredPath = imagePath;
  if (!outputCreated) {
    std::string staged;
    if (platform::CreateFileBeside(imagePath, kStagedImageTag, staged)) {
      run.SetCreatedOutput(staged);
      masteredPath = staged;
    }
  }
  if (!MasterIsoImage(workingFolder, masteredPath, version, verbosity)) return run.Abort();
  if (masteredPath != imagePath && !platform::MoveIntoPlace(masteredPath, imagePath)) {
    run.Report("Cannot open the output file %s: %s\n", fullOutputPath.c_str(), FileErrorText().c_str());
    return run.Abort();
  }

  run.Step("Removing temporary files...\n");
  RemoveFolderTree(workingFolder);
  run.Step("ISO image successfully created\n");
  return true;
}
