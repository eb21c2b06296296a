#include "platform/resources.h"

#include "platform/error_codes.h"
#include "platform/last_error.h"

namespace platform {

Resource FindResourceIn(const ResourceTable& table, const std::string& type, int id) {
  for (std::size_t i = 0; i < table.count; ++i) {
    const ResourceEntry& e = table.entries[i];
    if (e.id == id && type == e.type) return Resource{e.data, e.size};
  }
  SetLastError(kErrorResourceNotFound);
  return Resource{};
}

Resource FindResource(const std::string& type, int id) { return FindResourceIn(ProgramResources(), type, id); }

}  // namespace platform
