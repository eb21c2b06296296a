#include "platform/file_names.h"

#include <gtest/gtest.h>

#include <string>

// Names that Windows would turn into a device or into another name: a tar
// entry under one of them must never become a file of another name.
TEST(FileNamesWin32Test, DevicesTrailingDotsAndCase) {
  struct Row {
    const char* name;
    bool holds;
  } rows[] = {
      {"con", false},       {"CON", false},      {"Con.txt", false},  {"nul .log", false},
      {"com1", false},      {"LPT9.x", false},   {"com\xC2\xB9", false},  // superscript one
      {"conin$", false},    {"name.", false},    {"name ", false},    {"a:b", false},
      {"a\x7F\xFF", false},  // no UTF-8
      {"console", true},  {"com10", true},  {"lpt", true},  {"a.b", true},  {"r\xC3\xA9sum\xC3\xA9", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(platform::HoldsFileName(row.name), row.holds) << row.name;
  }
  EXPECT_EQ(platform::FileNameKey("Boot.CAT"), platform::FileNameKey("boot.cat"));
  EXPECT_EQ(platform::FileNameKey("\xC3\x84rger"), platform::FileNameKey("\xC3\xA4RGER"));  // Ä, ä
  EXPECT_NE(platform::FileNameKey("a"), platform::FileNameKey("b"));
}
