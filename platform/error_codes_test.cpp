#include "platform/error_codes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/error_description.h"

// The registry's own arrays come from the same lists as the enumerations, so a
// code added to a list is walked here at once. Each reads as the tool's own
// reason, never as what its channel gives a code nobody describes ("Error
// 0x..." for the last error, strerror's "Unknown error" for errno), nor as the
// system's text for the same number (Windows knows 1812 and 1813); and no two
// codes of one channel read alike.
TEST(ErrorCodesTest, EveryOwnCodeHasATextOfItsOwn) {
  std::set<std::string> lastErrorTexts;
  for (const platform::LastErrorCode code : platform::kOwnLastErrorCodes) {
    SCOPED_TRACE(code);
    const char* own = platform::OwnLastErrorText(code);
    std::string text;
    ASSERT_NE(own, nullptr);
    ASSERT_TRUE(platform::SystemErrorDescription(code, text));
    EXPECT_EQ(text, own);
    EXPECT_TRUE(lastErrorTexts.insert(text).second) << "repeats another code's text";
  }
  std::set<std::string> errnoTexts;
  for (const platform::ErrnoCode code : platform::kOwnErrnoCodes) {
    SCOPED_TRACE(code);
    const char* own = platform::OwnErrnoText(code);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(platform::ErrnoDescription(code), own);
    EXPECT_NE(platform::ErrnoDescription(code), std::strerror(code));
    EXPECT_TRUE(errnoTexts.insert(own).second) << "repeats another code's text";
  }
}
