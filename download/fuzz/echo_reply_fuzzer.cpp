// libFuzzer target: ParseEchoReply with arbitrary packets, the way a raw
// socket may hand them over (short, with any header length, anyone's).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "download/icmp_pinger.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4)
    return 0;
  // The first four bytes choose the identifier and sequence looked for.
  std::uint16_t identifier = static_cast<std::uint16_t>(data[0] | data[1] << 8);
  std::uint16_t sequence = static_cast<std::uint16_t>(data[2] | data[3] << 8);
  // An exact-size heap copy: any read past the packet is caught.
  std::vector<std::uint8_t> packet(data + 4, data + size);
  zel::EchoReply reply;
  if (zel::ParseEchoReply(packet.empty() ? nullptr : packet.data(), packet.size(), identifier,
                          sequence, 1000, &reply)) {
    const std::size_t header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (header < 20 || packet.size() < header + 12 || reply.sequence != sequence ||
        reply.data_bytes != packet.size() - header - 12) {
      __builtin_trap();
    }
  }
  return 0;
}
