#include "platform/resources.h"

#include <memory>
#include <vector>

#include "platform/windows_api.h"

namespace platform {
namespace {

/// The executable's resources whose type is a name and whose identifier is a
/// number (the trust anchors), located and loaded once. Loaded resources
/// stay mapped for the life of the process; there is nothing to free.
class ModuleResources {
 public:
  ModuleResources() {
    EnumResourceTypesW(nullptr, &ModuleResources::OnType, reinterpret_cast<LONG_PTR>(this));
    entries_.reserve(found_.size());
    for (const Found& f : found_) {
      entries_.push_back(ResourceEntry{f.type.c_str(), f.id, f.data, f.size});
    }
    table_ = ResourceTable{entries_.data(), entries_.size()};
  }
  const ResourceTable& table() const { return table_; }

 private:
  struct Found {
    std::string type;
    int id;
    const unsigned char* data;
    std::size_t size;
  };

  static BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR self) {
    if (!IS_INTRESOURCE(type)) EnumResourceNamesW(module, type, &ModuleResources::OnName, self);
    return TRUE;
  }

  static BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR self) {
    if (!IS_INTRESOURCE(name)) return TRUE;
    auto& resources = *reinterpret_cast<ModuleResources*>(self);
    HRSRC located = FindResourceW(module, name, type);
    if (located == nullptr) return TRUE;
    const DWORD size = SizeofResource(module, located);
    HGLOBAL loaded = LoadResource(module, located);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    // A resource without bytes is kept with its size 0; the caller reports it
    // as empty.
    static const unsigned char kNothing = 0;
    resources.found_.push_back(Found{UTF16ToUTF8(type), static_cast<int>(reinterpret_cast<ULONG_PTR>(name)),
                                     data != nullptr ? static_cast<const unsigned char*>(data) : &kNothing,
                                     data != nullptr ? size : 0});
    return TRUE;
  }

  std::vector<Found> found_;
  std::vector<ResourceEntry> entries_;
  ResourceTable table_{nullptr, 0};
};

}  // namespace

const ResourceTable& ProgramResources() {
  static const ModuleResources resources;
  return resources.table();
}

}  // namespace platform
