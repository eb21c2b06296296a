#include "tests/support/demo_mirror.h"

#include <stdexcept>

namespace testing_support {

std::string DemoMirrorBootWays() { return "BIOS CD"; }

// demo/build-mirror is a shell script: under wine it signs with the Windows
// rscdc-publish.exe through a small script that hands it to wine (the prefix
// comes with the environment), and the distribution carries the stand-in
// mkisofs.exe, as a real one carries its own.
std::vector<std::string> MirrorToolArgs() {
  const std::string signer = std::string(RSCDC_TEST_BINARY_DIR) + "/tests/rscdc-publish-under-wine.sh";
  WriteWholeFile(signer, "#!/bin/sh\nexec /usr/lib/wine/wine64 '" + BuiltProgram("publish/rscdc-publish") + "' \"$@\"\n");
  if (RunChild("/bin/chmod", {"+x", signer}).exitStatus != 0) throw std::runtime_error("cannot make " + signer + " runnable");
  return {"--publish", signer, "--windows-mkisofs", BuiltProgram("tests/tools/mkisofs_stand_in")};
}

}  // namespace testing_support
