#include "platform/environment.h"

#include <cstdlib>

namespace platform {

bool GetEnvironment(const std::string& name, std::string& value) {
  const char* text = std::getenv(name.c_str());
  if (text == nullptr) return false;
  value = text;
  return true;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace platform
