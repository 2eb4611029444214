// One ICMP echo to a mirror's host, timed in milliseconds: how mirrors are
// ranked before a download.
#ifndef ZEL_DOWNLOAD_ICMP_PINGER_H_
#define ZEL_DOWNLOAD_ICMP_PINGER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/icmp_socket.h"

namespace zel {

inline constexpr std::size_t kEchoRequestSize = 44;

struct EchoReply {
  std::uint16_t sequence = 0;
  std::uint32_t round_trip_ms = 0;
  std::uint32_t data_bytes = 0;
  std::uint32_t ttl = 0;
};

// Milliseconds: the tick count of the first call plus the wall-clock time
// elapsed since then.
std::uint32_t PingClock();

// The next value of the process-wide sequence counter (the first is 1; it
// wraps after 65535 to 0). Safe to call from several threads.
std::uint16_t NextPingSequence();

// RFC 1071 Internet checksum over 16-bit words in machine byte order.
std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length);

// Writes the 44-byte echo request into |packet|.
void BuildEchoRequest(std::uint8_t* packet, std::uint16_t identifier, std::uint16_t sequence,
                      std::uint32_t timestamp);

// Accepts |packet| (IPv4 header first) when it is an echo reply with our
// identifier and sequence; fills |reply| using |now| as the receive time.
bool ParseEchoReply(const std::uint8_t* packet, std::size_t length, std::uint16_t identifier,
                    std::uint16_t sequence, std::uint32_t now, EchoReply* reply);

class IcmpPinger {
 public:
  IcmpPinger();
  IcmpPinger(const IcmpPinger&) = delete;
  IcmpPinger& operator=(const IcmpPinger&) = delete;
  ~IcmpPinger();

  bool ready() const { return socket_ != nullptr; }

  // |ipv4| in network byte order.
  bool Echo(std::uint32_t ipv4, EchoReply* reply, std::uint32_t timeout_ms);
  bool EchoHost(const char* dotted, EchoReply* reply, std::uint32_t timeout_ms);

 private:
  std::unique_ptr<platform::IcmpSocket> socket_;
  std::uint16_t identifier_;
  std::uint8_t packet_[kEchoRequestSize] = {};
};

// The first IPv4 address of |name| as dotted text, "" when unresolvable.
std::string ResolveHost(const std::string& name);

// Pings the host of |url| (the address itself, then its resolved address,
// 2000 ms each); on success stores the round trip in |ping_time|.
bool PingUrl(const std::string& url, std::int32_t* ping_time);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_ICMP_PINGER_H_
