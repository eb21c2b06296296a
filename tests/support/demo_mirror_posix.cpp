#include "tests/support/demo_mirror.h"

namespace testing_support {

std::vector<std::string> MirrorToolArgs() { return {"--publish", BuiltProgram("publish/rscdc-publish")}; }

}  // namespace testing_support
