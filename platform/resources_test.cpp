#include "platform/resources.h"

#include <gtest/gtest.h>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/version_info.h"
#include "tests/support/child_process.h"
#include "tests/support/expected_output.h"

TEST(ResourcesTest, LooksUpByTypeNameAndIdentifier) {
  static const unsigned char a[] = {'A'};
  static const unsigned char b[] = {'B', 'B'};
  const platform::ResourceEntry entries[] = {{"CERTIFICATE", 101, a, 1}, {"CRL", 102, b, 2}};
  const platform::ResourceTable table{entries, 2};

  auto found = platform::FindResourceIn(table, "CRL", 102);
  ASSERT_TRUE(found);
  EXPECT_EQ(found.size, 2u);
  EXPECT_EQ(found.data, b);

  platform::SetLastError(0);
  EXPECT_FALSE(platform::FindResourceIn(table, "CRL", 101));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorResourceNotFound);
  EXPECT_FALSE(platform::FindResourceIn(table, "crl", 102));
}

TEST(VersionInfoTest, QueriesWholeSubBlockPaths) {
  const std::string stored("\\A\\Key\0one\0\\A\\Other\0\0", 22);
  platform::VersionInfo info(stored);
  std::string value;
  ASSERT_TRUE(info.Query("\\A\\Key", value));
  EXPECT_EQ(value, "one");
  ASSERT_TRUE(info.Query("\\A\\Other", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(info.Query("\\A\\Ke", value));
}

TEST(VersionInfoTest, RunningExecutableCarriesTheProjectVersion) {
  std::string self;
  ASSERT_TRUE(platform::ExecutablePath(self));
  platform::VersionInfo info;
  ASSERT_TRUE(platform::LoadFileVersionInfo(self, info));
  std::string version, name;
  ASSERT_TRUE(info.Query("\\StringFileInfo\\000904b0\\FileVersion", version));
  EXPECT_EQ(version, testing_support::ExpectedFileVersion());
  ASSERT_TRUE(info.Query("\\StringFileInfo\\000904b0\\InternalName", name));
  EXPECT_EQ(name, "rscdc");
}

TEST(VersionInfoTest, FilesWithoutAVersionResourceHaveNone) {
  testing_support::ScratchFolder dir("version");
  testing_support::WriteWholeFile(dir / "plain.bin", "no version resource in here");
  platform::VersionInfo info;
  EXPECT_FALSE(platform::LoadFileVersionInfo(dir / "plain.bin", info));
  EXPECT_FALSE(platform::LoadFileVersionInfo(dir / "missing.exe", info));
}
