#include "cli/banner.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/support/expected_output.h"

namespace {

platform::VersionInfo Table(const std::string& table, const std::string& version) {
  std::string stored;
  auto add = [&](const std::string& key, const std::string& value) {
    stored += table + key;
    stored.push_back('\0');
    stored += value;
    stored.push_back('\0');
  };
  add("FileDescription", "Rescue Builder");
  add("FileVersion", version);
  add("LegalCopyright", "(C) Someone");
  return platform::VersionInfo(stored);
}

const std::string kTable = "\\StringFileInfo\\000904b0\\";

}  // namespace

TEST(ComposeBannerTest, TwoLinesAndABlankLine) {
  EXPECT_EQ(ComposeBanner(Table(kTable, "1.0.0 Build 3")), "Rescue Builder v1.0.0\n(C) Someone\n\n");
  EXPECT_EQ(ComposeBanner(Table(kTable, "12.34.56")), "Rescue Builder v12.34.56\n(C) Someone\n\n");
}

TEST(ComposeBannerTest, NothingWithoutThreeNumbersOrTheFixedTable) {
  EXPECT_EQ(ComposeBanner(Table(kTable, "1.0 Build 3")), std::nullopt);
  EXPECT_EQ(ComposeBanner(Table(kTable, "Build 3")), std::nullopt);
  EXPECT_EQ(ComposeBanner(Table("\\StringFileInfo\\040904b0\\", "1.0.0")), std::nullopt);
  EXPECT_EQ(ComposeBanner(platform::VersionInfo()), std::nullopt);
}

// The program's own version resource, read as PrintBanner reads it: a real
// VERSIONINFO on Windows, the generated table elsewhere.
TEST(ComposeBannerTest, TheRunningProgramsOwnVersionResource) {
  std::string self;
  ASSERT_TRUE(platform::ExecutablePath(self));
  platform::VersionInfo info;
  ASSERT_TRUE(platform::LoadFileVersionInfo(self, info));
  EXPECT_EQ(ComposeBanner(info), testing_support::ExpectedBanner());
}
