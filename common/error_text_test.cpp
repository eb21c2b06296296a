#include "common/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "tests/support/test_system.h"

TEST(ErrorCodeTextTest, FixedDownloadTexts) {
  EXPECT_EQ(ErrorCodeText(12002), "The connection has timed out");
  EXPECT_EQ(ErrorCodeText(12028), "The file does not exist.");
  EXPECT_EQ(ErrorCodeText(12029), "Unsuccessful download");
}

TEST(ErrorCodeTextTest, SystemCodesAndUndescribedCodes) {
  if (!testing_support::SystemErrorsAreErrno()) {
    GTEST_SKIP() << "the system's error codes and texts here are not the C library's errno values and texts";
  }
  EXPECT_EQ(ErrorCodeText(ENOENT), "No such file or directory");
  EXPECT_EQ(ErrorCodeText(0xbeef), "Error 0x0000beef");
  EXPECT_EQ(ErrorCodeText(0x8007000e), "Error 0x8007000e");
  platform::SetLastError(EACCES);
  EXPECT_EQ(LastErrorText(), "Permission denied");
}

// Every code the tool names in the last error (the WinINet family's, the
// application's and the platform's, each list as its header makes it) must
// read as a reason, not as a number, and no two may read alike: an own code
// that took a WinINet number would read as that one.
TEST(ErrorCodeTextTest, NamedCodesHaveTheirOwnTexts) {
  std::vector<std::uint32_t> codes(std::begin(kInternetErrorCodes), std::end(kInternetErrorCodes));
  codes.insert(codes.end(), std::begin(kAppLastErrorCodes), std::end(kAppLastErrorCodes));
  codes.insert(codes.end(), std::begin(platform::kOwnLastErrorCodes), std::end(platform::kOwnLastErrorCodes));
  std::set<std::string> texts;
  for (std::uint32_t code : codes) {
    const std::string text = ErrorCodeText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_NE(text.rfind("Error 0x", 0), 0u) << code << ": " << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << code;
    EXPECT_TRUE(texts.insert(text).second) << code << " repeats " << text;
  }
  // The image's faults read the same way, whatever facts they carry.
  for (const ImageFaultCode code : kImageFaultCodes) {
    ImageFault fault;
    fault.code = code;
    const std::string text = ImageFaultText(fault);
    EXPECT_NE(text, "no fault") << code;
    EXPECT_TRUE(texts.insert(text).second) << code << " repeats " << text;
  }
}

TEST(ErrorCodeTextTest, NeighboursOfDownloadCodesStayUndescribed) {
  EXPECT_EQ(ErrorCodeText(12001), "Error 0x00002ee1");
  EXPECT_EQ(ErrorCodeText(12027), "Error 0x00002efb");
  EXPECT_EQ(ErrorCodeText(12031), "Error 0x00002eff");
}
