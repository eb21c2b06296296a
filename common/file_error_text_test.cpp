#include "common/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/error_codes.h"

TEST(FileErrorTextTest, ArchiveNumbersHaveTheirOwnTexts) {
  EXPECT_EQ(FileErrorText(ARCHIVE_CORRUPT), "The archive is corrupt");
  EXPECT_EQ(FileErrorText(ARCHIVE_TRUNCATED), "The archive is truncated");
  EXPECT_EQ(FileErrorText(ARCHIVE_UNSUPPORTED), "The archive contains unsupported features");
  errno = ARCHIVE_TRUNCATED;
  EXPECT_EQ(FileErrorText(), "The archive is truncated");
}

TEST(FileErrorTextTest, OtherNumbersUseTheCLibraryText) {
  errno = ENOENT;
  EXPECT_EQ(FileErrorText(), "No such file or directory");
  EXPECT_EQ(FileErrorText(EACCES), "Permission denied");
  EXPECT_EQ(FileErrorText(ENOSPC), "No space left on device");
  // The numbers a Windows runtime leaves free are taken here.
  EXPECT_EQ(FileErrorText(100), "Network is down");
}

// The tool's own numbers, the archive's among them.
TEST(FileErrorTextTest, OwnNumbersCollideWithNoStandardError) {
  for (int code : platform::kOwnErrnoCodes) {
    EXPECT_EQ(strerrordesc_np(code), nullptr) << code;
  }
  for (int code : kAppErrnoCodes) {
    EXPECT_EQ(strerrordesc_np(code), nullptr) << code;
  }
  // Every number the C library knows lies below them.
  for (int code = ARCHIVE_CORRUPT; code < ARCHIVE_CORRUPT + 4096; ++code) {
    EXPECT_EQ(strerrordesc_np(code), nullptr) << code;
  }
}
