#include "platform/adapters.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "platform/paths.h"
#include "platform/text.h"

namespace zel::platform {
namespace {

namespace fs = std::filesystem;

constexpr int kArphrdLoopback = 772;

std::mutex g_lock;
std::optional<FakeAdapters> g_fake;

std::optional<FakeAdapters> Fake() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_fake;
}

fs::path NetRoot() {
  std::optional<std::string> root = GetEnv("ZEL_SYSFS_NET_ROOT");
  if (root && !root->empty())
    return fs::path(*root);
  return fs::path("/sys/class/net");
}

std::optional<std::string> ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line))
    return std::nullopt;
  return line;
}

std::optional<long> ReadNumber(const fs::path& file) {
  std::optional<std::string> line = ReadLine(file);
  if (!line || line->empty())
    return std::nullopt;
  char* end = nullptr;
  long value = std::strtol(line->c_str(), &end, 10);
  if (end == line->c_str())
    return std::nullopt;
  return value;
}

// "aa:bb:cc:dd:ee:ff" (any number of pairs); anything malformed gives no
// address rather than a wrong one.
std::vector<std::uint8_t> ParseAddress(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  if (text.empty())
    return bytes;
  for (std::size_t i = 0;;) {
    if (i + 2 > text.size())
      return {};
    int hi = HexDigitValue(text[i]);
    int lo = HexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0)
      return {};
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    i += 2;
    if (i == text.size())
      return bytes;
    if (text[i] != ':')
      return {};
    ++i;
  }
}

struct Entry {
  long index;
  AdapterRecord record;
};

}  // namespace

std::optional<std::vector<AdapterRecord>> ListAdapters() {
  if (std::optional<FakeAdapters> fake = Fake()) {
    if (fake->list_fails)
      return std::nullopt;
    return fake->adapters;
  }
  std::error_code ec;
  fs::directory_iterator it(NetRoot(), ec);
  if (ec)
    return std::nullopt;
  std::vector<Entry> entries;
  for (const fs::directory_entry& dir : it) {
    const fs::path path = dir.path();
    std::optional<long> type = ReadNumber(path / "type");
    if (type && *type == kArphrdLoopback)
      continue;
    std::optional<long> index = ReadNumber(path / "ifindex");
    Entry entry;
    entry.index = index ? *index : 0x7fffffff;
    entry.record.name = path.filename().string();
    if (std::optional<std::string> address = ReadLine(path / "address")) {
      entry.record.hardware_address = ParseAddress(*address);
    }
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.index != b.index ? a.index < b.index : a.record.name < b.record.name;
  });
  std::vector<AdapterRecord> out;
  out.reserve(entries.size());
  for (Entry& entry : entries)
    out.push_back(std::move(entry.record));
  return out;
}

bool IsPhysicalAdapter(const std::string& name) {
  if (std::optional<FakeAdapters> fake = Fake()) {
    return std::find(fake->physical.begin(), fake->physical.end(), name) != fake->physical.end();
  }
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    return false;
  }
  std::error_code ec;
  fs::path device = fs::canonical(NetRoot() / name / "device", ec);
  if (ec)
    return false;
  // Bus devices live under devices/pciDDDD:BB/...; virtual ones under
  // devices/virtual, platform ones elsewhere.
  for (const fs::path& part : device) {
    if (part.string().rfind("pci", 0) == 0)
      return true;
  }
  return false;
}

void SetFakeAdapters(const FakeAdapters& fake) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_fake = fake;
}

void ResetFakeAdapters() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_fake.reset();
}

}  // namespace zel::platform
