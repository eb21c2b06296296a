#include "platform/version_info.h"

namespace platform {

VersionInfo::VersionInfo(const std::string& stored) {
  size_t pos = 0;
  while (pos < stored.size()) {
    size_t keyEnd = stored.find('\0', pos);
    if (keyEnd == std::string::npos) break;
    size_t valueEnd = stored.find('\0', keyEnd + 1);
    if (valueEnd == std::string::npos) break;
    values_.emplace_back(stored.substr(pos, keyEnd - pos), stored.substr(keyEnd + 1, valueEnd - keyEnd - 1));
    pos = valueEnd + 1;
  }
}

bool VersionInfo::Query(const std::string& subBlock, std::string& value) const {
  for (const auto& [key, stored] : values_) {
    if (key == subBlock) {
      value = stored;
      return true;
    }
  }
  return false;
}

}  // namespace platform
