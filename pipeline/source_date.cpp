#include "pipeline/source_date.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

std::optional<std::int64_t> SourceDateEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr) return std::nullopt;
  const char* end = text + std::strlen(text);
  std::int64_t seconds = 0;
  // Digits only: from_chars alone would also take a sign.
  if (text == end || *text < '0' || *text > '9') return std::nullopt;
  const std::from_chars_result result = std::from_chars(text, end, seconds);
  if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return seconds;
}
