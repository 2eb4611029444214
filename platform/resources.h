// The program's own resources: files compiled into the executable by
// zel_embed_resources() and found by numeric id and type name.
#ifndef ZEL_PLATFORM_RESOURCES_H_
#define ZEL_PLATFORM_RESOURCES_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zel::platform {

struct ResourceEntry {
  int id;
  const char* type;  // "XML", "TXT", "BITMAP", ...
  const unsigned char* data;
  std::size_t size;
};

// Called by the generated tables before main(); returns true so it can
// initialise a static.
bool RegisterResources(const ResourceEntry* entries, std::size_t count);

// The bytes of resource (id, type); empty when there is none. Type names
// compare case-insensitively, as resource types do.
std::span<const std::uint8_t> FindResource(int id, std::string_view type);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_RESOURCES_H_
