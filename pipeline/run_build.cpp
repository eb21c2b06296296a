#include "pipeline/run_build.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>

#include "common/error_text.h"
#include "archive/tar_reader.h"
#include "archive/virus_version.h"
#include "archive/z_reader.h"
#include "common/report_failure.h"
#include "common/virus_data_version.h"
#include "image/boot_material.h"
#include "net/download.h"
#include "common/error_text.h"
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
#include "platform/tree_times.h"

namespace {

/// Marks the image being made beside an existing output file, so that a user
/// who finds one left by a killed run knows whose it is.
constexpr const char* kStagedImageTag = ".rscdc-partial-";

/// What a run made that must not outlive it unless it finished: the working
/// folder, and an output file the run created (the empty one that proved the
/// path writable, or the image made beside an earlier one). An escaping
/// exception leaves both, as the next run clears a leftover folder anyway.
class RunCleanup {
 public:
  RunCleanup() = default;
  RunCleanup(const RunCleanup&) = delete;
  RunCleanup& operator=(const RunCleanup&) = delete;
  ~RunCleanup() {
    if (finished_ || std::uncaught_exceptions() > exceptionsAtStart_) return;
    if (!folder_.empty()) RemoveFolderTree(folder_);
    if (output_ != nullptr) output_->Discard();
  }

  /// Registers the folder to go, with all that is in it, unless the run
  /// finishes.
  void RemoveOnFailure(const std::string& folder) { folder_ = folder; }
  /// Registers what `output` made to go too; it must outlive this object.
  void DiscardOnFailure(platform::OutputPlace& output) { output_ = &output; }
  void Finished() { finished_ = true; }

 private:
  const int exceptionsAtStart_ = std::uncaught_exceptions();
  std::string folder_;
  platform::OutputPlace* output_ = nullptr;
  bool finished_ = false;
};

/// One run, phase by phase. Each phase announces its steps, reports its own
/// failure (see RunBuild's printing rule) and answers false to stop the run.
class Build {
 public:
  Build(const std::string& outputPath, const std::optional<std::string>& distributionUrl, Verbosity verbosity,
        const BuildSettings& settings)
      : outputPath_(outputPath), distributionUrl_(distributionUrl), verbosity_(verbosity), settings_(settings) {
    builtIn_ = settings_.download;
    builtIn_.noDowngrade = true;
  }

  bool Prepare();
  bool FetchDistribution();
  bool FetchPackage();
  bool FindDataVersion();
  bool FetchIdentities();
  bool Master();
  bool Finish();

 private:
  bool PrepareOutput();

  /// A step message; none at Quiet.
  void Step(const char* format, ...) const __attribute__((format(RSCDC_PRINTF_FORMAT, 2, 3)));
  /// Begins the next step by printing its message; false instead, printing
  /// nothing, when an interrupt was requested: the run stops where it is.
  bool BeginStep(const char* format, ...) const __attribute__((format(RSCDC_PRINTF_FORMAT, 2, 3)));
  bool OutputFails(const std::string& why) const {
    return ReportFailure("Cannot open the output file %s: %s\n", fullOutputPath_.c_str(), why.c_str());
  }

  bool DownloadRequired(const std::string& url, const std::string& destination, const DownloadSettings& download,
                        std::uint64_t sizeLimit) const;
  bool DownloadVerified(const std::string& manifestUrl, const std::string& url, const std::string& fileName,
                        std::uint64_t sizeLimit) const;
  bool UntarFile(const std::string& archivePath, const std::optional<std::string>& target,
                 IUntarCallback* callback) const;

  /// Downloads stay in the working folder; what the image holds goes into
  /// its tree.
  std::string InWorkingFolder(const std::string& name) const { return workingFolder_ + "/" + name; }
  std::string TreeFolder() const { return InWorkingFolder(kImageTreeFolderName); }
  std::string RootCopy() const { return TreeFolder() + "/" + kRootCopyFolder; }
  std::string PackageTar() const { return RootCopy() + kPackageTarFileName; }

  const std::string& outputPath_;
  const std::optional<std::string>& distributionUrl_;
  const Verbosity verbosity_;
  const BuildSettings& settings_;
  /// The settings of the downloads from the built-in locations: a redirect
  /// cannot take them from https to http.
  DownloadSettings builtIn_;

