#include "platform/error_codes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/error_description.h"

namespace {

/// One own code as its channel describes it.
struct Row {
  const char* channel;
  std::string code;      ///< in hexadecimal for the last error, in decimal for errno
  const char* own;       ///< the registry's text
  std::string text;      ///< what the channel's description gives
  std::string fallback;  ///< what a code that nobody describes would give
};

/// What ErrorCodeText gives for a code without a description.
std::string Undescribed(std::uint32_t code) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Error 0x%08x", code);
  return buffer;
}

}  // namespace

// The rows are the registry's own arrays, made from the same lists as the
// enumerations: a code added to a list is in this table at once. Each must
// read as the tool's own reason, not as ErrorCodeText's "Error 0x..." or
// FileErrorText's strerror "Unknown error", nor as the system's text for the
// same number (Windows knows 1812 and 1813), and no two codes of one channel
// may read alike.
TEST(ErrorCodesTest, EveryOwnCodeHasATextOfItsOwn) {
  std::vector<Row> rows;
  for (const platform::LastErrorCode code : platform::kOwnLastErrorCodes) {
    std::string text;
    if (!platform::SystemErrorDescription(code, text)) text = Undescribed(code);
    rows.push_back({"last error", Undescribed(code).substr(6), platform::OwnLastErrorText(code), text,
                    Undescribed(code)});
  }
  for (const platform::ErrnoCode code : platform::kOwnErrnoCodes) {
    rows.push_back({"errno", std::to_string(code), platform::OwnErrnoText(code), platform::ErrnoDescription(code),
                    std::strerror(code)});
  }

  std::map<std::string, std::set<std::string>> textsOfChannel;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.channel) + " code " + row.code + ": " + row.text);
    EXPECT_NE(row.own, nullptr);
    EXPECT_EQ(row.text, row.own != nullptr ? row.own : "(none)");
    EXPECT_NE(row.text, row.fallback);
    EXPECT_NE(row.text.rfind("Error 0x", 0), 0u);
    EXPECT_EQ(row.text.find("Unknown error"), std::string::npos);
    EXPECT_FALSE(row.text.empty());
    EXPECT_EQ(row.text.find_first_of("\r\n"), std::string::npos);
    EXPECT_TRUE(textsOfChannel[row.channel].insert(row.text).second) << "repeats another code's text";
  }
}

// The one reason that both channels carry reads alike in both.
TEST(ErrorCodesTest, NotRegularFileReadsAlikeInBothChannels) {
  EXPECT_STREQ(platform::OwnLastErrorText(platform::kErrorNotRegularFile), "Not a regular file");
  EXPECT_STREQ(platform::OwnErrnoText(platform::kErrnoNotRegularFile), "Not a regular file");
}

// Codes outside the registry are the system's to describe.
TEST(ErrorCodesTest, OtherCodesHaveNoOwnText) {
  EXPECT_EQ(platform::OwnLastErrorText(0), nullptr);
  EXPECT_EQ(platform::OwnLastErrorText(0x20000000), nullptr);
  EXPECT_EQ(platform::OwnLastErrorText(0x2000beef), nullptr);
  EXPECT_EQ(platform::OwnErrnoText(0), nullptr);
  EXPECT_EQ(platform::OwnErrnoText(ENOENT), nullptr);
  EXPECT_EQ(platform::OwnErrnoText(1099), nullptr);
  EXPECT_EQ(platform::OwnErrnoText(-1), nullptr);
}
