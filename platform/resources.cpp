#include "platform/resources.h"

#include <mutex>
#include <vector>

namespace zel::platform {
namespace {

struct Table {
  std::mutex lock;
  std::vector<ResourceEntry> entries;
};

Table& GetTable() {
  static Table table;  // Constructed on first use: registration runs before main().
  return table;
}

bool SameType(std::string_view a, const char* b) {
  std::string_view bv(b);
  if (a.size() != bv.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = bv[i];
    if (x >= 'a' && x <= 'z')
      x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z')
      y = static_cast<char>(y - 'a' + 'A');
    if (x != y)
      return false;
  }
  return true;
}

}  // namespace

bool RegisterResources(const ResourceEntry* entries, std::size_t count) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> hold(t.lock);
  t.entries.insert(t.entries.end(), entries, entries + count);
  return true;
}

std::span<const std::uint8_t> FindResource(int id, std::string_view type) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> hold(t.lock);
  for (const ResourceEntry& e : t.entries) {
    if (e.id == id && SameType(type, e.type))
      return {e.data, e.size};
  }
  return {};
}

}  // namespace zel::platform
