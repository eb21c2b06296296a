#include "tests/support/demo_mirror.h"

namespace testing_support {

std::vector<std::string> MirrorToolArgs(const MirrorVariation&) {
  return {"--publish", BuiltProgram("publish/rscdc-publish")};
}

std::vector<MasteringChoice> MasteringChoices() {
  return {{"xorrisofs", {}, false}, {"genisoimage", {}, true}};
}

}  // namespace testing_support
