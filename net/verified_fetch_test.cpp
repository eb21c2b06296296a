#include "net/verified_fetch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "net/trust_material.h"
#include "tests/support/child_process.h"
#include "tests/support/expected_output.h"
#include "tests/support/local_server.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/test_pki.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kFile = "CorvexLive-SLAX.tar";
const std::string kContent = "distribution bytes\n";

/// A working folder holding the downloaded file, a mirror serving signed
/// manifests, and the test root as the trust anchor.
class VerifyDownloadTest : public ::testing::Test {
 protected:
  VerifyDownloadTest() : work_("work"), mirror_("mirror"), server_(mirror_.path()) {
    rootPem_ = Credential(TestIdentity::Root).certificatePem;
    crlPem_ = DefaultCrlFile();
    entries_[0] = {kCertificateResourceType, kCertificateResourceId,
                   reinterpret_cast<const unsigned char*>(rootPem_.data()), rootPem_.size()};
    entries_[1] = {kCrlResourceType, kCrlResourceId, reinterpret_cast<const unsigned char*>(crlPem_.data()),
                   crlPem_.size()};
    WriteWholeFile(work_ / kFile, kContent);
  }

  void Publish(const std::string& body, TestIdentity signer = TestIdentity::SignerByIntermediate) {
    WriteWholeFile(mirror_ / "manifest.dat", MakeSignedFile(body, signer));
  }

  static std::string Entry(const std::string& name, const std::string& content = kContent) {
    return ManifestLine(name, content.size(), Sha1Hex(content));
  }

  struct Outcome {
    bool ok;
    std::string out, err;
  };

  Outcome Verify(Verbosity verbosity = Normal, const std::string& path = "manifest.dat") {
    StdoutCapture out;
    StderrCapture err;
    bool ok = VerifyDownload(server_.Url("/" + path), work_.path(), kFile, verbosity, DownloadSettings{},
                             platform::ResourceTable{entries_, 2});
    return {ok, out.Finish(), err.Finish()};
  }

  bool ProofFilesLeft() const {
    return PathExists(work_ / "manifest.dat") || PathExists(work_ / "ps.crl") || PathExists(work_ / "ps_rootca.crt");
  }

  ScratchFolder work_, mirror_;
  LocalHttpServer server_;
  std::string rootPem_, crlPem_;
  platform::ResourceEntry entries_[2];
};

}  // namespace

TEST_F(VerifyDownloadTest, ProvedFileStaysAndProofFilesGoEvenAfterAnEarlierFailure) {
  Publish("# two files\n" + Entry(".\\other.bin", "x") + Entry(".\\" + kFile));
  WriteWholeFile(work_ / kFile, "tampered");
  Outcome failed = Verify();
  EXPECT_FALSE(failed.ok);
  EXPECT_TRUE(ProofFilesLeft());

  WriteWholeFile(work_ / kFile, kContent);
  Outcome r = Verify();
  EXPECT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, "Downloading the manifest file...\n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(ProofFilesLeft());
  EXPECT_EQ(ReadWholeFile(work_ / kFile), kContent);
}

TEST_F(VerifyDownloadTest, QuietSuccessPrintsNothing) {
  Publish(Entry(".\\" + kFile));
  Outcome r = Verify(Quiet);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(VerifyDownloadTest, VerboseBlanksTheProgressLineBeforeGoingOn) {
  Publish(Entry(".\\" + kFile));
  Outcome r = Verify(Verbose);
  EXPECT_TRUE(r.ok);
  const std::string blank = std::string(79, ' ') + "\r";
  ASSERT_EQ(r.out.rfind("Downloading the manifest file...\n", 0), 0u);
  EXPECT_NE(r.out.find("100% of "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - blank.size()), blank);
}

TEST_F(VerifyDownloadTest, EntryLookupIsExact) {
  struct Row {
    const char* why;
    std::string body;
    std::string err;
  } rows[] = {
      {"no .\\ prefix", Entry(kFile), "Error: Manifest does not contain the requested file.\n"},
      {"letter case differs", Entry(".\\corvexlive-slax.tar"), "Error: Manifest does not contain the requested file.\n"},
      {"forward slash", Entry("./" + kFile), "Error: Manifest does not contain the requested file.\n"},
      {"first of two duplicates wins", Entry(".\\" + kFile, "old") + Entry(".\\" + kFile), kChecksumWrong},
      {"empty checksum", ManifestLine(".\\" + kFile, 1, ""), kChecksumWrong},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Publish(row.body);
    Outcome r = Verify();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, row.err);
  }
}

TEST_F(VerifyDownloadTest, EachFailureHasItsOwnMessage) {
  Publish(Entry(".\\" + kFile));
  Outcome notFound = Verify(Normal, "missing.dat");
  EXPECT_FALSE(notFound.ok);
  EXPECT_EQ(notFound.err, "Download failed: The file does not exist.\n");

  // A body without a length or an end is cut where it passes what a manifest
  // can be, not where the disk is full.
  HttpReply endless = HttpReply::Generated(kManifestSizeLimit + kManifestSizeLimit / 2);
  endless.framing = HttpReply::Framing::None;
  server_.Script("/endless.dat", endless);
  Outcome endlessOne = Verify(Normal, "endless.dat");
  EXPECT_FALSE(endlessOne.ok);
  EXPECT_EQ(endlessOne.err, "Download failed: The file exceeds the size limit of this download\n");

  fs::remove(work_ / kFile);
  Outcome missing = Verify();
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.err, "Failed to verify the checksum.\n");
}

TEST_F(VerifyDownloadTest, ManifestProblemsPrintTheLibrarysDiagnostic) {
  Publish(Entry(".\\" + kFile), TestIdentity::SignerByOtherRoot);
  Outcome otherRoot = Verify();
  EXPECT_FALSE(otherRoot.ok);
  EXPECT_EQ(otherRoot.err, "[VE_BADCERT]: 7\n\n");

  std::string signedFile = MakeSignedFile(Entry(".\\" + kFile), TestIdentity::SignerByRoot);
  signedFile[3] ^= 1;  // inside the first name: the signature no longer fits
  WriteWholeFile(mirror_ / "manifest.dat", signedFile);
  Outcome badSig = Verify();
  EXPECT_FALSE(badSig.ok);
  EXPECT_EQ(badSig.err, "[BADSIG]: 6\n\n");

  Publish("\"bad|name\" 1 ab\n", TestIdentity::SignerByRoot);
  Outcome badContent = Verify();
  EXPECT_FALSE(badContent.ok);
  EXPECT_EQ(badContent.err, "[BADFILE]: 8: '" + (work_ / "manifest.dat") + "'\n");
  EXPECT_TRUE(ProofFilesLeft());
}

TEST_F(VerifyDownloadTest, RevokedSignerIsRefused) {
  Publish(Entry(".\\" + kFile), TestIdentity::RevokedSignerByRoot);
  Outcome r = Verify();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, "[VE_BADCERT]: 7\n\n");
}
