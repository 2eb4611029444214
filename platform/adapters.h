// The machine's network adapters as GetAdaptersInfo lists them: system order,
// hardware address and adapter identifier, and whether an adapter sits on a
// physical bus.
//
// On POSIX the list comes from the kernel's network class folder
// (/sys/class/net, or $ZEL_SYSFS_NET_ROOT when set): every interface except
// loopback, ordered by interface index; the identifier is the interface name.
// An interface counts as physical when its "device" link resolves to a bus
// device on the PCI bus.
#ifndef ZEL_PLATFORM_ADAPTERS_H_
#define ZEL_PLATFORM_ADAPTERS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zel::platform {

struct AdapterRecord {
  std::string name;                            // adapter identifier
  std::vector<std::uint8_t> hardware_address;  // as reported; may be short or empty
};

// Nothing when the system's list cannot be read at all; an empty list when
// the machine has no adapter.
std::optional<std::vector<AdapterRecord>> ListAdapters();

// True when the adapter named |name| is a physical one.
bool IsPhysicalAdapter(const std::string& name);

// Test hook: a fixed set of adapters in place of the system's.
struct FakeAdapters {
  bool list_fails = false;
  std::vector<AdapterRecord> adapters;
  std::vector<std::string> physical;  // names that count as physical
};
void SetFakeAdapters(const FakeAdapters& fake);
void ResetFakeAdapters();

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_ADAPTERS_H_
