#include "verify/manifest.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "verify/test_helpers.h"

namespace {

using verify_testing::StateOf;

struct Expected {
  std::string name;
  std::uint32_t number;
  std::string checksum;
};

struct ParseCase {
  const char* why;
  std::string body;
  bool parses;
  std::vector<Expected> entries;
};

const std::string kSum = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

TEST(ParseManifestTest, AcceptsExactlyTheLineGrammar) {
  const ParseCase cases[] = {
      {"one entry", "\".\\a.tar\" 12 " + kSum + "\n", true, {{".\\a.tar", 12, kSum}}},
      {"entries keep their order and duplicates",
       "\"b\" 1 aa\n\"a\" 2 bb\n\"b\" 3 cc\n",
       true,
       {{"b", 1, "aa"}, {"a", 2, "bb"}, {"b", 3, "cc"}}},
      {"only comments", "# one\n#\n# two\n", true, {}},
      {"comments between entries", "# head\n\"a\" 1 aa\n# mid\n\"b\" 2 bb\n", true, {{"a", 1, "aa"}, {"b", 2, "bb"}}},
      {"a comment may run to the end without a line feed", "\"a\" 1 aa\n# tail", true, {{"a", 1, "aa"}}},
      {"an empty body", "", true, {}},
      {"an empty name", "\"\" 7 ab\n", true, {{"", 7, "ab"}}},
      {"an empty checksum", "\"a\" 7 \n", true, {{"a", 7, ""}}},
      {"spaces, dots and both slashes belong to names",
       "\" .\\sub dir/f.x \" 1 ab\n",
       true,
       {{" .\\sub dir/f.x ", 1, "ab"}}},
      {"the largest number", "\"a\" 4294967295 ab\n", true, {{"a", 4294967295u, "ab"}}},
      {"leading zeros", "\"a\" 007 ab\n", true, {{"a", 7, "ab"}}},
      // The number is read by the standard extraction, which also takes a sign.
      {"a plus sign", "\"a\" +5 ab\n", true, {{"a", 5, "ab"}}},
      {"a checksum of any length", "\"a\" 1 " + kSum + kSum + "\n", true, {{"a", 1, kSum + kSum}}},

      {"a number above 32 bits", "\"a\" 4294967296 ab\n", false, {}},
      {"no number", "\"a\" ab\n", false, {}},
      {"two spaces before the number", "\"a\"  1 ab\n", false, {}},
      {"two spaces before the checksum", "\"a\" 1  ab\n", false, {}},
      {"a tab instead of a space", "\"a\"\t1 ab\n", false, {}},
      {"a carriage return before the line feed", "\"a\" 1 ab\r\n", false, {}},
      {"an upper-case hexadecimal digit", "\"a\" 1 aB\n", false, {}},
      {"a trailing space", "\"a\" 1 ab \n", false, {}},
      {"a missing closing quote", "\"a 1 ab\n", false, {}},
      {"no line feed after the last entry", "\"a\" 1 ab", false, {}},
      {"a blank line", "\"a\" 1 ab\n\n", false, {}},
      {"a leading space", " \"a\" 1 ab\n", false, {}},
      {"a line starting with another byte", "\"a\" 1 ab\nx\n", false, {}},
      {"a hexadecimal number", "\"a\" 0x1 ab\n", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    std::istringstream in(c.body);
    std::vector<file_entry> entries{{"previous", 9, "ff"}};
    verify::parse_manifest(in, entries);
    EXPECT_EQ(!in.fail(), c.parses) << StateOf(in);
    if (!c.parses) {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].name, "previous");
      continue;
    }
    ASSERT_EQ(entries.size(), c.entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].name, c.entries[i].name);
      EXPECT_EQ(entries[i].number, c.entries[i].number);
      EXPECT_EQ(entries[i].checksum, c.entries[i].checksum);
    }
  }
}

TEST(ParseManifestTest, RefusesEveryForbiddenNameByte) {
  for (char bad : std::string(":*?<>|\t\x01\x1f\x7f\x80\xff", 12)) {
    SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(bad)));
    std::istringstream in(std::string("\"a") + bad + "b\" 1 ab\n");
    std::vector<file_entry> entries;
    verify::parse_manifest(in, entries);
    EXPECT_TRUE(in.fail());
  }
}

TEST(ParseManifestTest, CharacterClassBoundaries) {
  EXPECT_FALSE(verify::is_name_char('\x1f'));
  EXPECT_TRUE(verify::is_name_char(' '));
  EXPECT_TRUE(verify::is_name_char('~'));
  EXPECT_FALSE(verify::is_name_char('\x7f'));
  EXPECT_FALSE(verify::is_name_char('\x80'));
  EXPECT_FALSE(verify::is_name_char('"'));
  for (char c : std::string("\\/.,;'!#$%&()+=@[]^_`{}-")) EXPECT_TRUE(verify::is_name_char(c)) << c;

  for (char c : std::string("0123456789abcdef")) EXPECT_TRUE(verify::is_hex_lower(c)) << c;
  for (char c : std::string("ABCDEFg/:`G ")) EXPECT_FALSE(verify::is_hex_lower(c)) << c;
}

}  // namespace
