#include "verify/certificate_chain.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_pki.h"
#include "tests/support/time_zone.h"
#include "verify/signed_file.h"
#include "verify/test_helpers.h"

namespace {

using testing_support::Credential;
using testing_support::DefaultCrlFile;
using testing_support::MakeCrlPem;
using testing_support::ScopedTimeZone;
using testing_support::ScratchFolder;
using testing_support::TestIdentity;
using testing_support::WriteWholeFile;
using verify_testing::BadCertificate;
using verify_testing::FirstLine;
using verify_testing::None;
using verify_testing::Outcome;
using verify_testing::OutcomeOf;
using T = TestIdentity;

class CertificateChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ERR_clear_error();
    WriteWholeFile(trusted_, Credential(T::Root).certificatePem);
  }
  void TearDown() override { ERR_clear_error(); }

  /// Verifies `signer` with `chain` as the chain blocks.
  Outcome Verify(T signer, const std::vector<T>& chain, const std::string& crlPath = "",
                 const std::string& trustedPath = "") {
    std::vector<std::string> pems;
    for (T who : chain) pems.push_back(Credential(who).certificatePem);
    return OutcomeOf([&] {
      const std::vector<verify::X509Ptr> decoded = verify::decode_chain_certificates(pems);
      const verify::X509Ptr certificate = verify::decode_certificate(Credential(signer).certificatePem);
      ASSERT_NE(certificate, nullptr);
      verify::verify_certificate_chain(certificate.get(), trustedPath.empty() ? trusted_ : trustedPath, decoded,
                                       crlPath);
    });
  }

  std::string WriteCrl(const std::string& name, const std::string& content) {
    WriteWholeFile(dir_ / name, content);
    return dir_ / name;
  }

  ScratchFolder dir_{"chain"};
  std::string trusted_ = dir_ / "ps_rootca.crt";
};

struct ChainCase {
  const char* why;
  T signer;
  std::vector<T> chain;
  bool verifies;
};

TEST_F(CertificateChainTest, VerifiesAgainstTheTrustedRootOnTheFirstOfJanuary2009) {
  const ChainCase cases[] = {
      {"issued by the root, no chain blocks", T::SignerByRoot, {}, true},
      {"issued by the intermediate, which is a chain block", T::SignerByIntermediate, {T::Intermediate}, true},
      {"blocks that play no part in the path",
       T::SignerByIntermediate,
       {T::OtherRoot, T::SignerByRoot, T::Intermediate, T::ExpiredSigner},
       true},
      {"the root itself as a chain block", T::SignerByRoot, {T::Root}, true},
      {"validity ended after 2009 but before today", T::RecentlyExpiredSigner, {}, true},
      {"a DSA key is no matter for the chain", T::DsaSigner, {}, true},

      {"the intermediate block is missing", T::SignerByIntermediate, {}, false},
      {"valid only from after the first of January 2009", T::NotYetValidSigner, {}, false},
      {"expired before the first of January 2009", T::ExpiredSigner, {}, false},
      {"issued by another root", T::SignerByOtherRoot, {}, false},
      {"another root given as a chain block is not trusted", T::SignerByOtherRoot, {T::OtherRoot}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Verify(c.signer, c.chain), c.verifies ? None() : BadCertificate());
  }
}

TEST_F(CertificateChainTest, EveryRootOfTheTrustedFileIsTrusted) {
  WriteWholeFile(trusted_, Credential(T::OtherRoot).certificatePem + Credential(T::Root).certificatePem);
  EXPECT_EQ(Verify(T::SignerByOtherRoot, {}), None());
  EXPECT_EQ(Verify(T::SignerByRoot, {}), None());
}

TEST_F(CertificateChainTest, ATrustedFileWithoutCertificatesIsACryptoFailure) {
  for (const std::string& content : {std::string(), std::string("no PEM here\n"),
                                     std::string("-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n")}) {
    SCOPED_TRACE(content);
    WriteWholeFile(trusted_, content);
    const Outcome outcome = Verify(T::SignerByRoot, {});
    EXPECT_EQ(outcome.kind, "ve_crypt");
    EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Error loading trusted certificates file\n");
    EXPECT_NE(outcome.printed.find("[Crypt Error]: "), std::string::npos) << "OpenSSL's reason follows";
  }
}

TEST_F(CertificateChainTest, AChainBlockThatIsNoCertificateIsACryptoFailure) {
  const std::vector<std::string> pems = {Credential(T::Intermediate).certificatePem,
                                         "-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n"};
  const Outcome outcome = OutcomeOf([&] { verify::decode_chain_certificates(pems); });
  EXPECT_EQ(outcome.kind, "ve_crypt");
  EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Decoding certificate in chain\n");
}

