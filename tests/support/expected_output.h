#pragma once

#include <string>

/// What the program prints and leaves behind, as several tests expect it: each
/// fact written once here. The banner and version texts are made from the
/// values the build gives the version resource (CMakeLists.txt), not read back
/// through the program's own code.
namespace testing_support {

/// The two banner lines and the blank line after them.
std::string ExpectedBanner();

/// The version table's FileVersion: "<major>.<minor>.<patch> Build <n>".
std::string ExpectedFileVersion();

/// The working folder a build makes in the temporary folder, and the lock file
/// that stays beside it after every run.
inline const std::string kWorkingFolder = "CorvexBootableAvTempFolder";
inline const std::string kLockFile = kWorkingFolder + ".lock";

/// Standard error of a proof whose file does not match its manifest line.
inline const std::string kChecksumWrong = "Error: File checksum is incorrect.\n";

/// Lines that some runs print among the steps, each where it belongs.
struct StepExtras {
  std::string distributionRetry{};  ///< after the distribution's manifest line
  std::string packageRetry{};       ///< after the package's manifest line
  std::string identitiesStep{};     ///< after the identities download line
  std::string bootWays{};           ///< after the image line (verbose runs)
};

/// Standard output of a successful build at the normal level against the demo
/// mirror (virus data 4.42), without the banner: the thirteen steps in order.
std::string StepLines(const std::string& outputAsTyped, const StepExtras& extras = {});

}  // namespace testing_support
