#include "tests/support/time_zone.h"

#include <cstdlib>
#include <ctime>

// The C runtime reads TZ through its own copy of the environment, which only
// _putenv_s changes; an empty value removes the variable.
namespace testing_support {

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  if (const char* old = std::getenv("TZ")) {
    hadOld_ = true;
    old_ = old;
  }
  _putenv_s("TZ", zone);
  _tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  _putenv_s("TZ", hadOld_ ? old_.c_str() : "");
  _tzset();
}

}  // namespace testing_support
