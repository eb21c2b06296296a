#include "verify/signed_file.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <sstream>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_pki.h"
#include "verify/test_helpers.h"
#include "verify/version_tool.h"

namespace {

using testing_support::Base64Lines;
using testing_support::Credential;
using testing_support::PemBase64Lines;
using testing_support::ScratchFolder;
using testing_support::SignedFileLayout;
using testing_support::SignSha1;
using testing_support::TestIdentity;
using verify_testing::BadCertificate;
using verify_testing::BadSignature;
using verify_testing::FirstLine;
using verify_testing::None;
using verify_testing::OutcomeOf;

const std::string kBody = "\"a\" 1 ab\n";
const std::string kSig = "QUJD\nREVG\n";
const std::string kCert = "R0hJ\nSktM\n";
const std::string kChain = "TU5P\nUFFS\n";

/// The stream failed and nothing was stored: the caller reports the layout.
verify_testing::Outcome Layout() { return {"layout", 0, ""}; }

/// How read_signed_file ends for a file: None() when it stored the pieces,
/// Layout(), or the exception it raised.
verify_testing::Outcome SplitOutcome(const std::string& file, verify::SignedPieces* stored = nullptr) {
  std::istringstream in(file);
  verify::SignedPieces pieces{"body?", "sig?", "cert?", {"chain?"}};
  const verify_testing::Outcome outcome = OutcomeOf([&] { verify::read_signed_file(in, pieces); });
  if (outcome != verify_testing::None() || in.fail()) {
    EXPECT_EQ(pieces.signed_body, "body?") << "a failed split stores nothing";
    EXPECT_EQ(pieces.chain_certificates, std::vector<std::string>{"chain?"});
    return outcome != verify_testing::None() ? outcome : Layout();
  }
  if (stored) *stored = pieces;
  return outcome;
}

struct LayoutCase {
  const char* why;
  std::string file;
  verify_testing::Outcome outcome;
};

TEST(ReadSignedFileTest, BrokenLayoutsEndByWhereTheyBreak) {
  const std::string L64(64, 'A');
  const std::string sigEnd = "-----END SIGNATURE-----\n";
  const std::string certBegin = "-----BEGIN CERTIFICATE-----\n";
  const std::string certEnd = "-----END CERTIFICATE-----\n";
  const std::string good = SignedFileLayout(kBody, kSig, kCert);
  auto replaced = [&](std::string from, const std::string& to) {
    std::string file = good;
    file.replace(file.find(from), from.size(), to);
    return file;
  };
  const LayoutCase cases[] = {
      {"the plain layout", good, None()},
      {"chain blocks", SignedFileLayout(kBody, kSig, kCert, {kChain, kCert}), None()},
      {"padding at the end of the last signature line",
       SignedFileLayout(kBody, L64 + "\n" + L64 + "\nQUJDRA==\n", kCert), None()},
      {"padding on a line of its own after two lines", SignedFileLayout(kBody, L64 + "\nQUJDRA\n==\n", kCert), None()},
      {"79-character lines", SignedFileLayout(kBody, std::string(79, 'A') + "\nQQ\n", std::string(79, 'B') + "\nQQ\n"),
       None()},
      {"a signature marker inside a body line is body",
       SignedFileLayout("x-----BEGIN SIGNATURE-----\n" + kBody, kSig, kCert), None()},

      {"no signature marker", kBody + kSig + sigEnd + certBegin + kCert + certEnd, BadSignature()},
      {"carriage returns before the line feeds",
       [&] {
         std::string crlf;
         for (char c : good) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return crlf;
       }(),
       BadSignature()},
      {"an empty body", SignedFileLayout("\n", kSig, kCert), BadSignature()},
      {"nothing before the marker", SignedFileLayout("", kSig, kCert), BadSignature()},
      {"an empty line in the body", SignedFileLayout("\"a\" 1 ab\n\n\"b\" 2 cd\n", kSig, kCert), BadSignature()},
      {"an empty signature block", SignedFileLayout(kBody, "", kCert), BadSignature()},
      {"an empty file", "", BadSignature()},

      {"a signature whose only line carries the padding", SignedFileLayout(kBody, "QUI=\n", kCert), BadCertificate()},
      {"three '=' in the signature", SignedFileLayout(kBody, "QUJD\nQ===\n", kCert), BadCertificate()},
      {"an 80-character signature line", SignedFileLayout(kBody, std::string(80, 'A') + "\nQQ\n", kCert),
       BadCertificate()},
      {"a foreign byte in a later signature line", SignedFileLayout(kBody, "QUJD\nRE.G\n", kCert), BadCertificate()},
      {"a broken end-signature marker", replaced(sigEnd, "-----END SIGNATURE----\n"), BadCertificate()},
      {"a broken begin-certificate marker", replaced(certBegin, "-----BEGIN CERTIFICATE-----\r\n"), BadCertificate()},
      {"an empty certificate block", SignedFileLayout(kBody, kSig, ""), BadCertificate()},
      {"the file ends after the signature",
       kBody.substr(0, kBody.size() - 1) + "\n-----BEGIN SIGNATURE-----\n" + kSig + sigEnd, BadCertificate()},

      {"three '=' in the certificate", SignedFileLayout(kBody, kSig, "QUJD\nQ===\n"), Layout()},
      {"an 80-character certificate line", SignedFileLayout(kBody, kSig, std::string(80, 'A') + "\nQQ\n"), Layout()},
      {"a certificate whose only line is padded", SignedFileLayout(kBody, kSig, "QUI=\n"), Layout()},
      {"a broken end-certificate marker", replaced(certEnd, "-----END CERTIFICATE-----x\n"), Layout()},
      {"one extra line feed at the end", good + "\n", Layout()},
      {"any trailing byte", good + "x", Layout()},
      {"the end-certificate line without its line feed", good.substr(0, good.size() - 1), Layout()},
      {"a broken chain block", SignedFileLayout(kBody, kSig, kCert, {"TU5P\nUF*S\n"}), Layout()},
      {"an empty chain block", SignedFileLayout(kBody, kSig, kCert, {""}), Layout()},
      {"a chain block cut short", SignedFileLayout(kBody, kSig, kCert) + certBegin + kChain, Layout()},
  };
  // The same files through a whole load: the exceptions pass unchanged, a broken
  // layout names the manifest with code 4, and only that sets the state.
  ScratchFolder dir("layout");
  testing_support::WriteRootCertificate(dir / "ps_rootca.crt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(SplitOutcome(c.file), c.outcome);
    if (c.outcome == None()) continue;
    testing_support::WriteWholeFile(dir / "manifest.dat", c.file);
    VersionTool tool;
    const verify_testing::Outcome loaded =
        OutcomeOf([&] { tool.load(dir / "manifest.dat", dir / "ps_rootca.crt", ""); });
    if (c.outcome == Layout()) {
      EXPECT_EQ(loaded, verify_testing::BadFile(4, dir / "manifest.dat"));
      EXPECT_EQ(tool.state(), verify_status::bad_layout);
    } else {
      EXPECT_EQ(loaded, c.outcome);
      EXPECT_EQ(tool.state(), verify_status::not_loaded);
    }
  }
}

TEST(ReadSignedFileTest, StoresThePiecesAsRead) {
  const std::string signature = std::string(64, 'A') + "\nQUJD\n==\n";
  verify::SignedPieces pieces;
  ASSERT_EQ(SplitOutcome(SignedFileLayout("line one\nline two\n", signature, kCert, {kChain, "QUJD\nQQ==\n"}), &pieces),
            None());
  EXPECT_EQ(pieces.signed_body, "line one\nline two\n");
  EXPECT_EQ(pieces.signature_text, signature);
  EXPECT_EQ(pieces.signer_certificate, "-----BEGIN CERTIFICATE-----\n" + kCert + "-----END CERTIFICATE-----\n");
  ASSERT_EQ(pieces.chain_certificates.size(), 2u);
  EXPECT_EQ(pieces.chain_certificates[0], "-----BEGIN CERTIFICATE-----\n" + kChain + "-----END CERTIFICATE-----\n");
  EXPECT_EQ(pieces.chain_certificates[1], "-----BEGIN CERTIFICATE-----\nQUJD\nQQ==\n-----END CERTIFICATE-----\n");
}

TEST(DecodeCertificateTest, ReadsOnePemCertificateOrNothing) {
  const std::string pem = Credential(TestIdentity::SignerByRoot).certificatePem;
  EXPECT_NE(verify::decode_certificate(pem), nullptr);
  // Lines of up to 79 characters are what the layout allows.
  std::string joined;
  for (char c : PemBase64Lines(pem)) {
    if (c != '\n') joined.push_back(c);
  }
  std::string long79;
  for (std::size_t at = 0; at < joined.size(); at += 79) long79 += joined.substr(at, 79) + "\n";
  EXPECT_NE(verify::decode_certificate("-----BEGIN CERTIFICATE-----\n" + long79 + "-----END CERTIFICATE-----\n"),
            nullptr);

  EXPECT_EQ(verify::decode_certificate(""), nullptr);
  EXPECT_EQ(verify::decode_certificate("-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n"), nullptr);
  EXPECT_EQ(verify::decode_certificate(pem.substr(0, pem.size() / 2)), nullptr);
  ERR_clear_error();
}

TEST(SignerPublicKeyTest, RaisesCryptWithTheStepThatFailed) {
  ERR_clear_error();
  verify::SignedPieces pieces;
  pieces.signer_certificate = Credential(TestIdentity::SignerByRoot).certificatePem;
  EXPECT_NE(verify::signer_public_key(pieces), nullptr);

  pieces.signer_certificate = "-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n";
  const auto broken = OutcomeOf([&] { verify::signer_public_key(pieces); });
  EXPECT_EQ(broken.kind, "ve_crypt");
  EXPECT_EQ(broken.code, 5);
  EXPECT_EQ(FirstLine(broken.printed), "[VE_CRYPT] Decoding certificate\n");
  EXPECT_NE(broken.printed.find("\n[Crypt Error]: error:"), std::string::npos) << "OpenSSL's reason follows";

  // A certificate whose key algorithm is unknown parses, but yields no key.
  const std::string rsaEncryption("\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01", 11);
  std::string der;
  {
    const std::string pem = Credential(TestIdentity::SignerByRoot).certificatePem;
    der = verify::base64_decode(PemBase64Lines(pem));
  }
  const std::size_t at = der.find(rsaEncryption);
  ASSERT_NE(at, std::string::npos);
  der[at + rsaEncryption.size() - 1] = '\x63';
  pieces.signer_certificate = "-----BEGIN CERTIFICATE-----\n" + Base64Lines(der) + "-----END CERTIFICATE-----\n";
  const auto keyless = OutcomeOf([&] { verify::signer_public_key(pieces); });
  EXPECT_EQ(keyless.kind, "ve_crypt");
  EXPECT_EQ(FirstLine(keyless.printed), "[VE_CRYPT] Getting public key from certificate\n");
}

TEST(Base64DecodeTest, RoundTripsWhateverTheLineLayout) {
  std::string bytes;
  for (int i = 0; i < 1100; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
  // Lengths around the 512-byte reads from the filter.
  for (std::size_t size : {0, 1, 2, 3, 511, 512, 513, 1024, 1100}) {
    for (std::size_t width : {4, 64, 76, 79}) {
      SCOPED_TRACE(std::to_string(size) + " bytes in lines of " + std::to_string(width));
      EXPECT_EQ(verify::base64_decode(Base64Lines(bytes.substr(0, size), width)), bytes.substr(0, size));
    }
  }
  // Padding on a line of its own.
  std::string lines = Base64Lines(bytes.substr(0, 100));
  lines.insert(lines.find('='), "\n");
  EXPECT_EQ(verify::base64_decode(lines), bytes.substr(0, 100));
}

TEST(Base64DecodeTest, MalformedTextYieldsOtherBytesWithoutError) {
  const std::string good = Base64Lines(std::string(300, 'x'));
  std::string broken = good;
  broken[10] = '*';
  EXPECT_NE(verify::base64_decode(broken), std::string(300, 'x'));
  EXPECT_NE(verify::base64_decode("QUJD"), "ABC") << "the filter expects line breaks";
  ERR_clear_error();
}

class VerifySignatureTest : public ::testing::Test {
 protected:
  void SetUp() override { ERR_clear_error(); }
  void TearDown() override { ERR_clear_error(); }

  static verify::PKeyPtr KeyOf(TestIdentity who) {
    verify::SignedPieces pieces;
    pieces.signer_certificate = Credential(who).certificatePem;
    return verify::signer_public_key(pieces);
  }
  static verify_testing::Outcome Check(const std::string& body, const std::string& signature, TestIdentity who) {
    verify::PKeyPtr key = KeyOf(who);
    std::istringstream in(body);
    return OutcomeOf([&] { verify::verify_signature(in, signature, key.get()); });
  }
};

TEST_F(VerifySignatureTest, AcceptsOnlyTheRsaSha1SignatureOfTheWholeBody) {
  const std::string& key = Credential(TestIdentity::SignerByRoot).privateKeyPem;
  for (std::size_t size : {1, 4095, 4096, 8192, 10000}) {
    SCOPED_TRACE(size);
    std::string body(size, 'b');
    body.back() = '\n';
    const std::string signature = SignSha1(body, key);
    EXPECT_EQ(Check(body, signature, TestIdentity::SignerByRoot), verify_testing::None());
    std::string changed = body;
    changed[size / 2] ^= 1;
    EXPECT_EQ(Check(changed, signature, TestIdentity::SignerByRoot), verify_testing::BadSignature());
  }
}

TEST_F(VerifySignatureTest, WrongSignaturesAreBadSignatures) {
  const std::string body = "\"a\" 1 ab\n";
  const std::string signature = SignSha1(body, Credential(TestIdentity::SignerByRoot).privateKeyPem);
  EXPECT_EQ(Check(body, signature, TestIdentity::SignerByIntermediate), verify_testing::BadSignature())
      << "another signer's key";
  EXPECT_EQ(Check(body, signature.substr(1), TestIdentity::SignerByRoot), verify_testing::BadSignature())
      << "one byte short";
  EXPECT_EQ(Check(body, "", TestIdentity::SignerByRoot), verify_testing::BadSignature()) << "empty";
  std::string flipped = signature;
  flipped[5] ^= 0x40;
  EXPECT_EQ(Check(body, flipped, TestIdentity::SignerByRoot), verify_testing::BadSignature()) << "one bit";
}

TEST_F(VerifySignatureTest, ANonRsaKeyCannotVerifyEvenItsOwnSignature) {
  const std::string body = "\"a\" 1 ab\n";
  const std::string& dsaKey = Credential(TestIdentity::DsaSigner).privateKeyPem;
  for (const std::string& signature :
       {SignSha1(body, dsaKey), SignSha1(body, Credential(TestIdentity::SignerByRoot).privateKeyPem)}) {
    const auto outcome = Check(body, signature, TestIdentity::DsaSigner);
    EXPECT_EQ(outcome.kind, "ve_crypt");
    EXPECT_EQ(outcome.code, 5);
    EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Error verifying signature\n");
    EXPECT_NE(outcome.printed.find("\n[Crypt Error]: error:"), std::string::npos) << outcome.printed;
  }
}

}  // namespace
