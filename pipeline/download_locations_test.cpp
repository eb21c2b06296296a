#include "pipeline/download_locations.h"

#include <gtest/gtest.h>

TEST(DownloadLocationsTest, UrlsArePlainHttpOnTheConfiguredHost) {
  BuildSettings s;
  s.downloadHost = "mirror.example:8080";
  EXPECT_EQ(DefaultDistributionUrl(s), "http://mirror.example:8080/tools/rscd/CorvexLive-SLAX.tar");
  EXPECT_EQ(DistributionManifestUrl(s), "http://mirror.example:8080/tools/rscd/CorvexLive-SLAX_manifest.dat");
  EXPECT_EQ(PackageUrl(s), "http://mirror.example:8080/dp/full/linux.intel.libc6.glibc.2.2.tar.Z");
  EXPECT_EQ(PackageManifestUrl(s), "http://mirror.example:8080/dp/full/NXV-Unix_manifest.dat");
  EXPECT_EQ(BuildIdentitiesUrl(s, "442_ides.zip"), "http://mirror.example:8080/downloads/ide/442_ides.zip");
}

TEST(DownloadLocationsTest, IdentitiesNameJoinsTheNumbersWithoutSeparator) {
  EXPECT_EQ(IdentitiesFileName(4, 42), "442_ides.zip");
  EXPECT_EQ(IdentitiesFileName(44, 2), "442_ides.zip");
  EXPECT_EQ(IdentitiesFileName(5, 0), "50_ides.zip");
  EXPECT_EQ(IdentitiesFileName(-1, 7), "-17_ides.zip");
}

TEST(DownloadLocationsTest, DefaultHostIsTheBuildOption) {
  EXPECT_EQ(DefaultBuildSettings().downloadHost, RSCDC_DOWNLOAD_HOST);
}
