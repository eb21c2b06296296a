#include "pipeline/source_date.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/environment.h"
#include "tests/support/test_system.h"

// The reproducible-builds convention: only decimal seconds since 1970 are a
// date, and an ISO 9660 date ends with the year 9999. Leading zeros are taken,
// and the mastering program, which refuses them, inherits the value without.
TEST(SourceDateTest, OnlyDecimalSecondsUpToTheLastFourDigitYearAreTaken) {
  struct Row {
    const char* value;
    std::optional<std::int64_t> epoch;  // none: refused
    const char* inherited;
  } rows[] = {
      {"", std::nullopt, ""},
      {"-1", std::nullopt, ""},
      {"+1700000000", std::nullopt, ""},
      {"abc", std::nullopt, ""},
      {"1.5", std::nullopt, ""},
      {"0x10", std::nullopt, ""},
      {" 1700000000", std::nullopt, ""},
      {"1700000000 ", std::nullopt, ""},
      {"9223372036854775808", std::nullopt, ""},  // 2^63: no 64-bit signed number
      {"253402300800", std::nullopt, ""},         // 10000-01-01T00:00:00Z: a year of five digits
      {"253402300799", 253402300799, "253402300799"},  // 9999-12-31T23:59:59Z
      {"0", 0, "0"},
      {"0001700000000", 1700000000, "1700000000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("\"" + std::string(row.value) + "\"");
    testing_support::ScopedEnvironmentVariable epoch("SOURCE_DATE_EPOCH", row.value);
    std::optional<SourceDate> date;
    std::string value;
    const bool taken = ReadSourceDate(date, value);
    EXPECT_EQ(taken, row.epoch.has_value());
    if (taken) {
      ASSERT_TRUE(date.has_value());
      EXPECT_EQ(date->epoch, *row.epoch);
      std::string inherited;
      EXPECT_TRUE(platform::GetEnvironment("SOURCE_DATE_EPOCH", inherited));
      EXPECT_EQ(inherited, row.inherited);
    } else {
      EXPECT_EQ(value, row.value);
    }
  }
}
