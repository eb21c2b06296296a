#include "net/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/last_error.h"

TEST(ErrorCodeTextTest, FixedDownloadTexts) {
  EXPECT_EQ(ErrorCodeText(12002), "The connection has timed out");
  EXPECT_EQ(ErrorCodeText(12028), "The file does not exist.");
  EXPECT_EQ(ErrorCodeText(12029), "Unsuccessful download");
}

TEST(ErrorCodeTextTest, SystemCodesAndUndescribedCodes) {
  EXPECT_EQ(ErrorCodeText(ENOENT), "No such file or directory");
  EXPECT_EQ(ErrorCodeText(0xbeef), "Error 0x0000beef");
  EXPECT_EQ(ErrorCodeText(0x8007000e), "Error 0x8007000e");
  platform::SetLastError(EACCES);
  EXPECT_EQ(LastErrorText(), "Permission denied");
}
