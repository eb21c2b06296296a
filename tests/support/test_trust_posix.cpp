#include "tests/support/test_trust.h"

#include <curl/curl.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/child_process.h"

// The tests run as root. A mount namespace of this thread's own, with every
// mount private to it, takes a bind mount of the extended bundle over
// libcurl's CA file; the machine's file is never written, and nothing outside
// sees the mount.

namespace testing_support {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("trusting the test CA: " + what + ": " + std::strerror(errno));
}

/// libcurl's default CA bundle.
std::string CaBundlePath() {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) throw std::runtime_error("trusting the test CA: curl_easy_init failed");
  char* path = nullptr;
  const CURLcode result = curl_easy_getinfo(easy, CURLINFO_CAINFO, &path);
  std::string bundle = result == CURLE_OK && path != nullptr ? path : "";
  curl_easy_cleanup(easy);
  if (bundle.empty()) throw std::runtime_error("trusting the test CA: libcurl names no CA bundle");
  return bundle;
}

void EnterPrivateMountNamespace() {
  static thread_local bool entered = false;
  if (entered) return;
  if (unshare(CLONE_NEWNS) != 0) Fail("unshare(CLONE_NEWNS)");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("making / private");
  entered = true;
}

}  // namespace

struct TrustedTestCa::Held {
  ScratchFolder folder{"trusted-ca"};
  std::string bundle;
};

TrustedTestCa::TrustedTestCa(const std::string& certificatePem) : held_(std::make_unique<Held>()) {
  held_->bundle = CaBundlePath();
  EnterPrivateMountNamespace();
  const std::string extended = held_->folder / "ca-certificates.crt";
  WriteWholeFile(extended, ReadWholeFile(held_->bundle) + "\n" + certificatePem);
  if (mount(extended.c_str(), held_->bundle.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    Fail("bind-mounting over " + held_->bundle);
  }
}

TrustedTestCa::~TrustedTestCa() { umount2(held_->bundle.c_str(), MNT_DETACH); }

}  // namespace testing_support
