#include "verify/version_tool.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_pki.h"
#include "verify/test_helpers.h"

namespace {

using testing_support::Credential;
using testing_support::MakeSignedFile;
using testing_support::ManifestLine;
using testing_support::PemBase64Lines;
using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::SignedFileLayout;
using testing_support::TestIdentity;
using testing_support::WriteWholeFile;
using verify_testing::BadCertificate;
using verify_testing::BadFile;
using verify_testing::BadSignature;
using verify_testing::FirstLine;
using verify_testing::None;
using verify_testing::Outcome;
using verify_testing::OutcomeOf;
using T = TestIdentity;

const std::string kSum = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
const std::string kNotValid = "VersionTool::version, method called when version file is not valid";

class VersionToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ERR_clear_error();
    testing_support::WriteRootCertificate(trusted_);
    testing_support::WriteCrlFile(crl_);
  }
  void TearDown() override { ERR_clear_error(); }

  Outcome Load(const std::string& manifestFile, const std::string& crlPath) {
    WriteWholeFile(manifest_, manifestFile);
    return OutcomeOf([&] { tool_.load(manifest_, trusted_, crlPath); });
  }
  Outcome Load(const std::string& manifestFile) { return Load(manifestFile, crl_); }

  std::string VersionError() const {
    try {
      tool_.version();
    } catch (const std::logic_error& e) {
      return e.what();
    }
    return "no error";
  }

  ScratchFolder dir_{"version"};
  std::string trusted_ = dir_ / "ps_rootca.crt";
  std::string crl_ = dir_ / "ps.crl";
  std::string manifest_ = dir_ / "manifest.dat";
  VersionTool tool_;
};

TEST_F(VersionToolTest, ASoundManifestLoadsAsValidWithItsEntriesInOrder) {
  const std::string body = "# rescue CD files\n" + ManifestLine(".\\CorvexLive-SLAX.tar", 1, kSum) +
                           ManifestLine(".\\linux.intel.libc6.glibc.2.2.tar.Z", 2, "00ff") +
                           ManifestLine(".\\CorvexLive-SLAX.tar", 3, "ab") + ManifestLine("", 4294967295u, "");
  EXPECT_EQ(tool_.state(), verify_status::not_loaded);
  ASSERT_EQ(Load(MakeSignedFile(body, T::SignerByIntermediate)), None());
  EXPECT_EQ(tool_.state(), verify_status::valid);
  const std::vector<file_entry>& entries = tool_.version();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, ".\\CorvexLive-SLAX.tar");
  EXPECT_EQ(entries[0].number, 1u);
  EXPECT_EQ(entries[0].checksum, kSum);
  EXPECT_EQ(entries[1].name, ".\\linux.intel.libc6.glibc.2.2.tar.Z");
  EXPECT_EQ(entries[2].number, 3u) << "a duplicate name is kept after the first";
  EXPECT_EQ(entries[3].name, "");
  EXPECT_EQ(entries[3].number, 4294967295u);
  EXPECT_EQ(entries[3].checksum, "");
}

