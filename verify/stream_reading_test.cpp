#include "verify/stream_reading.h"

#include <gtest/gtest.h>

#include <sstream>

#include "verify/test_helpers.h"

namespace {

using verify_testing::StateOf;

std::istringstream Input(const std::string& bytes) {
  std::istringstream in(bytes);
  in.unsetf(std::ios::skipws);
  return in;
}

/// Whatever the operation left unread.
std::string Rest(std::istringstream& in) {
  in.clear();
  std::string rest;
  char c;
  while (in.get(c)) rest.push_back(c);
  return rest;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct ReadWhileCase {
  const char* why;
  std::string input;
  std::size_t min, max;
  std::string out, state, rest;
};

TEST(StreamReadingTest, ReadWhileCollectsWithinItsBounds) {
  const std::size_t U = verify::kUnbounded;
  const ReadWhileCase cases[] = {
      {"stops before the first other byte", "123x", 0, U, "123", "good", "x"},
      {"nothing qualifying is fine without a minimum", "x12", 0, U, "", "good", "x12"},
      {"too few bytes fail the stream", "1x", 2, U, "1", "fail", "x"},
      {"exactly the minimum", "12x", 2, U, "12", "good", "x"},
      {"exactly the maximum", "12x", 0, 2, "12", "good", "x"},
      {"one more than the maximum fails but keeps the first max bytes", "123x", 0, 2, "12", "fail", "3x"},
      {"running into the end leaves the stream at its end and failed", "123", 0, U, "123", "eof+fail", ""},
      {"the maximum reached exactly at the end", "12", 0, 2, "12", "eof+fail", ""},
      {"empty input", "", 0, U, "", "eof+fail", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    auto in = Input(c.input);
    std::string out = "previous";
    verify::read_while(in, IsDigit, out, c.min, c.max);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(StateOf(in), c.state);
    EXPECT_EQ(Rest(in), c.rest);
  }
}

TEST(StreamReadingTest, ReadWhileOnAFailedStreamReadsNothing) {
  auto in = Input("123");
  in.setstate(std::ios::failbit);
  std::string out = "previous";
  verify::read_while(in, IsDigit, out, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Rest(in), "123");
}

struct LiteralCase {
  const char* why;
  std::string input, literal, state, rest;
};

TEST(StreamReadingTest, ExpectLiteralConsumesExactlyTheText) {
  const LiteralCase cases[] = {
      {"matching text", "abcd", "abc", "good", "d"},
      {"the first differing byte is consumed and fails", "abxd", "abc", "fail", "d"},
      {"input shorter than the text", "ab", "abc", "eof+fail", ""},
      {"case matters", "ABC", "abc", "fail", "BC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    auto in = Input(c.input);
    verify::expect_literal(in, c.literal);
    EXPECT_EQ(StateOf(in), c.state);
    EXPECT_EQ(Rest(in), c.rest);
  }
}

TEST(StreamReadingTest, ExpectEndRequiresExhaustedInput) {
  auto empty = Input("");
  verify::expect_end(empty);
  EXPECT_EQ(StateOf(empty), "eof");

  auto left = Input("x");
  verify::expect_end(left);
  EXPECT_EQ(StateOf(left), "fail");

  // Once the end state is set, expect_end looks no further.
  auto atEnd = Input("");
  atEnd.peek();
  verify::expect_end(atEnd);
  EXPECT_EQ(StateOf(atEnd), "eof");
}

struct UntilCase {
  const char* why;
  std::string input, out, state, rest;
};

TEST(StreamReadingTest, ReadUntilStopsAtTheFirstDelimiterOfWholeLines) {
  const std::string D = "\n--END--\n";
  const UntilCase cases[] = {
      {"one line", "a\n--END--\nrest", "a", "good", "rest"},
      {"several lines", "a\nbb\nccc\n--END--\n", "a\nbb\nccc", "good", ""},
      {"the first delimiter wins", "a\n--END--\nb\n--END--\n", "a", "good", "b\n--END--\n"},
      {"an empty first line fails", "\n--END--\n", "unchanged", "fail", "--END--\n"},
      {"an empty line inside fails", "a\n\nb\n--END--\n", "unchanged", "fail", "b\n--END--\n"},
      {"no delimiter at all", "a\nb\n", "unchanged", "eof+fail", ""},
      {"a last line without line feed", "a\n--END--", "unchanged", "eof+fail", ""},
      {"carriage returns hide the delimiter", "a\r\n--END--\r\n", "unchanged", "eof+fail", ""},
      {"the marker must be a whole line", "a\nx--END--\n", "unchanged", "eof+fail", ""},
      {"lines may hold any other byte", std::string("a\0\r\xff\n--END--\n", 13), std::string("a\0\r\xff", 4), "good",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    auto in = Input(c.input);
    std::string out = "unchanged";
    verify::read_until(in, out, D);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(StateOf(in), c.state);
    EXPECT_EQ(Rest(in), c.rest);
  }
}

struct Base64Case {
  const char* why;
  std::string input, out, state, rest;
};

TEST(StreamReadingTest, ReadBase64BlockFollowsTheLineAndPaddingRules) {
  const std::string L79(79, 'A');
  const std::string L80(80, 'A');
  const Base64Case cases[] = {
      {"one line then the end marker", "QUJD\n-END", "QUJD\n", "good", "-END"},
      {"several lines, the last one padded", "QUJD\nQUJD\nQQ==\n-", "QUJD\nQUJD\nQQ==\n", "good", "-"},
      {"padding on a line of its own after two lines", "QUJD\nQQ\n==\n-", "QUJD\nQQ\n==\n", "good", "-"},
      {"single '=' padding", "QUJD\nQUI=\n-", "QUJD\nQUI=\n", "good", "-"},
      {"a padded only line is not counted", "QUI=\n-", "QUI=\n", "fail", "-"},
      {"padding on its own line after a single line is not counted", "QQ\n==\n-", "QQ\n==\n", "fail", "-"},
      {"three '=' keep two and fail", "QUJD\nQ===\n-", "QUJD\nQ==\n", "fail", "=\n-"},
      {"padding must be followed by a line feed", "QUJD\nQQ==-", "QUJD\nQQ==\n", "fail", ""},
      {"a 79-character line", L79 + "\n-", L79 + "\n", "good", "-"},
      {"an 80-character line fails after 79", L80 + "\n-", L79, "fail", "A\n-"},
      {"a foreign byte inside a line", "QU*D\n-", "QU", "fail", "*D\n-"},
      {"an empty block", "-END", "", "fail", "-END"},
      {"an empty line ends the block before anything", "\nQUJD\n", "", "fail", "\nQUJD\n"},
      {"the input ends inside a line", "QUJD", "QUJD", "eof+fail", ""},
      {"the input ends after a line", "QUJD\n", "QUJD\n", "eof+fail", ""},
      {"a carriage return ends the line badly", "QUJD\r\n-", "QUJD", "fail", "\r\n-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    auto in = Input(c.input);
    std::string out;
    verify::read_base64_block(in, out);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(StateOf(in), c.state);
    EXPECT_EQ(Rest(in), c.rest);
  }
}

TEST(StreamReadingTest, ReadBase64BlockAppendsAndHonoursALineLimit) {
  auto in = Input("QUJD\nREVG\nR0hJ\n-");
  std::string out = "kept:";
  verify::read_base64_block(in, out, 2);
  EXPECT_EQ(out, "kept:QUJD\nREVG\n");
  EXPECT_EQ(StateOf(in), "good");
  EXPECT_EQ(Rest(in), "R0hJ\n-");
}

TEST(StreamReadingTest, Base64CharacterClasses) {
  for (char c : std::string("AZaz09+/")) EXPECT_TRUE(verify::is_base64_char(c)) << c;
  for (char c : std::string("=-_ \n\r.@[`{")) EXPECT_FALSE(verify::is_base64_char(c)) << c;
  EXPECT_FALSE(verify::is_base64_char('\xC1'));
  EXPECT_TRUE(verify::is_pad_char('='));
  EXPECT_FALSE(verify::is_pad_char('A'));
}

}  // namespace
