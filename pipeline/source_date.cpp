#include "pipeline/source_date.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <new>

#include "platform/environment.h"
#include "platform/tree_times.h"

namespace {

constexpr const char* kVariable = "SOURCE_DATE_EPOCH";

/// Decimal digits only: no sign, blank, point or base prefix, which
/// from_chars alone would partly take.
bool ParseSeconds(const std::string& text, std::int64_t& seconds) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const std::from_chars_result result = std::from_chars(text.data(), text.data() + text.size(), seconds);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && seconds <= kLatestSourceDate;
}

}  // namespace

bool ReadSourceDate(std::optional<SourceDate>& date, std::string& value) {
  date.reset();
  if (!platform::GetEnvironment(kVariable, value)) return true;
  SourceDate read;
  if (!ParseSeconds(value, read.epoch)) return false;
  const std::string canonical = std::to_string(read.epoch);
  if (canonical != value && !platform::SetEnvironment(kVariable, canonical)) throw std::bad_alloc();
  read.runStart = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count();
  date = read;
  return true;
}

bool SetTreeTimesToSourceDate(const std::string& folder, const SourceDate& date) {
  // A second's margin before the start: file systems stamp from a coarser
  // clock that may lag behind the one read at the start.
  const std::int64_t after = std::min(date.epoch, date.runStart - 1);
  return platform::SetLaterTreeTimes(folder, after, date.epoch);
}