TEST_F(VersionToolTest, SignersAcceptedAndRefused) {
  const std::string body = ManifestLine(".\\a", 1, kSum);
  struct Row {
    const char* why;
    T signer;
    Outcome outcome;
  };
  const Row rows[] = {
      {"issued by the root", T::SignerByRoot, None()},
      {"issued by the intermediate, carried as a chain block", T::SignerByIntermediate, None()},
      {"expired after 2009, before today", T::RecentlyExpiredSigner, None()},
      {"valid only after 2009", T::NotYetValidSigner, BadCertificate()},
      {"expired before 2009", T::ExpiredSigner, BadCertificate()},
      {"issued by another root", T::SignerByOtherRoot, BadCertificate()},
      {"revoked by the root", T::RevokedSignerByRoot, BadCertificate()},
      {"revoked by the intermediate", T::RevokedSignerByIntermediate, BadCertificate()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    VersionTool fresh;
    WriteWholeFile(manifest_, MakeSignedFile(body, row.signer));
    const Outcome outcome = OutcomeOf([&] { fresh.load(manifest_, trusted_, crl_); });
    EXPECT_EQ(outcome, row.outcome);
    EXPECT_EQ(fresh.state(), outcome == None() ? verify_status::valid : verify_status::not_loaded);
  }
}

TEST_F(VersionToolTest, TheSignatureIsJudgedBeforeTheChain) {
  std::string file = MakeSignedFile(ManifestLine("a", 1, kSum), T::SignerByOtherRoot);
  file[2] = 'b';
  EXPECT_EQ(Load(file), BadSignature());
  EXPECT_EQ(tool_.state(), verify_status::not_loaded);
}

TEST_F(VersionToolTest, ADsaSignerEndsInACryptoFailure) {
  // A DSA signature is short: on 64-character lines it would be a single padded
  // line, which the layout refuses before any key is looked at.
  const std::string body = ManifestLine("a", 1, kSum);
  const auto& signer = Credential(T::DsaSigner);
  const std::string signature = testing_support::Base64Lines(testing_support::SignSha1(body, signer.privateKeyPem), 20);
  const Outcome outcome = Load(SignedFileLayout(body, signature, PemBase64Lines(signer.certificatePem)));
  EXPECT_EQ(outcome.kind, "ve_crypt");
  EXPECT_EQ(outcome.code, 5);
  EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Error verifying signature\n");
  EXPECT_EQ(tool_.state(), verify_status::not_loaded);
  EXPECT_EQ(VersionError(), kNotValid);
}

TEST_F(VersionToolTest, MalformedBodiesAreBadContent) {
  const std::string good = ManifestLine("a", 1, kSum);
  const std::string bodies[] = {
      "\"a:b\" 1 ab\n",
      "\"a*b\" 1 ab\n",
      "\"a?b\" 1 ab\n",
      "\"a<b\" 1 ab\n",
      "\"a>b\" 1 ab\n",
      "\"a|b\" 1 ab\n",
      "\"a\x01\" 1 ab\n",
      "\"a\" 1 aB\n",
      "\"a\"  1 ab\n",
      "\"a\"\t1 ab\n",
      "\"a\" 1 ab\r\n",
      "\"a\" 4294967296 ab\n",
      "x\n",
      good + "-\n",
      " " + good,
  };
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    VersionTool fresh;
    WriteWholeFile(manifest_, MakeSignedFile(body, T::SignerByRoot));
    const Outcome outcome = OutcomeOf([&] { fresh.load(manifest_, trusted_, crl_); });
    EXPECT_EQ(outcome, BadFile(8, manifest_));
    EXPECT_EQ(fresh.state(), verify_status::bad_content);
  }
}

TEST_F(VersionToolTest, ACommentOnlyManifestIsValidAndEmpty) {
  ASSERT_EQ(Load(MakeSignedFile("# nothing published yet\n#\n", T::SignerByRoot)), None());
  EXPECT_TRUE(tool_.version().empty());
}

TEST_F(VersionToolTest, FilesThatCannotBeOpenedAreNamedInOrder) {
  const std::string missing = dir_ / "missing";
  WriteWholeFile(manifest_, MakeSignedFile(ManifestLine("a", 1, kSum), T::SignerByRoot));

  EXPECT_EQ(OutcomeOf([&] { tool_.load(dir_ / "nope.dat", missing, missing + ".crl"); }), BadFile(3, missing))
      << "the trusted certificates come first";
  EXPECT_EQ(tool_.state(), verify_status::not_loaded);

  EXPECT_EQ(OutcomeOf([&] { tool_.load(dir_ / "nope.dat", trusted_, missing + ".crl"); }),
            BadFile(3, missing + ".crl"));
  EXPECT_EQ(tool_.state(), verify_status::not_loaded);

  EXPECT_EQ(OutcomeOf([&] { tool_.load(dir_ / "nope.dat", trusted_, ""); }), BadFile(3, dir_ / "nope.dat"));
  EXPECT_EQ(tool_.state(), verify_status::open_failed);

  // A folder opens on this platform but cannot be read: it cannot be opened for reading.
  EXPECT_EQ(OutcomeOf([&] { tool_.load(dir_.path(), trusted_, ""); }), BadFile(3, dir_.path()));
  EXPECT_EQ(OutcomeOf([&] { tool_.load(manifest_, dir_.path(), ""); }), BadFile(3, dir_.path()));
  EXPECT_EQ(OutcomeOf([&] { tool_.load(manifest_, trusted_, dir_.path()); }), BadFile(3, dir_.path()));
  EXPECT_EQ(VersionError(), kNotValid);

  EXPECT_EQ(OutcomeOf([&] { tool_.load(manifest_, trusted_, ""); }), None()) << "an empty list path is skipped";
  EXPECT_EQ(tool_.state(), verify_status::valid);
}

TEST_F(VersionToolTest, AManifestOverTheCapIsRefusedUnread) {
  const std::string sound = MakeSignedFile(ManifestLine("a", 1, kSum), T::SignerByRoot);
  EXPECT_EQ(Load(sound + std::string(kMaxManifestBytes - sound.size(), '#')), BadFile(4, manifest_))
      << "at the cap the manifest is read, and its tail breaks the layout";
  EXPECT_EQ(Load(sound + std::string(kMaxManifestBytes + 1 - sound.size(), '#')), BadFile(3, manifest_));
  EXPECT_EQ(tool_.state(), verify_status::open_failed);
}

