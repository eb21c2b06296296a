#include "tests/support/demo_mirror.h"

namespace testing_support {

std::string DemoMirrorBootWays() { return "BIOS CD, BIOS USB, UEFI CD, UEFI USB"; }

std::vector<std::string> MirrorToolArgs() { return {"--publish", BuiltProgram("publish/rscdc-publish")}; }

}  // namespace testing_support
