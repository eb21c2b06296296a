#include "platform/error_description.h"

#include <gtest/gtest.h>

#include "platform/error_codes.h"
#include "platform/windows_api.h"

// Codes of the download service are described by its own module, system codes
// by the system, and describing a code leaves the thread's last error alone.
TEST(ErrorDescriptionWin32Test, InternetAndSystemCodesReadAsText) {
  struct Row {
    std::uint32_t code;
    const char* why;
  };
  const Row rows[] = {
      {12002, "time-out, from wininet.dll"},
      {12007, "name not resolved, from wininet.dll"},
      {12029, "cannot connect, from wininet.dll"},
      {ERROR_FILE_NOT_FOUND, "a system code"},
      {ERROR_ACCESS_DENIED, "a system code"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ::SetLastError(ERROR_INVALID_HANDLE);
    std::string text;
    ASSERT_TRUE(platform::SystemErrorDescription(row.code, text)) << row.code;
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  std::string text;
  EXPECT_FALSE(platform::SystemErrorDescription(0x2000beef, text));
  ASSERT_TRUE(platform::SystemErrorDescription(platform::kErrorRunInProgress, text));
  EXPECT_EQ(text, "Another run of the tool is using the working folder");
}