  std::optional<SourceDate> sourceDate_;
  std::string fullOutputPath_;
  platform::OutputPlace output_;
  std::string workingFolder_;
  VirusDataVersion version_{};
  // Released after the clean-up: no second run may take the folder before
  // this one has removed it.
  platform::ExclusiveLock lock_;
  RunCleanup cleanup_;
};

void Build::Step(const char* format, ...) const {
  if (verbosity_ == Quiet) return;
  va_list args;
  va_start(args, format);
  platform::VPrintOut(format, args);
  va_end(args);
}

bool Build::BeginStep(const char* format, ...) const {
  if (platform::InterruptRequested()) return false;
  if (verbosity_ != Quiet) {
    va_list args;
    va_start(args, format);
    platform::VPrintOut(format, args);
    va_end(args);
  }
  return true;
}

/// Downloads a file that the build cannot go on without, of at most
/// `sizeLimit` bytes, with a progress line of its own that is gone before the
/// outcome is looked at.
bool Build::DownloadRequired(const std::string& url, const std::string& destination, const DownloadSettings& download,
                             std::uint64_t sizeLimit) const {
  DownloadSettings limited = download;
  limited.sizeLimit = sizeLimit;
  std::uint32_t error = 0;
  {
    MyProgressCallback progress(verbosity_);
    if (DownloadUrl(&progress, url, destination, limited)) return true;
    error = platform::GetLastError();
  }
  return ReportFailure("Download failed: %s\n", ErrorCodeText(error).c_str());
}

/// Proves a downloaded file; a failed proof earns one more download and one
/// more proof. The proof reports its own failures.
bool Build::DownloadVerified(const std::string& manifestUrl, const std::string& url, const std::string& fileName,
                             std::uint64_t sizeLimit) const {
  auto prove = [&] {
    return VerifyDownload(manifestUrl, workingFolder_, fileName, verbosity_, builtIn_, *settings_.trust);
  };
  if (prove()) return true;
  return BeginStep("Retrying the download...\n") && DownloadRequired(url, InWorkingFolder(fileName), builtIn_, sizeLimit) &&
         prove();
}

/// Runs Untar over an archive file; false with errno set.
bool Build::UntarFile(const std::string& archivePath, const std::optional<std::string>& target,
                      IUntarCallback* callback) const {
  UntarContext context;
  context.targetFolder = target;
  context.archive = platform::OpenFile(archivePath, "rb");
  if (context.archive == nullptr) return false;
  MyProgressCallback progress(verbosity_);
  return Untar(context, callback, &progress);
}

/// Everything that can be judged before a download: SOURCE_DATE_EPOCH (the
/// mastering program would refuse a malformed value only at the very end),
/// the output path, and a fresh working folder of this run's own.
bool Build::Prepare() {
  std::string dateText;
  if (!ReadSourceDate(sourceDate_, dateText)) {
    return ReportFailure("Invalid SOURCE_DATE_EPOCH \"%s\": not a decimal number of seconds since 1970 up to %lld\n",
                dateText.c_str(), static_cast<long long>(kLatestSourceDate));
  }
  if (!ExpandOutputPath(outputPath_, fullOutputPath_)) {
    return ReportFailure("Failed to expand the output path: %s\n", LastErrorText().c_str());
  }
  std::string tempFolder;
  if (!GetTempFolder(tempFolder)) return ReportFailure("Failed to get temp folder: %s\n", LastErrorText().c_str());
  std::uint32_t folderError = 0;
  if (!PrepareWorkingFolder(tempFolder, lock_, workingFolder_, folderError)) {
    return ReportFailure("Failed to create temp folder %s: %s\n", (tempFolder + kWorkingFolderName).c_str(),
                ErrorCodeText(folderError).c_str());
  }
  cleanup_.RemoveOnFailure(workingFolder_);
  return PrepareOutput();
}

/// The image lands where the file system resolves the output path, through
/// links as for any program that writes a file (and refused where the system
/// refuses them to `cp`); messages keep the path as typed. It may not land in
/// the working folder, which goes at the end of the run with all that is in
/// it. A file that was there before gets the new file that replaces it now,
/// so that a folder that takes no new file is known before any download.
bool Build::PrepareOutput() {
  if (!output_.Open(outputPath_)) return OutputFails(FileErrorText());
  // A failed run leaves no empty or half image where there was no file before.
  cleanup_.DiscardOnFailure(output_);
  if (IsInsideWorkingFolder(output_.RealPath(), workingFolder_)) {
    return OutputFails(ErrorCodeText(kErrorInsideWorkingFolder));
  }
  // Only a folder that refuses new files to this user has the image made in
  // place; no room, no inode or a name the folder cannot hold end the run.
  if (!output_.Created() && !output_.CreateBeside(kStagedImageTag) && errno != EACCES && errno != EPERM) {
    return OutputFails(FileErrorText());
  }
  return true;
}

/// The distribution, proved unless the user named where it comes from, and
/// unpacked into the image's tree.
bool Build::FetchDistribution() {
  const std::string archive = InWorkingFolder(kDistributionFileName);
  const std::string url = distributionUrl_ ? *distributionUrl_ : DefaultDistributionUrl(settings_);
  if (!BeginStep("Downloading Linux distribution from %s...\n", distributionUrl_ ? distributionUrl_->c_str() : "Corvex") ||
      !DownloadRequired(url, archive, distributionUrl_ ? settings_.download : builtIn_, kDistributionSizeLimit)) {
    return false;
  }
  if (!distributionUrl_) {
    if (!DownloadVerified(DistributionManifestUrl(settings_), url, kDistributionFileName, kDistributionSizeLimit)) {
      return false;
    }
    Step("Integrity of the Linux distribution successfully verified.\n");
  }
  if (!BeginStep("Unpacking Linux distribution...\n")) return false;
  std::string tree;
  if (!CreateImageTree(workingFolder_, tree)) {
    return ReportFailure("Failed to create the image folder %s: %s\n", TreeFolder().c_str(), LastErrorText().c_str());
  }
  if (!UntarFile(archive, tree, nullptr)) {
    return ReportFailure("Failed to unpack the Linux distribution to %s: %s\n", tree.c_str(), FileErrorText().c_str());
  }
  platform::DeleteFile(archive);
  return true;
}

/// The anti-virus package, always proved, decoded into the distribution's
/// root copy folder, where it stays a tar archive.
bool Build::FetchPackage() {
  const std::string archive = InWorkingFolder(kPackageFileName);
  if (!BeginStep("Downloading Corvex Anti-Virus for Linux...\n") ||
      !DownloadRequired(PackageUrl(settings_), archive, builtIn_, kPackageSizeLimit) ||
      !DownloadVerified(PackageManifestUrl(settings_), PackageUrl(settings_), kPackageFileName, kPackageSizeLimit)) {
    return false;
  }
  Step("Integrity of Corvex Anti-Virus for Linux successfully verified.\n");
  if (!BeginStep("Unpacking Corvex Anti-Virus for Linux...\n")) return false;
  bool decompressed = false;
  {
    MyProgressCallback progress(verbosity_);
    decompressed = DecompressFile(PackageTar(), &progress, archive);
  }
  if (!decompressed) return ReportFailure("Decompression failed: %s\n", FileErrorText().c_str());
  platform::DeleteFile(archive);
  return true;
}

bool Build::FindDataVersion() {
  if (!BeginStep("Determining virus data version...\n")) return false;
  MyUntarCallback scan;
  if (!UntarFile(PackageTar(), std::nullopt, &scan)) {
    return ReportFailure("Reading archive %s failed: %s\n", PackageTar().c_str(), FileErrorText().c_str());
  }
  if (!scan.found) return ReportFailure("Could not determine the virus data version\n");
  version_ = {scan.major, scan.minor};
  return true;
}

/// The newest identities, when the server has some for this data version.
bool Build::FetchIdentities() {
  const std::string name = IdentitiesFileName(version_.major, version_.minor);
  if (!BeginStep("Downloading latest identities for virus data %d.%d...\n", version_.major, version_.minor)) return false;
  std::uint32_t error = 0;
  {
    MyProgressCallback progress(verbosity_);
    if (DownloadIdentities(&progress, BuildIdentitiesUrl(settings_, name), RootCopy() + name, builtIn_)) {
      return true;
    }
    error = platform::GetLastError();
  }
  if (error != ERROR_INTERNET_ITEM_NOT_FOUND) return ReportFailure("\nDownload failed: %s\n", ErrorCodeText(error).c_str());
  Step("No newer identities found\n");
  return true;
}

/// A file that was there before is replaced only by a finished image: the
/// image is made beside it and takes its place once the program succeeded.
/// Where the folder takes no new file, the image is made in place. The
/// mastering reports its own failures.
bool Build::Master() {
  if (!BeginStep("Creating the ISO image: %s...\n", outputPath_.c_str())) return false;
  const std::string tree = TreeFolder();
  // Whoever mounts the image may read it, whatever the umask it was made under.
  if (!platform::MakeTreeReadable(tree)) {
    return ReportFailure("Failed to set the file modes in %s: %s\n", tree.c_str(), LastErrorText().c_str());
  }
  // The same mirror then gives the same image bytes.
  if (sourceDate_ && !SetTreeTimesToSourceDate(tree, *sourceDate_)) {
    return ReportFailure("Failed to set the file times in %s: %s\n", tree.c_str(), LastErrorText().c_str());
  }
  if (!output_.TruncateResult()) return OutputFails(FileErrorText());
  // Looked for once: the mastering and the completion serve the same material.
  const BootMaterial material = FindBootMaterial(tree);
  if (!MasterIsoImage(tree, material, output_, version_, verbosity_)) return false;
  // The completion reads and writes the image through the tool's own handle,
  // never by a name that another user could point elsewhere meanwhile.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> image(output_.OpenResultStream(), std::fclose);
  if (!image) return OutputFails(FileErrorText());
  if (!CompleteIsoImage(tree, material, image.get(), verbosity_)) return false;
  if (std::fclose(image.release()) != 0 || !output_.Commit()) return OutputFails(FileErrorText());
  return true;
}

bool Build::Finish() {
  Step("Removing temporary files...\n");
  RemoveFolderTree(workingFolder_);
  cleanup_.Finished();
  Step("ISO image successfully created\n");
  return true;
}

}  // namespace

bool RunBuild(const std::string& outputPath, const std::optional<std::string>& distributionUrl,
              Verbosity verbosity, const BuildSettings& settings) {
  Build build(outputPath, distributionUrl, verbosity, settings);
  return build.Prepare() && build.FetchDistribution() && build.FetchPackage() && build.FindDataVersion() &&
         build.FetchIdentities() && build.Master() && build.Finish();
}
