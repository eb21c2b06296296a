#include "tests/support/demo_mirror.h"

namespace testing_support {

// demo/build-mirror is a shell script: under wine it signs with the Windows
// rscdc-publish.exe through a small script the build writes, and the
// distribution carries a stand-in mkisofs.exe, as a real one carries its own.
std::vector<std::string> MirrorToolArgs(const MirrorVariation& variation) {
  const std::string signer = std::string(RSCDC_TEST_BINARY_DIR) + "/tests/rscdc-publish-under-wine.sh";
  const std::string mkisofs = variation.windowsMkisofs.empty() ? "mkisofs_stand_in" : variation.windowsMkisofs;
  return {"--publish", signer, "--windows-mkisofs", BuiltProgram("tests/tools/" + mkisofs)};
}

std::vector<MasteringChoice> MasteringChoices() {
  return {{"mkisofs.exe relaying to xorrisofs", {}, false},
          {"mkisofs.exe like genisoimage", {.windowsMkisofs = "mkisofs_stand_in_genisoimage"}, false},
          {"mkisofs.exe taking only the fixed command", {.windowsMkisofs = "mkisofs_stand_in_old"}, false}};
}

}  // namespace testing_support
