#include "tests/support/test_trust.h"

#include <stdexcept>

#include "tests/support/child_process.h"

// WinINet checks certificates against the system's Root store, which under
// wine lives in the registry of the prefix the tests run in: the build's own
// (see scripts/test --windows), never the machine's trust store. The test CA
// is added to the local machine's Root store by another program
// (tests/tools/trusted_root_store_win32.cpp), and deleted again: this process
// reads the store once, the first time it checks a certificate, and would not
// see a certificate it added itself after that.

namespace testing_support {
namespace {

void RunStoreTool(const std::string& action, const std::string& pemPath) {
  const ChildResult r = RunChild(BuiltProgram("tests/tools/trusted_root_store"), {action, pemPath});
  if (r.exitStatus != 0) throw std::runtime_error("trusted_root_store " + action + " failed: " + r.err);
}

}  // namespace

struct TrustedTestCa::Held {
  ScratchFolder folder{"trusted-ca"};
  std::string pem;
};

TrustedTestCa::TrustedTestCa(const std::string& certificatePem) : held_(std::make_unique<Held>()) {
  held_->pem = held_->folder / "ca.pem";
  WriteWholeFile(held_->pem, certificatePem);
  RunStoreTool("add", held_->pem);
}

TrustedTestCa::~TrustedTestCa() {
  try {
    RunStoreTool("remove", held_->pem);
  } catch (const std::exception&) {
    // A destructor cannot fail; the next add replaces what is left.
  }
}

}  // namespace testing_support
