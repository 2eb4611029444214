// Mirrors with real round trips: each test mirror lives in a network
// namespace of its own behind a veth pair, answers the echo after a fixed
// delay and serves HTTP from its namespace's loopback (reached through a
// DNAT rule). The engine pings them, ranks them and downloads.
//
// Needs root, ip (iproute2) and nft (nftables); skips otherwise. Every
// address used is 10.213.x.y inside namespaces this test creates and
// removes again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/downloader_curl.h"
#include "download/icmp_pinger.h"
#include "tests/common/sandbox.h"
#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

constexpr std::size_t kSize = 2 * 1048576;
constexpr unsigned short kHttpPort = 8080;

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Answers echo requests in one namespace after |delay_ms|, for kernels
// without netem; the namespace's own kernel echo is switched off.
class DelayedEchoResponder {
 public:
  DelayedEchoResponder(int fd, unsigned delay_ms) : fd_(fd), delay_ms_(delay_ms) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~DelayedEchoResponder() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }

 private:
  void Loop() {
    std::uint8_t packet[1500];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0)
        continue;
      sockaddr_in from{};
      socklen_t from_len = sizeof(from);
      ssize_t n =
          ::recvfrom(fd_, packet, sizeof(packet), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n < 20)
        continue;
      std::size_t header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
      if (static_cast<std::size_t>(n) < header + 8 || packet[header] != 8)
        continue;
      std::uint8_t* icmp = packet + header;
      std::size_t icmp_len = static_cast<std::size_t>(n) - header;
      icmp[0] = 0;  // echo reply, the rest as it came
      icmp[2] = icmp[3] = 0;
      std::uint16_t sum = InternetChecksum(icmp, icmp_len);
      std::memcpy(icmp + 2, &sum, 2);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
      ::sendto(fd_, icmp, icmp_len, 0, reinterpret_cast<sockaddr*>(&from), from_len);
    }
  }

  int fd_;
  unsigned delay_ms_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One namespace with its veth pair, its address and its DNAT rule.
struct MirrorHost {
  std::string ns;
  std::string address;  // inside the namespace
  unsigned delay_ms = 0;
  bool silent = false;
  std::unique_ptr<test::TestMirrors> mirrors;
  std::unique_ptr<DelayedEchoResponder> responder;

  std::string Url() const {
    return "http://" + address + ":" + std::to_string(kHttpPort) + "/download/pkg.bin";
  }
};

// Runs |body| on a thread that has entered namespace |ns|; sockets and
// child processes it makes stay in that namespace.
template <typename Body>
bool InNamespace(const std::string& ns, Body body) {
  bool entered = false;
  std::thread worker([&] {
    int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      return;
    entered = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    if (entered)
      body();
  });
  worker.join();
  return entered;
}

class NetnsMirrors {
 public:
  ~NetnsMirrors() {
    for (MirrorHost& host : hosts_) {
      host.responder.reset();
      host.mirrors.reset();
      Run("ip netns del " + host.ns);  // takes the veth pair with it
    }
  }

  // Why the namespaces cannot be made, or "" once they are.
  std::string Make(const std::string& data, const std::vector<int>& delays) {
    if (::geteuid() != 0)
      return "needs root to create network namespaces";
    if (!Run("command -v ip") || !Run("command -v nft"))
      return "needs ip (iproute2) and nft (nftables)";
    static int serial = 0;
    const int run = static_cast<int>(::getpid() % 20000) * 4 + (serial++ % 4);
    const int subnet_base = static_cast<int>(::getpid() % 24) * 10;
    bool netem = true;
    for (std::size_t k = 0; k < delays.size(); ++k) {
      MirrorHost host;
      const std::string tag = std::to_string(run) + "_" + std::to_string(k);
      host.ns = "zelrank_" + tag;
      host.delay_ms = delays[k] < 0 ? 0 : static_cast<unsigned>(delays[k]);
      host.silent = delays[k] < 0;
      const std::string net = "10.213." + std::to_string(subnet_base + static_cast<int>(k));
      host.address = net + ".2";
      const std::string outside = "zrh" + tag;
      const std::string inside = "zrn" + tag;
      Run("ip netns del " + host.ns);
      if (!Run("ip netns add " + host.ns))
        return "cannot create a network namespace (ip netns add failed)";
      hosts_.push_back(std::move(host));
      MirrorHost& h = hosts_.back();
      const std::string in = "ip netns exec " + h.ns + " ";
      if (!Run("ip link add " + outside + " type veth peer name " + inside + " netns " + h.ns) ||
          !Run("ip addr add " + net + ".1/24 dev " + outside) ||
          !Run("ip link set " + outside + " up") ||
          !Run("ip -n " + h.ns + " addr add " + h.address + "/24 dev " + inside) ||
          !Run("ip -n " + h.ns + " link set " + inside + " up") ||
          !Run("ip -n " + h.ns + " link set lo up") ||
          !Run(in + "sysctl -qw net.ipv4.conf.all.route_localnet=1") ||
          !Run(in + "sysctl -qw net.ipv4.conf." + inside + ".route_localnet=1")) {
        return "cannot set up a veth pair into the namespace";
      }
      if (h.silent || !netem ||
          !Run("tc -n " + h.ns + " qdisc add dev " + inside + " root netem delay " +
               std::to_string(h.delay_ms) + "ms")) {
        if (!h.silent)
          netem = false;  // no netem here: the rest are delayed by hand too
        // Silent, or delayed by hand: the kernel's own echo stays quiet.
        if (!Run(in + "sysctl -qw net.ipv4.icmp_echo_ignore_all=1"))
          return "cannot switch off the echo in the namespace";
        if (!h.silent) {
          int fd = -1;
          InNamespace(h.ns, [&] { fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP); });
          if (fd < 0)
            return "no raw ICMP socket in the namespace";
          h.responder = std::make_unique<DelayedEchoResponder>(fd, h.delay_ms);
        }
      }
      bool started = false;
      h.mirrors = std::make_unique<test::TestMirrors>();
      InNamespace(h.ns, [&] { started = h.mirrors->Start(data, {""}); });
      if (!started)
        return "test mirror did not start in its namespace: " + h.mirrors->error();
      const std::string port = h.mirrors->HostPort(0).substr(std::strlen("127.0.0.1:"));
      if (!Run(in + "nft add table ip zel") ||
          !Run(in + "nft 'add chain ip zel pre { type nat hook prerouting priority -100; }'") ||
          !Run(in + "nft add rule ip zel pre ip daddr " + h.address + " tcp dport " +
               std::to_string(kHttpPort) + " dnat to 127.0.0.1:" + port)) {
        return "cannot add the DNAT rule in the namespace (nf_tables missing?)";
      }
    }
    return "";
  }

  std::vector<MirrorHost>& hosts() { return hosts_; }

 private:
  std::vector<MirrorHost> hosts_;
};

