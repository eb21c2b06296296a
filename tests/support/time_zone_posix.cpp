#include "tests/support/time_zone.h"

#include <cstdlib>
#include <ctime>

namespace testing_support {

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  if (const char* old = std::getenv("TZ")) {
    hadOld_ = true;
    old_ = old;
  }
  setenv("TZ", zone, 1);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (hadOld_)
    setenv("TZ", old_.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace testing_support
