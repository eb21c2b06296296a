// Fuzz target: loading a signed manifest, from the signed-file layout through
// the signature and certificate chain checks to the manifest body parser.
// Whatever the bytes, `VersionTool::load` either succeeds with well-formed
// entries or raises the one exception that goes with its state.
//
// A fuzzer cannot forge a signature, and the test keys are made afresh by each
// process, so the input is a template: "@SIG:d@" stands for the base64 lines
// (60 characters each) of a signature over the signed body (the bytes before
// the first "\n-----BEGIN SIGNATURE-----\n", with its line feed) made with the
// key of identity d, and "@CERT:d@" for the base64 lines of identity d's
// certificate. Mutations of the body then still reach the manifest parser,
// and mutations of the blocks the layout and chain checks.

#include <exception>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "fuzz/fuzz_support.h"
#include "tests/support/test_pki.h"
#include "verify/verify_exceptions.h"
#include "verify/version_tool.h"

namespace {

using testing_support::TestIdentity;

constexpr TestIdentity kIdentities[] = {
    TestIdentity::SignerByIntermediate,  // 0: signs the usual manifest
    TestIdentity::Intermediate,          // 1: its chain block
    TestIdentity::SignerByRoot,          // 2
    TestIdentity::Root,                  // 3
    TestIdentity::RevokedSignerByIntermediate,  // 4
    TestIdentity::DsaSigner,             // 5
    TestIdentity::ExpiredSigner,         // 6
    TestIdentity::SignerByOtherRoot,     // 7
};
constexpr std::size_t kIdentityCount = sizeof kIdentities / sizeof kIdentities[0];
const std::string kDelimiter = "\n-----BEGIN SIGNATURE-----\n";

/// The identity of a token "@<kind>:d@" at `at`, or -1.
int TokenIdentity(const std::string& text, std::size_t at, const std::string& kind) {
  if (text[at] != '@') return -1;
  const std::string prefix = "@" + kind + ":";
  if (text.size() - at < prefix.size() + 2 || text.compare(at, prefix.size(), prefix) != 0) return -1;
  const char digit = text[at + prefix.size()];
  if (text[at + prefix.size() + 1] != '@' || digit < '0' || digit >= '0' + static_cast<int>(kIdentityCount)) {
    return -1;
  }
  return digit - '0';
}

std::string Expand(const std::string& input) {
  std::string text;
  for (std::size_t at = 0; at < input.size();) {
    const int who = TokenIdentity(input, at, "CERT");
    if (who < 0) {
      text.push_back(input[at++]);
      continue;
    }
    text += testing_support::PemBase64Lines(testing_support::Credential(kIdentities[who]).certificatePem);
    at += 8;
  }
  const std::size_t delimiter = text.find(kDelimiter);
  const std::size_t bodyEnd = delimiter == std::string::npos ? 0 : delimiter + 1;
  const std::string body = text.substr(0, bodyEnd);
  std::string expanded = body;
  for (std::size_t at = bodyEnd; at < text.size();) {
    const int who = TokenIdentity(text, at, "SIG");
    if (who < 0) {
      expanded.push_back(text[at++]);
      continue;
    }
    // Lines shorter than the usual 64 characters: a DSA signature would
    // otherwise fit one padded line, which the layout refuses before any key
    // is looked at.
    expanded += testing_support::Base64Lines(
        testing_support::SignSha1(body, testing_support::Credential(kIdentities[who]).privateKeyPem), 60);
    at += 7;
  }
  return expanded;
}

struct TrustFiles {
  TrustFiles() {
    const std::string& scratch = fuzzing::ProcessScratchFolder();
    root = scratch + "/root.crt";
    crl = scratch + "/root.crl";
    manifest = scratch + "/manifest";
    testing_support::WriteRootCertificate(root);
    testing_support::WriteCrlFile(crl);
  }
  std::string root;
  std::string crl;
  std::string manifest;
};

bool IsNameChar(unsigned char c) {
  return c >= 0x20 && c <= 0x7E && c != '"' && c != '*' && c != ':' && c != '<' && c != '>' && c != '?' && c != '|';
}

void CheckNotValid(const VersionTool& tool) {
  try {
    tool.version();
  } catch (const std::logic_error& e) {
    FUZZ_CHECK(std::string(e.what()) == "VersionTool::version, method called when version file is not valid",
               e.what());
    return;
  }
  fuzzing::Fail(__FILE__, __LINE__, "version() answered after a failed load");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzzing::kMaxInputSize) return 0;
  static const TrustFiles trust;
  const std::string file = Expand(std::string(reinterpret_cast<const char*>(data), size));
  fuzzing::WriteFile(trust.manifest, file.data(), file.size());

  VersionTool tool;
  try {
    tool.load(trust.manifest, trust.root, trust.crl);
  } catch (const verify_exceptions::ve_base& e) {
    std::ostringstream printed;
    e.print(printed);
    FUZZ_CHECK(!printed.str().empty(), "an exception that prints nothing");
    const auto status = static_cast<verify_status>(e.code);
    const bool isFile = dynamic_cast<const verify_exceptions::ve_file*>(&e) != nullptr;
    switch (status) {
      case verify_status::bad_layout:
        FUZZ_CHECK(isFile && tool.state() == status, printed.str());
        break;
      case verify_status::bad_content:
        FUZZ_CHECK(isFile && tool.state() == status, printed.str());
        break;
      case verify_status::crypto_error:
        FUZZ_CHECK(dynamic_cast<const verify_exceptions::ve_crypt*>(&e) != nullptr, printed.str());
        FUZZ_CHECK(tool.state() == verify_status::not_loaded, printed.str());
        break;
      case verify_status::bad_signature:
        FUZZ_CHECK(dynamic_cast<const verify_exceptions::ve_badsig*>(&e) != nullptr, printed.str());
        FUZZ_CHECK(tool.state() == verify_status::not_loaded, printed.str());
        break;
      case verify_status::bad_certificate:
        FUZZ_CHECK(dynamic_cast<const verify_exceptions::ve_badcert*>(&e) != nullptr, printed.str());
        FUZZ_CHECK(tool.state() == verify_status::not_loaded, printed.str());
        break;
      default:
        // The trust files and the manifest are all readable.
        fuzzing::Fail(__FILE__, __LINE__, "unexpected code " + std::to_string(e.code) + ": " + printed.str());
    }
    CheckNotValid(tool);
    return 0;
  }

  FUZZ_CHECK(tool.state() == verify_status::valid, "load returned without being valid");
  for (const file_entry& entry : tool.version()) {
    for (const unsigned char c : entry.name) FUZZ_CHECK(IsNameChar(c), "a name byte outside the name characters");
    for (const char c : entry.checksum) {
      FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'), "a checksum byte that is not lower-case hex");
    }
  }
  return 0;
}
