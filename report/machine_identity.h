// Who is reporting: the machine's hardware-address identities and fresh run
// ids.
#ifndef ZEL_REPORT_MACHINE_IDENTITY_H_
#define ZEL_REPORT_MACHINE_IDENTITY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// "%02x-%02x-%02x-%02x-%02x-%02x" of a six-byte hardware address; empty for
// an address that is not six bytes long or is all zero, which identifies no
// machine.
std::string FormatAdapterAddress(const std::vector<std::uint8_t>& address);

// True when the upper-cased |address_text| holds one of the known
// virtual-machine vendor prefixes anywhere in it.
bool IsVirtualMachineAddress(const std::string& address_text);

// The addresses of the first three adapters that are not virtual-machine
// adapters, sorted ascending; empty when the adapters cannot be read.
std::vector<std::string> ListAdapterAddresses();

// The addresses of the physical adapters joined by ":", sorted; failing
// that the non-virtual ones, failing that the first three of any kind.
std::string GetMachineIdentity();

// 32 upper-case hex digits of a fresh random GUID.
std::string NewRunGuid();

// Standard Base64 with "=" padding.
std::string Base64Encode(const void* bytes, std::size_t length);

}  // namespace zel

#endif  // ZEL_REPORT_MACHINE_IDENTITY_H_
