#include "platform/version_info.h"

#include <cerrno>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/resources.h"

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

bool LoadFileVersionInfo(const std::string& path, VersionInfo& info) {
  std::string self;
  if (!ExecutablePath(self)) return false;
  std::error_code ec;
  if (!std::filesystem::equivalent(path, self, ec)) {
    SetLastError(ec ? static_cast<std::uint32_t>(ec.value()) : kResourceNotFound);
    return false;
  }
  Resource r = FindResource(kVersionResourceType, kVersionResourceId);
  if (!r || r.size == 0) return false;
  info = VersionInfo(std::string(reinterpret_cast<const char*>(r.data), r.size));
  return true;
}

}  // namespace platform
