#pragma once

#include <string>
#include <utility>
#include <vector>

/// A file's version resource: text values addressed by sub-block paths such as
/// "\StringFileInfo\000904b0\FileVersion".
namespace platform {

class VersionInfo {
 public:
  VersionInfo() = default;
  /// Parses the stored form: NUL-terminated sub-block path and value, repeated.
  explicit VersionInfo(const std::string& stored);

  /// The value stored under `subBlock`, compared exactly. False when absent.
  bool Query(const std::string& subBlock, std::string& value) const;

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

/// Type and identifier under which the program's version table is embedded.
inline constexpr const char* kVersionResourceType = "VERSION";
inline constexpr int kVersionResourceId = 1;

/// Reads the version resource of `path`. Only the running executable carries one
/// here; any other file fails with the last error set.
bool LoadFileVersionInfo(const std::string& path, VersionInfo& info);

}  // namespace platform
