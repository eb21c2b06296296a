#include "verify/stream_reading.h"

namespace verify {
namespace {

constexpr std::size_t kMaxBase64Line = 79;
constexpr std::size_t kMinPadding = 1;
constexpr std::size_t kMaxPadding = 2;

}  // namespace

bool is_base64_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

bool is_pad_char(char c) { return c == '='; }

void read_while(std::istream& in, BytePredicate predicate, std::string& out, std::size_t min, std::size_t max) {
  out.clear();
  std::size_t count = 0;
  bool overMax = false;
  char c = 0;
  for (;;) {
    in.get(c);
    if (!in.good() || !predicate(c)) break;
    if (count == max) {
      overMax = true;
      break;
    }
    out.push_back(c);
    ++count;
  }
  if (in.good()) in.unget();
  if (count < min || overMax) in.setstate(std::ios::failbit);
}

void expect_literal(std::istream& in, std::string_view text) {
  for (char expected : text) {
    char c = 0;
    in.get(c);
    if (in.good() && c != expected) {
      in.setstate(std::ios::failbit);
      return;
    }
  }
}

void expect_end(std::istream& in) {
  if (in.eof()) return;
  if (in.peek() == std::istream::traits_type::eof()) {
    in.setstate(std::ios::eofbit);
  } else {
    in.setstate(std::ios::failbit);
  }
}

void read_until(std::istream& in, std::string& out, std::string_view delimiter) {
  if (delimiter.empty()) {
    in.setstate(std::ios::failbit);
    return;
  }
  const char lineEnd = delimiter.back();
  std::string accumulated;
  std::string line;
  for (;;) {
    // A line that the input ends in the middle of counts as missing, and so does
    // an empty one: the body may hold neither.
    if (!std::getline(in, line, lineEnd) || in.eof() || line.empty()) {
      in.setstate(std::ios::failbit);
      return;
    }
    accumulated += line;
    accumulated.push_back(lineEnd);
    if (accumulated.size() >= delimiter.size() &&
        std::string_view(accumulated).substr(accumulated.size() - delimiter.size()) == delimiter) {
      accumulated.resize(accumulated.size() - delimiter.size());
      out = std::move(accumulated);
      return;
    }
  }
}

void read_base64_block(std::istream& in, std::string& out, std::size_t lineLimit) {
  std::size_t lines = 0;
  std::string line;
  for (;;) {
    read_while(in, is_base64_char, line, 0, kMaxBase64Line);
    if (line.empty()) break;
    out += line;

    int next = in.peek();
    if (next == '\n') {
      out.push_back('\n');
      in.get();
    } else if (next != '=') {
      in.setstate(std::ios::failbit);
      break;
    }

    if (in.peek() == '=') {
      std::string padding;
      read_while(in, is_pad_char, padding, kMinPadding, kMaxPadding);
      char c = 0;
      if (!in.get(c) || c != '\n') in.setstate(std::ios::failbit);
      out += padding;
      out.push_back('\n');
      break;
    }

    // Only a line followed by another base64 line or by the end of the block
    // counts; the one that carries the padding does not.
    ++lines;
    if (lines == lineLimit) break;
  }
  if (lines == 0) in.setstate(std::ios::failbit);
}

}  // namespace verify
