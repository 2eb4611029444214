#include "report/machine_identity.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <optional>
#include <random>

#include "platform/adapters.h"
#include "platform/text.h"
#include "shell/log.h"

namespace zel {
namespace {

constexpr std::size_t kUserListAdapters = 3;

// Vendor prefixes of virtual-machine network adapters, compared against
// upper-cased address texts.
const std::array<std::string, 9>& VirtualMachinePrefixes() {
  static const std::array<std::string, 9> kPrefixes = {"00-05-69", "00-0C-29", "00-50-56",
                                                       "00-1C-14", "00-1C-42", "00-03-FF",
                                                       "00-0F-4B", "00-16-3E", "08-00-27"};
  return kPrefixes;
}

struct Adapter {
  std::string name;
  std::string address;  // formatted, never empty
};

// The system's adapters that carry a usable address, in system order.
// Adapters without one cannot identify the machine and are left out before
// anything counts them.
std::optional<std::vector<Adapter>> ReadAdapters() {
  std::optional<std::vector<platform::AdapterRecord>> records = platform::ListAdapters();
  if (!records)
    return std::nullopt;
  std::vector<Adapter> adapters;
  for (const platform::AdapterRecord& record : *records) {
    std::string text = FormatAdapterAddress(record.hardware_address);
    if (text.empty()) {
      WriteLog("Adapter %s skipped: no usable hardware address (%zu bytes).", record.name.c_str(),
               record.hardware_address.size());
      continue;
    }
    adapters.push_back({record.name, text});
  }
  return adapters;
}

void AppendJoined(std::string* list, const std::string& item) {
  if (!list->empty())
    *list += ":";
  *list += item;
}

std::string Normalise(const std::string& joined) {
  std::vector<std::string> pieces = platform::SplitNonEmpty(joined, ':');
  if (pieces.size() <= 1)
    return pieces.empty() ? std::string() : pieces.front();
  std::sort(pieces.begin(), pieces.end());
  std::string out;
  for (const std::string& piece : pieces)
    AppendJoined(&out, piece);
  return out;
}

}  // namespace

std::string FormatAdapterAddress(const std::vector<std::uint8_t>& address) {
  if (address.size() != 6)
    return std::string();
  if (std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; })) {
    return std::string();
  }
  char text[18];
  std::snprintf(text, sizeof(text), "%02x-%02x-%02x-%02x-%02x-%02x", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

bool IsVirtualMachineAddress(const std::string& address_text) {
  std::string upper = address_text;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& prefix : VirtualMachinePrefixes()) {
    if (upper.find(prefix) != std::string::npos)
      return true;
  }
  return false;
}

std::vector<std::string> ListAdapterAddresses() {
  std::optional<std::vector<Adapter>> adapters = ReadAdapters();
  std::vector<std::string> out;
  if (!adapters)
    return out;
  for (std::size_t i = 0; i < adapters->size() && i < kUserListAdapters; ++i) {
    const std::string& address = (*adapters)[i].address;
    if (!IsVirtualMachineAddress(address))
      out.push_back(address);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string GetMachineIdentity() {
  std::optional<std::vector<Adapter>> adapters = ReadAdapters();
  if (!adapters) {
    WriteLog("failed to call GetAdaptersInfo\n");
    return std::string();
  }
  std::string non_virtual;
  std::string physical;
  for (std::size_t i = 0; i < adapters->size(); ++i) {
    const Adapter& adapter = (*adapters)[i];
    if (i < kUserListAdapters && !IsVirtualMachineAddress(adapter.address)) {
      AppendJoined(&non_virtual, adapter.address);
    }
    if (platform::IsPhysicalAdapter(adapter.name))
      AppendJoined(&physical, adapter.address);
  }
  std::string chosen = !physical.empty() ? physical : non_virtual;
  if (chosen.empty()) {
    std::optional<std::vector<Adapter>> again = ReadAdapters();
    if (!again) {
      WriteLog("failed to call GetAdaptersInfo\n");
    } else {
      for (std::size_t i = 0; i < again->size() && i < kUserListAdapters; ++i) {
        AppendJoined(&chosen, (*again)[i].address);
      }
    }
  }
  return Normalise(chosen);
}

std::string NewRunGuid() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof(bytes)) != 1) {
    std::random_device device;
    for (unsigned char& b : bytes)
      b = static_cast<unsigned char>(device());
  }
  // A version-4 GUID, as the system's generator makes.
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  char text[33];
  for (int i = 0; i < 16; ++i)
    std::snprintf(text + 2 * i, 3, "%02X", bytes[i]);
  return std::string(text, 32);
}

std::string Base64Encode(const void* bytes, std::size_t length) {
  // EVP_EncodeBlock counts in int.
  if (length == 0 || length > 0x3fffffffu)
    return std::string();
  std::string out(4 * ((length + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          static_cast<const unsigned char*>(bytes), static_cast<int>(length));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

}  // namespace zel
