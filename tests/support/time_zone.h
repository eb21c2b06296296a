#pragma once

#include <string>

namespace testing_support {

/// Sets the TZ variable that the C library's local time follows, for the life
/// of the object, and puts back what was there before.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool hadOld_ = false;
  std::string old_;
};

}  // namespace testing_support
