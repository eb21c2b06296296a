#include "platform/version_info.h"

#include <cerrno>
#include <filesystem>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/resources.h"

namespace platform {

bool LoadFileVersionInfo(const std::string& path, VersionInfo& info) {
  std::string self;
  if (!ExecutablePath(self)) return false;
  std::error_code ec;
  if (!std::filesystem::equivalent(path, self, ec)) {
    SetLastError(ec ? static_cast<std::uint32_t>(ec.value()) : kErrorResourceNotFound);
    return false;
  }
  Resource r = FindResource(kVersionResourceType, kVersionResourceId);
  if (!r || r.size == 0) return false;
  info = VersionInfo(std::string(reinterpret_cast<const char*>(r.data), r.size));
  return true;
}

}  // namespace platform
