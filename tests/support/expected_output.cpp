#include "tests/support/expected_output.h"

// RSCDC_TEST_FILE_DESCRIPTION, RSCDC_TEST_VERSION, RSCDC_TEST_BUILD_NUMBER and
// RSCDC_TEST_COPYRIGHT come from tests/CMakeLists.txt.

namespace testing_support {

std::string ExpectedBanner() {
  return std::string(RSCDC_TEST_FILE_DESCRIPTION) + " v" + RSCDC_TEST_VERSION + "\n" + RSCDC_TEST_COPYRIGHT + "\n\n";
}

std::string ExpectedFileVersion() { return std::string(RSCDC_TEST_VERSION) + " Build " + RSCDC_TEST_BUILD_NUMBER; }

std::string StepLines(const std::string& outputAsTyped, const StepExtras& extras) {
  return "Downloading Linux distribution from Corvex...\n"
         "Downloading the manifest file...\n" +
         extras.distributionRetry +
         "Integrity of the Linux distribution successfully verified.\n"
         "Unpacking Linux distribution...\n"
         "Downloading Corvex Anti-Virus for Linux...\n"
         "Downloading the manifest file...\n" +
         extras.packageRetry +
         "Integrity of Corvex Anti-Virus for Linux successfully verified.\n"
         "Unpacking Corvex Anti-Virus for Linux...\n"
         "Determining virus data version...\n"
         "Downloading latest identities for virus data 4.42...\n" +
         extras.identitiesStep + "Creating the ISO image: " + outputAsTyped + "...\n" + extras.bootWays +
         "Removing temporary files...\n"
         "ISO image successfully created\n";
}

}  // namespace testing_support