TEST_F(CertificateChainTest, RevokedCertificatesOfTheChainAreRefused) {
  const std::string crl = WriteCrl("ps.crl", DefaultCrlFile());
  struct Row {
    const char* why;
    T signer;
    std::vector<T> chain;
    std::string crlPath;
    bool verifies;
  };
  const Row rows[] = {
      {"revoked by the root", T::RevokedSignerByRoot, {}, crl, false},
      {"revoked by the intermediate", T::RevokedSignerByIntermediate, {T::Intermediate}, crl, false},
      {"not revoked, issued by the root", T::SignerByRoot, {}, crl, true},
      {"not revoked, issued by the intermediate", T::SignerByIntermediate, {T::Intermediate}, crl, true},
      {"no revocation list given", T::RevokedSignerByRoot, {}, "", true},
      // The other root's list revokes the serial number that SignerByRoot also
      // carries: only a list of the certificate's own issuer counts.
      {"the same serial revoked by another issuer", T::SignerByRoot, {}, crl, true},
      {"a chain failure comes first", T::NotYetValidSigner, {}, crl, false},
  };
  ASSERT_EQ(Credential(T::SignerByRoot).serial, Credential(T::SignerByOtherRoot).serial);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(Verify(row.signer, row.chain, row.crlPath), row.verifies ? None() : BadCertificate());
  }
}

TEST_F(CertificateChainTest, OnlyAListSignedByTheIssuerCounts) {
  const long revoked = Credential(T::SignerByRoot).serial;
  // Named after the root but signed with another key: not the root's list.
  const std::string forged = WriteCrl("forged.crl", MakeCrlPem(T::Root, {revoked}, T::OtherRoot));
  EXPECT_EQ(Verify(T::SignerByRoot, {}, forged), None());
  EXPECT_EQ(ERR_peek_error(), 0u) << "a rejected list leaves no error behind";

  const std::string genuine = WriteCrl("genuine.crl", MakeCrlPem(T::OtherRoot, {}) + MakeCrlPem(T::Root, {revoked}));
  EXPECT_EQ(Verify(T::SignerByRoot, {}, genuine), BadCertificate()) << "the second list of the file";

  const std::string intermediateRevoked = WriteCrl("ca.crl", MakeCrlPem(T::Root, {Credential(T::Intermediate).serial}));
  EXPECT_EQ(Verify(T::SignerByIntermediate, {T::Intermediate}, intermediateRevoked), BadCertificate())
      << "a revoked intermediate";
  EXPECT_EQ(Verify(T::SignerByRoot, {}, intermediateRevoked), None());

  const std::string rootRevoked = WriteCrl("root.crl", MakeCrlPem(T::Root, {Credential(T::Root).serial}));
  EXPECT_EQ(Verify(T::SignerByRoot, {}, rootRevoked), BadCertificate()) << "the root revoked by itself";
}

TEST_F(CertificateChainTest, ARevocationListFileThatCannotBeReadIsACryptoFailure) {
  const std::string valid = MakeCrlPem(T::Root, {});
  std::string damaged = valid;
  damaged[damaged.find('\n') + 20] = '*';
  const struct {
    const char* why;
    std::string content;
  } rows[] = {
      {"an empty file", ""},
      {"text without PEM blocks", "nothing to see\n"},
      {"only a certificate", Credential(T::Root).certificatePem},
      {"a damaged list", damaged},
      {"a good list followed by a damaged one", valid + damaged},
      {"a list block that is not base64 DER", "-----BEGIN X509 CRL-----\nQUJD\n-----END X509 CRL-----\n"},
      {"a list cut short", [&] {
         std::string cut = valid;
         const std::size_t second = cut.find('\n', cut.find('\n') + 1) + 1;
         cut.erase(second, cut.find('\n', second) + 1 - second);
         return cut;
       }()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const Outcome outcome = Verify(T::SignerByRoot, {}, WriteCrl("bad.crl", row.content));
    EXPECT_EQ(outcome.kind, "ve_crypt");
    EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Error loading revocation list file\n");
    ERR_clear_error();
  }
  const Outcome missing = Verify(T::SignerByRoot, {}, dir_ / "missing.crl");
  EXPECT_EQ(FirstLine(missing.printed), "[VE_CRYPT] Error loading revocation list file\n");
}

TEST(VerificationTimeTest, IsMidnightOfTheFirstOfJanuary2009LocalTime) {
  constexpr std::int64_t kUtcMidnight = 1230768000;  // 2009-01-01T00:00:00Z
  {
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(verify::verification_time(), kUtcMidnight);
  }
  {
    ScopedTimeZone zone("EST5EDT");
    EXPECT_EQ(verify::verification_time(), kUtcMidnight + 5 * 3600);
  }
  {
    ScopedTimeZone zone("CET-1CEST");
    EXPECT_EQ(verify::verification_time(), kUtcMidnight - 3600);
  }
}

}  // namespace