TEST_F(VersionToolTest, AnUnreadableTrustedFileShowsOpenSslsReason) {
  WriteWholeFile(trusted_, "this is no certificate\n");
  const Outcome outcome = Load(MakeSignedFile(ManifestLine("a", 1, kSum), T::SignerByRoot));
  EXPECT_EQ(outcome.kind, "ve_crypt");
  EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Error loading trusted certificates file\n");
  EXPECT_NE(outcome.printed.find("\n[Crypt Error]: error:"), std::string::npos) << outcome.printed;
}

TEST_F(VersionToolTest, OnlyThisLoadsReasonsArePrinted) {
  // An earlier failure on this thread leaves OpenSSL errors queued.
  std::string file = MakeSignedFile(ManifestLine("a", 1, kSum), T::SignerByRoot);
  file[0] = '#';
  ASSERT_EQ(Load(file), BadSignature());
  ASSERT_NE(ERR_peek_error(), 0u);
  WriteWholeFile(trusted_, "no certificate\n");
  const Outcome outcome = Load(MakeSignedFile(ManifestLine("a", 1, kSum), T::SignerByRoot));
  EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Error loading trusted certificates file\n");
  EXPECT_EQ(outcome.printed.find("rsa routines"), std::string::npos) << outcome.printed;
}

TEST_F(VersionToolTest, AChainBlockThatIsNoCertificate) {
  const std::string body = ManifestLine("a", 1, kSum);
  const auto& signer = Credential(T::SignerByIntermediate);
  const std::string file =
      SignedFileLayout(body, testing_support::Base64Lines(testing_support::SignSha1(body, signer.privateKeyPem)),
                       PemBase64Lines(signer.certificatePem), {"QUJD\n"});
  const Outcome outcome = Load(file);
  EXPECT_EQ(outcome.kind, "ve_crypt");
  EXPECT_EQ(FirstLine(outcome.printed), "[VE_CRYPT] Decoding certificate in chain\n");
}

TEST_F(VersionToolTest, VersionIsGuardedUntilALoadSucceeds) {
  EXPECT_EQ(VersionError(), kNotValid);
  ASSERT_EQ(Load(MakeSignedFile("\"a\" 1 ab\n", T::ExpiredSigner)), BadCertificate());
  EXPECT_EQ(VersionError(), kNotValid);
}

/// The publisher's side done with the real `openssl` tool: the body is signed by
/// `openssl dgst -sha1 -sign` and the signature wrapped by `openssl base64`.
TEST_F(VersionToolTest, AcceptsAManifestSignedByTheOpensslTool) {
  const auto& signer = Credential(T::SignerByRoot);
  const std::string body = "# published\n" + ManifestLine(".\\CorvexLive-SLAX.tar", 1, kSum);
  WriteWholeFile(dir_ / "key.pem", signer.privateKeyPem);
  WriteWholeFile(dir_ / "body.txt", body);
  const auto sign = RunChild(
      "/usr/bin/openssl", {"dgst", "-sha1", "-sign", dir_ / "key.pem", "-out", dir_ / "body.sig", dir_ / "body.txt"});
  ASSERT_EQ(sign.exitStatus, 0) << sign.err;
  const auto wrap = RunChild("/usr/bin/openssl", {"base64", "-in", dir_ / "body.sig"});
  ASSERT_EQ(wrap.exitStatus, 0) << wrap.err;

  const std::string file = SignedFileLayout(body, wrap.out, PemBase64Lines(signer.certificatePem));
  ASSERT_EQ(Load(file), None());
  ASSERT_EQ(tool_.version().size(), 1u);
  EXPECT_EQ(tool_.version()[0].name, ".\\CorvexLive-SLAX.tar");

  std::string changed = file;
  changed[file.find("CorvexLive")] = 'c';
  VersionTool other;
  WriteWholeFile(manifest_, changed);
  const Outcome outcome = OutcomeOf([&] { other.load(manifest_, trusted_, crl_); });
  EXPECT_EQ(outcome, BadSignature());
  EXPECT_EQ(outcome.printed, "[BADSIG]: 6\n");
}

TEST_F(VersionToolTest, TheProvedEntryChecksTheDownloadedFile) {
  WriteWholeFile(dir_ / "CorvexLive-SLAX.tar", "distribution bytes");
  const std::string sum = testing_support::Sha1Hex("distribution bytes");
  ASSERT_EQ(Load(MakeSignedFile(ManifestLine(".\\CorvexLive-SLAX.tar", 1, sum), T::SignerByIntermediate)), None());
  const file_entry& entry = tool_.version().front();
  EXPECT_EQ(entry.check_file(dir_.path() + "/"), 0);
  WriteWholeFile(dir_ / "CorvexLive-SLAX.tar", "distribution bytes, changed");
  EXPECT_EQ(entry.check_file(dir_.path() + "/"), 1);
  std::filesystem::remove(dir_ / "CorvexLive-SLAX.tar");
  EXPECT_EQ(entry.check_file(dir_.path() + "/"), 2);
}

}  // namespace
