#include "download/icmp_pinger.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>

#include "download/url_util.h"
#include "platform/clock.h"

namespace zel {
namespace {

constexpr std::uint8_t kTypeEchoReply = 0;
constexpr std::uint8_t kTypeEchoRequest = 8;
constexpr std::uint32_t kWaitStepMs = 100;
constexpr std::uint32_t kUrlEchoTimeoutMs = 2000;
constexpr std::size_t kReceiveCapacity = 256;

std::atomic<std::uint16_t> g_sequence{0};

struct ClockBase {
  std::uint32_t tick;
  std::int64_t wall_ms;
};

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

}  // namespace

std::uint32_t PingClock() {
  static const ClockBase base{platform::TickCountMs(), WallClockMs()};  // thread-safe once
  return base.tick + static_cast<std::uint32_t>(WallClockMs() - base.wall_ms);
}

std::uint16_t NextPingSequence() {
  return static_cast<std::uint16_t>(g_sequence.fetch_add(1, std::memory_order_relaxed) + 1);
}

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < length; i += 2)
    sum += Load16(data + i);
  if (i < length)
    sum += data[i];
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void BuildEchoRequest(std::uint8_t* packet, std::uint16_t identifier, std::uint16_t sequence,
                      std::uint32_t timestamp) {
  std::memset(packet, 0, kEchoRequestSize);
  packet[0] = kTypeEchoRequest;
  packet[1] = 0;
  std::memcpy(packet + 4, &identifier, 2);
  std::memcpy(packet + 6, &sequence, 2);
  std::memcpy(packet + 8, &timestamp, 4);
  std::uint16_t checksum = InternetChecksum(packet, kEchoRequestSize);
  std::memcpy(packet + 2, &checksum, 2);
}

bool ParseEchoReply(const std::uint8_t* packet, std::size_t length, std::uint16_t identifier,
                    std::uint16_t sequence, std::uint32_t now, EchoReply* reply) {
  if (packet == nullptr || length < 1)
    return false;
  std::size_t header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  // The ICMP header and our timestamp must be there to be read.
  if (header < 20 || length < header + 12)
    return false;
  const std::uint8_t* icmp = packet + header;
  if (icmp[0] != kTypeEchoReply)
    return false;
  if (Load16(icmp + 4) != identifier || Load16(icmp + 6) != sequence)
    return false;
  if (reply != nullptr) {
    reply->sequence = sequence;
    reply->round_trip_ms = now - Load32(icmp + 8);
    reply->data_bytes = static_cast<std::uint32_t>(length - header - 12);
    reply->ttl = packet[8];
  }
  return true;
}

IcmpPinger::IcmpPinger() : identifier_(platform::ProcessIdLow16()) {
  int error = 0;
  socket_ = platform::IcmpSocket::Open(&error);
  if (socket_ == nullptr)
    std::cerr << "WSASocket() failed:" << error << std::endl;
}

IcmpPinger::~IcmpPinger() = default;

bool IcmpPinger::Echo(std::uint32_t ipv4, EchoReply* reply, std::uint32_t timeout_ms) {
  if (!ready())
    return false;
  const std::uint32_t t0 = PingClock();
  const std::uint16_t sequence = NextPingSequence();
  BuildEchoRequest(packet_, identifier_, sequence, t0);
  if (!socket_->Send(ipv4, packet_, sizeof(packet_)))
    return false;
  if (reply == nullptr)
    return true;

  const std::uint16_t expected_id = socket_->ReplyIdentifier(identifier_);
  std::uint8_t buffer[kReceiveCapacity];
  while (PingClock() - t0 < timeout_ms) {
    int n = socket_->Receive(buffer, sizeof(buffer), kWaitStepMs);
    if (n < 0)
      return false;
    if (n == 0)
      continue;
    if (ParseEchoReply(buffer, static_cast<std::size_t>(n), expected_id, sequence, PingClock(),
                       reply)) {
      return true;
    }
  }
  return false;
}

bool IcmpPinger::EchoHost(const char* dotted, EchoReply* reply, std::uint32_t timeout_ms) {
  if (dotted == nullptr)
    return false;
  std::uint32_t address = 0;
  // An unparsable text goes out as INADDR_NONE, as inet_addr would give;
  // the send then fails and so does the echo.
  if (!platform::ParseIpv4(dotted, &address))
    return false;
  return Echo(address, reply, timeout_ms);
}

std::string ResolveHost(const std::string& name) {
  return platform::ResolveIpv4(name);
}

bool PingUrl(const std::string& url, std::int32_t* ping_time) {
  const std::string host = UrlHost(url);
  if (host.empty())
    return false;
  // The host text keeps its ":port"; names and addresses do not.
  std::string name = host;
  std::size_t colon = name.rfind(':');
  if (colon != std::string::npos)
    name.resize(colon);

  IcmpPinger pinger;
  EchoReply reply;
  if (pinger.EchoHost(name.c_str(), &reply, kUrlEchoTimeoutMs) ||
      pinger.EchoHost(ResolveHost(name).c_str(), &reply, kUrlEchoTimeoutMs)) {
    if (ping_time != nullptr)
      *ping_time = static_cast<std::int32_t>(reply.round_trip_ms);
    return true;
  }
  return false;
}

}  // namespace zel
