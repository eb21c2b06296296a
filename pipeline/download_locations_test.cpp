#include "pipeline/download_locations.h"

#include <gtest/gtest.h>

TEST(DownloadLocationsTest, UrlsAreTheConfiguredBaseAndPath) {
  BuildSettings s;
  s.downloadBase = "https://mirror.example:8443";
  EXPECT_EQ(DefaultDistributionUrl(s), "https://mirror.example:8443/tools/rscd/CorvexLive-SLAX.tar");
  EXPECT_EQ(DistributionManifestUrl(s), "https://mirror.example:8443/tools/rscd/CorvexLive-SLAX_manifest.dat");
  EXPECT_EQ(PackageUrl(s), "https://mirror.example:8443/dp/full/linux.intel.libc6.glibc.2.2.tar.Z");
  EXPECT_EQ(PackageManifestUrl(s), "https://mirror.example:8443/dp/full/NXV-Unix_manifest.dat");
  EXPECT_EQ(BuildIdentitiesUrl(s, "442_ides.zip"), "https://mirror.example:8443/downloads/ide/442_ides.zip");
}

TEST(DownloadLocationsTest, IdentitiesNameJoinsTheNumbersWithoutSeparator) {
  EXPECT_EQ(IdentitiesFileName(4, 42), "442_ides.zip");
  EXPECT_EQ(IdentitiesFileName(44, 2), "442_ides.zip");
  EXPECT_EQ(IdentitiesFileName(5, 0), "50_ides.zip");
  EXPECT_EQ(IdentitiesFileName(-1, 7), "-17_ides.zip");
}

TEST(DownloadLocationsTest, DefaultBaseIsTheBuildOption) {
  EXPECT_EQ(DefaultBuildSettings().downloadBase, RSCDC_DOWNLOAD_BASE);
}
