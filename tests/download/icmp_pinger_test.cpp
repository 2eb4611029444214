#include "download/icmp_pinger.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace zel {
namespace {

std::uint16_t Field16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

TEST(IcmpPacketTest, RequestLayoutAndChecksum) {
  std::uint8_t packet[kEchoRequestSize];
  BuildEchoRequest(packet, 0x1234, 1, 0);
  EXPECT_EQ(packet[0], 8);
  EXPECT_EQ(packet[1], 0);
  EXPECT_EQ(Field16(packet + 2), 0xEDC2);
  EXPECT_EQ(Field16(packet + 4), 0x1234);
  EXPECT_EQ(Field16(packet + 6), 1);
  for (std::size_t i = 8; i < kEchoRequestSize; ++i)
    EXPECT_EQ(packet[i], 0) << i;
  // A message that carries its own checksum sums to zero.
  EXPECT_EQ(InternetChecksum(packet, sizeof(packet)), 0);
}

TEST(IcmpPacketTest, ChecksumOfOddLengthAndCarries) {
  const std::uint8_t odd[] = {0x01, 0x00, 0x07};
  EXPECT_EQ(InternetChecksum(odd, sizeof(odd)), static_cast<std::uint16_t>(~0x0008));
  const std::uint8_t carry[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00};
  // 0xFFFF + 0xFFFF + 0x0002 = 0x20000 -> 0x0002 after folding twice.
  EXPECT_EQ(InternetChecksum(carry, sizeof(carry)), static_cast<std::uint16_t>(~0x0002));
}

TEST(IcmpPacketTest, SequenceCountsUpAndWraps) {
  std::uint16_t first = NextPingSequence();
  std::uint16_t previous = first;
  bool saw_zero = false;
  for (int i = 0; i < 65536; ++i) {
    std::uint16_t next = NextPingSequence();
    EXPECT_EQ(next, static_cast<std::uint16_t>(previous + 1));
    saw_zero = saw_zero || next == 0;
    previous = next;
  }
  EXPECT_TRUE(saw_zero);
  EXPECT_EQ(previous, first);
}

// An echo reply: IP header of |header_len| bytes, then ICMP.
std::vector<std::uint8_t> Reply(std::size_t header_len, std::uint8_t type, std::uint16_t id,
                                std::uint16_t seq, std::uint32_t stamp, std::uint8_t ttl) {
  std::vector<std::uint8_t> p(header_len + kEchoRequestSize, 0);
  p[0] = static_cast<std::uint8_t>(0x40 | (header_len / 4));
  p[8] = ttl;
  std::uint8_t* icmp = p.data() + header_len;
  BuildEchoRequest(icmp, id, seq, stamp);
  icmp[0] = type;
  return p;
}

TEST(IcmpPacketTest, ParsesRepliesWithEitherHeaderLength) {
  for (std::size_t header : {20u, 24u}) {
    std::vector<std::uint8_t> p = Reply(header, 0, 0x4321, 7, 1000, 57);
    EchoReply reply;
    ASSERT_TRUE(ParseEchoReply(p.data(), p.size(), 0x4321, 7, 1025, &reply)) << header;
    EXPECT_EQ(reply.sequence, 7);
    EXPECT_EQ(reply.round_trip_ms, 25u);
    EXPECT_EQ(reply.data_bytes, 32u);
    EXPECT_EQ(reply.ttl, 57u);
  }
}

TEST(IcmpPacketTest, IgnoresWhatIsNotOurReply) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> packet;
  } cases[] = {
      {"our own request seen on loopback", Reply(20, 8, 0x4321, 7, 0, 64)},
      {"another process", Reply(20, 0, 0x1111, 7, 0, 64)},
      {"a stale sequence", Reply(20, 0, 0x4321, 6, 0, 64)},
      {"truncated", Reply(20, 0, 0x4321, 7, 0, 64)},
      {"header length below 20", Reply(20, 0, 0x4321, 7, 0, 64)},
  };
  cases[3].packet.resize(30);
  cases[4].packet[0] = 0x44;
  for (const Case& c : cases) {
    EchoReply reply;
    EXPECT_FALSE(ParseEchoReply(c.packet.data(), c.packet.size(), 0x4321, 7, 0, &reply)) << c.what;
  }
  EXPECT_FALSE(ParseEchoReply(nullptr, 0, 0, 0, 0, nullptr));
}

TEST(PingUrlTest, UrlWithoutDownloadPathSendsNothing) {
  std::int32_t ping = 77;
  EXPECT_FALSE(PingUrl("http://127.0.0.1/files/setup.exe", &ping));
  EXPECT_EQ(ping, 77);
}

bool CanPing() {
  int error = 0;
  return platform::IcmpSocket::Open(&error) != nullptr;
}

TEST(IcmpEchoTest, LoopbackAnswersWithAndWithoutPort) {
  if (!CanPing())
    GTEST_SKIP() << "no ICMP socket: needs root or net.ipv4.ping_group_range";
  for (const char* url : {"http://127.0.0.1/download/x", "http://127.0.0.1:8080/download/x",
                          "http://localhost:9/download/x"}) {
    std::int32_t ping = -1;
    EXPECT_TRUE(PingUrl(url, &ping)) << url;
    EXPECT_GE(ping, 0);
    EXPECT_LT(ping, 2000);
  }
}

// Runs |body| in a child with a network namespace of its own; its result is
// the child's exit status.
template <typename Body>
int InOwnNetwork(Body body) {
  pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNET) != 0)
      ::_exit(77);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

bool LoopbackUp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  struct ifreq ifr = {};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP;
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ::close(fd);
  return ok;
}

TEST(IcmpEchoTest, SilentHostTimesOutAndLeavesPingTime) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root for a network namespace";
  int status = InOwnNetwork([] {
    if (!LoopbackUp())
      return 78;
    std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1";
    IcmpPinger pinger;
    if (!pinger.ready())
      return 79;
    EchoReply reply;
    std::uint32_t start = PingClock();
    bool answered = pinger.EchoHost("127.0.0.1", &reply, 300);
    std::uint32_t waited = PingClock() - start;
    if (answered)
      return 1;
    if (waited < 300 || waited > 1500)
      return 2;
    std::int32_t ping = 55;
    if (PingUrl("http://127.0.0.1/download/x", &ping) || ping != 55)
      return 3;
    return 0;
  });
  if (status == 77)
    GTEST_SKIP() << "network namespaces are not available here";
  EXPECT_EQ(status, 0);
}

TEST(IcmpEchoTest, UnreachableNetworkFailsAtOnce) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root for a network namespace";
  int status = InOwnNetwork([] {
    IcmpPinger pinger;  // loopback left down: nothing routes
    EchoReply reply;
    std::uint32_t start = PingClock();
    bool answered = pinger.EchoHost("127.0.0.1", &reply, 2000);
    return answered ? 1 : (PingClock() - start < 1000 ? 0 : 2);
  });
  if (status == 77)
    GTEST_SKIP() << "network namespaces are not available here";
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace zel
