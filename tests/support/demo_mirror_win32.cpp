#include "tests/support/demo_mirror.h"

namespace testing_support {

// demo/build-mirror is a shell script: under wine it signs with the Windows
// rscdc-publish.exe through a small script the build writes, and the
// distribution carries the stand-in mkisofs.exe, as a real one carries its own.
std::vector<std::string> MirrorToolArgs() {
  const std::string signer = std::string(RSCDC_TEST_BINARY_DIR) + "/tests/rscdc-publish-under-wine.sh";
  return {"--publish", signer, "--windows-mkisofs", BuiltProgram("tests/tools/mkisofs_stand_in")};
}

}  // namespace testing_support