TEST(MirrorRankingNetnsTest, RealRoundTripsRankTheMirrors) {
  // Document order deliberately not the order of the delays; -1 is a mirror
  // that never answers the echo.
  const std::vector<int> delays = {30, 60, 10, -1, 50, 20, 40};
  std::string data = test::PackageBytes(kSize);
  NetnsMirrors net;
  std::string why = net.Make(data, delays);
  if (!why.empty())
    GTEST_SKIP() << why;

  std::vector<std::string> urls;
  for (const MirrorHost& host : net.hosts())
    urls.push_back(host.Url());
  test::LogCapture log;
  test::EngineRun run;
  std::string target = test::SandboxPath("Downloads/pkg.exe");
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, urls), target, 120));
  ASSERT_EQ(run.engine().GetStatus(), kDownloadFinished) << run.engine().GetErrorName();
  EXPECT_TRUE(test::ReadFile(target) == data);

  std::vector<UrlCfg> all = run.engine().GetAllUrlInfo();
  ASSERT_EQ(all.size(), urls.size());
  std::string times;
  for (const UrlCfg& entry : all)
    times += entry.domain + "=" + std::to_string(entry.ping_time) + "ms ";
  SCOPED_TRACE("measured: " + times);

  // The five fastest by the measured times, fastest first. (On an idle
  // machine that is the order of the delays; a loaded one may swap two
  // neighbours, so the check is against what was measured.)
  std::vector<UrlCfg> used = run.engine().GetUsedUrlInfo();
  ASSERT_EQ(used.size(), 5u);
  for (std::size_t k = 1; k < used.size(); ++k)
    EXPECT_LE(used[k - 1].ping_time, used[k].ping_time);
  std::vector<bool> is_used(urls.size(), false);
  for (const UrlCfg& entry : used) {
    auto at = std::find(urls.begin(), urls.end(), std::string(entry.url));
    ASSERT_NE(at, urls.end());
    is_used[static_cast<std::size_t>(at - urls.begin())] = true;
  }

  for (std::size_t k = 0; k < urls.size(); ++k) {
    const MirrorHost& host = net.hosts()[k];
    EXPECT_EQ(std::string(all[k].url), urls[k]);
    EXPECT_EQ(all[k].domain, host.address + ":" + std::to_string(kHttpPort));
    if (host.silent) {
      EXPECT_FALSE(is_used[k]);
      EXPECT_EQ(all[k].ping_time, 0);
      EXPECT_TRUE(log.Contains("Download_CheckPing: ID(" + std::to_string(k) +
                               "), Invalid(false), time(0).\n"));
      EXPECT_EQ(host.mirrors->Count(0, ""), 0) << "a silent mirror gets no size check";
      continue;
    }
    EXPECT_GE(all[k].ping_time, delays[k]) << urls[k];
    if (!is_used[k]) {
      EXPECT_GE(all[k].ping_time, used.back().ping_time) << urls[k];
    }
    EXPECT_EQ(host.mirrors->Count(0, "HEAD"), 1) << urls[k];
    // Every mirror is asked for its capacity; only those in use get ranges.
    EXPECT_EQ(host.mirrors->Count(0, "GET") > 1, is_used[k]) << urls[k];
  }
  EXPECT_FALSE(log.Contains("Warring"));
}

}  // namespace
}  // namespace zel
