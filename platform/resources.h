#pragma once

#include <cstddef>
#include <string>

/// Data embedded in the executable at build time, found by a type name and an
/// integer identifier (the trust material, the version table).
namespace platform {

struct ResourceEntry {
  const char* type;
  int id;
  const unsigned char* data;
  std::size_t size;
};

struct ResourceTable {
  const ResourceEntry* entries;
  std::size_t count;
};

/// The program's own resources; defined by the generated resource library that
/// the program links.
const ResourceTable& ProgramResources();

/// A located resource; empty (data null) when not found.
struct Resource {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  explicit operator bool() const { return data != nullptr; }
};

/// Looks a resource up in the program's table. Not found leaves
/// kErrorResourceNotFound (platform/error_codes.h) in the last error.
Resource FindResource(const std::string& type, int id);
Resource FindResourceIn(const ResourceTable& table, const std::string& type, int id);

}  // namespace platform
