#pragma once

#include <memory>
#include <string>

/// Makes a test's certificate authority trusted by the download backend's
/// platform trust store for as long as the object lives, without changing the
/// machine's: on Linux libcurl's CA bundle is replaced, in this thread's own
/// mount namespace (so also for the children it starts), by a copy that holds
/// the test CA too; under wine the CA is added to the ROOT store of the
/// build's own wine prefix and removed again. Throws when that cannot be done.
namespace testing_support {

class TrustedTestCa {
 public:
  explicit TrustedTestCa(const std::string& certificatePem);
  ~TrustedTestCa();
  TrustedTestCa(const TrustedTestCa&) = delete;
  TrustedTestCa& operator=(const TrustedTestCa&) = delete;

 private:
  struct Held;
  std::unique_ptr<Held> held_;
};

}  // namespace testing_support
