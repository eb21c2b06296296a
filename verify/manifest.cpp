#include "verify/manifest.h"

#include <limits>
#include <locale>

#include "verify/stream_reading.h"

namespace verify {

bool is_name_char(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte > 0x7E) return false;
  switch (c) {
    case '"':
    case '*':
    case ':':
    case '<':
    case '>':
    case '?':
    case '|':
      return false;
    default:
      return true;
  }
}

bool is_hex_lower(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

void parse_manifest(std::istream& in, std::vector<file_entry>& entries) {
  in.unsetf(std::ios::skipws);
  // The number is read by the standard extraction, which must not group digits
  // by the user's locale.
  in.imbue(std::locale::classic());

  std::vector<file_entry> fresh;
  while (in.good()) {
    const int next = in.peek();
    if (next == '"') {
      file_entry entry;
      expect_literal(in, "\"");
      read_while(in, is_name_char, entry.name, 0);
      expect_literal(in, "\" ");
      in >> entry.number;
      expect_literal(in, " ");
      read_while(in, is_hex_lower, entry.checksum, 0);
      expect_literal(in, "\n");
      fresh.push_back(std::move(entry));
    } else if (next == '#') {
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    } else {
      break;
    }
  }
  expect_end(in);
  if (!in.fail()) entries = std::move(fresh);
}

}  // namespace verify
