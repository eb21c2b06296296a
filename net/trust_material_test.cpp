#include "net/trust_material.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/child_process.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/test_system.h"

using namespace testing_support;

TEST(ExtractTrustMaterialTest, WritesTheEmbeddedBytesUnchangedAndOverwrites) {
  ScratchFolder dir("trust");
  WriteWholeFile(dir / "ps_rootca.crt", std::string(100000, 'x'));  // longer than the real one
  for (int round = 0; round < 2; ++round) {
    StderrCapture err;
    ASSERT_TRUE(ExtractTrustMaterial(dir.path()));
    EXPECT_EQ(err.Finish(), "");
  }
  EXPECT_EQ(ReadWholeFile(dir / "ps_rootca.crt"), ReadWholeFile(RSCDC_TRUST_CERT));
  EXPECT_EQ(ReadWholeFile(dir / "ps.crl"), ReadWholeFile(RSCDC_TRUST_CRL));
  auto cert = platform::FindResource(kCertificateResourceType, kCertificateResourceId);
  ASSERT_TRUE(cert);
  EXPECT_EQ(ReadWholeFile(dir / "ps_rootca.crt").size(), cert.size);
}

TEST(ExtractTrustMaterialTest, MissingFolderNamesTheCertificatePath) {
  ScratchFolder dir("trust");
  StderrCapture err;
  EXPECT_FALSE(ExtractTrustMaterial(dir / "missing"));
  EXPECT_EQ(err.Finish(),
            "Failed to save CA certificate to " + (dir / "missing") + "/ps_rootca.crt: No such file or directory\n");
}

TEST(ExtractTrustMaterialTest, MissingResourcesAreReportedInOrder) {
  static const unsigned char pem[] = "-----BEGIN CERTIFICATE-----\n";
  ScratchFolder dir("trust");
  {
    const platform::ResourceEntry entries[] = {{kCrlResourceType, kCrlResourceId, pem, sizeof pem - 1}};
    StderrCapture err;
    EXPECT_FALSE(ExtractTrustMaterial(dir.path(), platform::ResourceTable{entries, 1}));
    EXPECT_EQ(err.Finish(), "Failed to extract CA certificate: The resource cannot be found in the executable\n");
    EXPECT_FALSE(PathExists(dir / "ps_rootca.crt"));
  }
  {
    const platform::ResourceEntry entries[] = {{kCertificateResourceType, kCertificateResourceId, pem, sizeof pem - 1},
                                               {kCrlResourceType, kCrlResourceId, pem, 0}};
    StderrCapture err;
    EXPECT_FALSE(ExtractTrustMaterial(dir.path(), platform::ResourceTable{entries, 2}));
    EXPECT_EQ(err.Finish(), "Failed to extract CRL: The resource in the executable is empty\n");
    EXPECT_EQ(ReadWholeFile(dir / "ps_rootca.crt"), "-----BEGIN CERTIFICATE-----\n");
  }
}

TEST(WriteBytesToFileTest, AFullDeviceIsAFailureEvenForSmallWrites) {
  if (!HasFullDevice()) GTEST_SKIP() << "no /dev/full here, the device that is always full";
  errno = 0;
  // A few bytes sit in the stream's buffer until the file is closed.
  EXPECT_FALSE(WriteBytesToFile("/dev/full", "abc"));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(WriteBytesToFile("/dev/full", std::string(1 << 20, 'x')));
  EXPECT_EQ(errno, ENOSPC);
}
