#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

/// Byte-exact reading operations over an input stream whose whitespace skipping
/// is off. Failures are not reported by return values: an operation that does
/// not find what it expects fails the stream, and every later operation on a
/// failed stream reads nothing, so a caller runs a whole sequence and judges the
/// stream state (or what the buffers collected) once at the end.
namespace verify {

inline constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

using BytePredicate = bool (*)(char);

/// `A`-`Z`, `a`-`z`, `0`-`9`, `+`, `/`.
bool is_base64_char(char c);
/// `=` only.
bool is_pad_char(char c);

/// Collects into `out` (cleared first) the bytes that satisfy `predicate`; the
/// first other byte stays unread. Fails the stream when fewer than `min` bytes
/// were collected, or when a byte beyond `max` would also have qualified (the
/// first `max` bytes are kept in `out`).
void read_while(std::istream& in, BytePredicate predicate, std::string& out, std::size_t min,
                std::size_t max = kUnbounded);

/// Consumes `text` exactly; fails the stream at the first byte that differs.
void expect_literal(std::istream& in, std::string_view text);

/// Requires the input to be exhausted: sets the end state, or fails the stream
/// when any byte is left.
void expect_end(std::istream& in);

/// Reads whole lines (ended by the delimiter's last byte) until the bytes read
/// end with `delimiter`, and sets `out` to them without the delimiter. An empty
/// line or the end of the input before the delimiter fails the stream and
/// leaves `out` unchanged.
void read_until(std::istream& in, std::string& out, std::string_view delimiter);

/// Appends the base64 lines of one block to `out`, each with its line feed, and
/// a padding of one or two `=` (at the end of the last line or on a line of its
/// own). Lines are 1 to 79 characters. A line carrying or followed by padding is
/// not counted, and a block of no counted line fails the stream.
void read_base64_block(std::istream& in, std::string& out, std::size_t lineLimit = kUnbounded);

}  // namespace verify
