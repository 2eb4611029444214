#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "download/downloader_curl.h"
#include "download/http_probe.h"
#include "download/icmp_pinger.h"
#include "tests/common/sandbox.h"
#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

using test::TestMirrors;

constexpr std::size_t kSize = 300000;

// Round trips by URL; a URL missing from the table does not answer.
MirrorProbe FixedTimes(std::map<std::string, int> times, bool concurrent = true) {
  MirrorProbe probe;
  probe.concurrent = concurrent;
  probe.ping = [times](const std::string& url, std::int32_t* ping_time) {
    auto found = times.find(url);
    if (found == times.end())
      return false;
    *ping_time = found->second;
    return true;
  };
  return probe;
}

DownloadConfig ConfigFor(const std::vector<std::string>& urls, std::int32_t size) {
  DownloadConfig config;
  config.size = size;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    std::strncpy(config.urls[i].url, urls[i].c_str(), kUrlBufferSize - 1);
    config.urls[i].valid = true;
  }
  return config;
}

std::vector<std::string> UrlsOf(const std::vector<UrlCfg>& list) {
  std::vector<std::string> urls;
  for (const UrlCfg& entry : list)
    urls.emplace_back(entry.url);
  return urls;
}

// The engine's probing lines without their time prefix.
std::vector<std::string> ProbeLines(const test::LogCapture& log) {
  std::vector<std::string> lines;
  for (const std::string& line : log.Lines()) {
    std::size_t at = line.find("Download");
    if (at != std::string::npos)
      lines.push_back(line.substr(at));
  }
  return lines;
}

// "127.0.0.1:PORT/" marks one test mirror as the CDN.
CdnMarkers CdnIs(const TestMirrors& mirrors, int mirror) {
  return CdnMarkers{mirrors.HostPort(mirror) + "/", ""};
}

TEST(NetworkNotFullTest, FlagBodies) {
  std::string data = test::PackageBytes(1000);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(
      data, {"flag=1", "flag=10", "flag=1%20more", "flag=0ok", "flag=", "flag=01", "flag=11"}))
      << mirrors.error();
  struct Case {
    int mirror;
    bool not_full;
    const char* body;
  } cases[] = {
      {0, false, "1"}, {1, true, "10"},  {2, true, "1 more"}, {3, false, "0ok"},
      {4, false, ""},  {5, false, "01"}, {6, true, "11"},
  };
  const CdnMarkers markers{"cdn.marker.invalid", ""};
  for (const Case& c : cases) {
    test::LogCapture log;
    EXPECT_EQ(GetNetworkNotFull(mirrors.Url(c.mirror), markers), c.not_full) << c.body;
    EXPECT_TRUE(log.Contains("Download : GetNetworkNotFull IP(" + mirrors.HostPort(c.mirror) +
                             "), Result(" + c.body + ").\n"))
        << c.body;
  }
  EXPECT_EQ(mirrors.Count(-1, "GET"), 7);
  for (const mirror::LoggedRequest& request : mirrors.Requests())
    EXPECT_EQ(request.target, "/flag.php");

  // The CDN is never asked; a URL without a host is never full-capacity.
  EXPECT_TRUE(GetNetworkNotFull("http://x.cdn.marker.invalid/download/pkg.bin", markers));
  EXPECT_FALSE(GetNetworkNotFull("http://127.0.0.1/files/pkg.bin", markers));
  EXPECT_EQ(mirrors.Count(-1, ""), 7);
}

TEST(NetworkNotFullTest, SilentOrMissingFlagCountsAsFull) {
  // Accepts connections (the backlog does) and never answers.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  std::string host = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

  EXPECT_EQ(FetchText("http://" + host + "/flag.php"), "error");
  test::LogCapture log;
  EXPECT_FALSE(GetNetworkNotFull("http://" + host + "/download/pkg.bin", CdnMarkers{}));
  EXPECT_TRUE(log.Contains("Result(error)"));
  ::close(fd);
  EXPECT_FALSE(GetNetworkNotFull("http://127.0.0.1:9/download/pkg.bin", CdnMarkers{}));
}

TEST(CheckDownloadTest, SixMirrorsRankedByRoundTripFiveUsed) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"", "", "", "", "", "", ""})) << mirrors.error();
  std::vector<std::string> urls = mirrors.Urls();  // the seventh is the CDN
  const int times[] = {40, 10, 30, 10, 50, 20};
  std::map<std::string, int> table;
  for (int i = 0; i < 6; ++i)
    table[urls[static_cast<std::size_t>(i)]] = times[i];

  std::vector<std::vector<std::string>> logs;
  for (bool concurrent : {false, true}) {
    SCOPED_TRACE(concurrent ? "concurrent" : "sequential");
    DownloaderCurl engine;
    engine.SetCdnMarkers(CdnIs(mirrors, 6));
    engine.SetMirrorProbe(FixedTimes(table, concurrent));
    DownloadConfig config = ConfigFor(urls, static_cast<std::int32_t>(kSize));
    test::LogCapture log;
    ASSERT_EQ(engine.CheckDownload(config), kOk);
    logs.push_back(ProbeLines(log));

    std::vector<std::string> used = UrlsOf(engine.GetUsedUrlInfo());
    ASSERT_EQ(used.size(), 5u);
    // The two 10 ms mirrors first (document order among equals here), the
    // 50 ms one dropped, no CDN added.
    EXPECT_EQ(used, (std::vector<std::string>{urls[1], urls[3], urls[5], urls[2], urls[0]}));
    EXPECT_EQ(config.threads_per_url, 2);

    std::vector<UrlCfg> all = engine.GetAllUrlInfo();
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(UrlsOf(all), urls);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(all[static_cast<std::size_t>(i)].ping_time, times[i]);
      EXPECT_EQ(all[static_cast<std::size_t>(i)].domain, mirrors.HostPort(i));
      EXPECT_TRUE(all[static_cast<std::size_t>(i)].valid);  // copied before the checks
      EXPECT_FALSE(all[static_cast<std::size_t>(i)].not_full);
      EXPECT_TRUE(config.urls[static_cast<std::size_t>(i)].not_full);
    }
    EXPECT_EQ(all[6].domain, mirrors.HostPort(6) + "/");  // the first marker
    EXPECT_TRUE(all[6].valid);
  }
  // The same lines in the same order, whichever way the probes ran.
  EXPECT_EQ(logs[0], logs[1]);
  std::vector<std::string> pings;
  for (const std::string& line : logs[1]) {
    if (line.rfind("Download_CheckPing", 0) == 0 ||
        line.rfind("Download_CheckDownload: ID", 0) == 0)
      pings.push_back(line);
  }
  ASSERT_EQ(pings.size(), 12u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(pings[static_cast<std::size_t>(2 * i)],
              "Download_CheckPing: ID(" + std::to_string(i) + "), Invalid(true), time(" +
                  std::to_string(times[i]) + ").\n");
    EXPECT_EQ(pings[static_cast<std::size_t>(2 * i + 1)],
              "Download_CheckDownload: ID(" + std::to_string(i) +
                  "), FileSizeConsistent(true) NetworkNotFull(true).\n");
  }
  EXPECT_EQ(mirrors.Count(6, "HEAD"), 2);  // the CDN: one size probe per run
  EXPECT_EQ(mirrors.Count(6, "GET"), 0);   // never asked for capacity
}

TEST(CheckDownloadTest, DroppedMirrorsAndWhy) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  // 0 silent, 1 wrong size, 2 full ("1"), 3 listed but not used ("0..."),
  // 4 usable, 5 unreachable for HTTP.
  ASSERT_TRUE(mirrors.Start(data, {"", "head_length=99", "flag=1", "flag=0%20busy", "", ""}))
      << mirrors.error();
  std::vector<std::string> urls = mirrors.Urls();
  urls[5] = "http://127.0.0.1:9/download/pkg.bin";
  std::map<std::string, int> table;
  for (std::size_t i = 1; i < urls.size(); ++i)
    table[urls[i]] = 5;
  DownloaderCurl engine;
  engine.SetMirrorProbe(FixedTimes(table));
  DownloadConfig config = ConfigFor(urls, static_cast<std::int32_t>(kSize));
  config.urls[0].ping_time = 77;  // a failed echo leaves the old time
  test::LogCapture log;
  ASSERT_EQ(engine.CheckDownload(config), kOk);

  EXPECT_EQ(UrlsOf(engine.GetUsedUrlInfo()), std::vector<std::string>{urls[4]});
  EXPECT_EQ(UrlsOf(engine.GetAllUrlInfo()), urls);
  EXPECT_EQ(engine.GetAllUrlInfo()[0].ping_time, 77);
  EXPECT_EQ(mirrors.Count(0, ""), 0);  // no size check, nothing at all
  EXPECT_EQ(mirrors.Count(1, "HEAD"), 1);
  EXPECT_EQ(mirrors.Count(1, "GET"), 0);  // wrong size: no capacity check
  EXPECT_EQ(mirrors.Count(3, "GET"), 1);

  const bool valid[] = {false, false, true, true, true, false};
  const bool not_full[] = {false, false, false, false, true, false};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(config.urls[static_cast<std::size_t>(i)].valid, valid[i]) << i;
    EXPECT_EQ(config.urls[static_cast<std::size_t>(i)].not_full, not_full[i]) << i;
  }
  EXPECT_TRUE(log.Contains("Download_CheckPing: ID(0), Invalid(false), time(77).\n"));
  EXPECT_TRUE(log.Contains("Download_CheckPing: ID(0), unusable: no echo reply from 127.0.0.1"));
  EXPECT_FALSE(log.Contains("Download_CheckDownload: ID(0)"));
  EXPECT_TRUE(
      log.Contains("Download_CheckDownload: ID(1), FileSizeConsistent(false) "
                   "NetworkNotFull(false).\n"));
  EXPECT_TRUE(
      log.Contains("Download_CheckDownload: ID(3), FileSizeConsistent(true) "
                   "NetworkNotFull(false).\n"));
  EXPECT_TRUE(log.Contains("Download_CheckDownload: ID(5), FileSizeConsistent(false)"));
  EXPECT_TRUE(log.Contains("Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 2.\n"));
  EXPECT_TRUE(log.Contains("Download_CheckDownload: Add Ama fail.\n"));
}

struct ReserveCase {
  const char* name;
  std::vector<std::string> scripts;  // the last mirror is the CDN
  std::vector<int> answering;        // mirrors that answer the echo
  std::size_t used;
  std::size_t items;
  std::vector<const char*> lines;
};

TEST(CheckDownloadTest, CdnReserveInFullRuns) {
  const ReserveCase cases[] = {
      {"two mirrors add the CDN third",
       {"", "", ""},
       {0, 1},
       3,
       6,
       {"Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 2.\n",
        "Download_CheckDownload: Add Ama now.\n"}},
      {"only the CDN: five transfers on it",
       {"flag=1", "head_length=5", ""},
       {0, 1},
       1,
       5,
       {"Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 0.\n",
        "Download_CheckDownload: Using Ama now.\n"}},
      {"three mirrors: no CDN", {"", "", "", ""}, {0, 1, 2}, 3, 6, {}},
  };
  int serial = 0;
  for (const ReserveCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string data = test::PackageBytes(kSize);
    TestMirrors mirrors;
    ASSERT_TRUE(mirrors.Start(data, c.scripts)) << mirrors.error();
    std::vector<std::string> urls = mirrors.Urls();
    const int cdn = static_cast<int>(urls.size()) - 1;
    std::map<std::string, int> table;
    for (int m : c.answering)
      table[urls[static_cast<std::size_t>(m)]] = 10 + m;
    test::LogCapture log;
    test::EngineRun run;
    run.engine().SetCdnMarkers(CdnIs(mirrors, cdn));
    run.engine().SetMirrorProbe(FixedTimes(table));
    // A target left complete by the case before would skip the probing.
    std::string target = test::SandboxPath("Downloads/pkg" + std::to_string(++serial) + ".exe");
    ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, urls), target));
    EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
    EXPECT_TRUE(test::ReadFile(target) == data);
    std::vector<UrlCfg> used = run.engine().GetUsedUrlInfo();
    ASSERT_EQ(used.size(), c.used);
    DownloadInfo info;
    run.engine().GetInfo(info);
    EXPECT_EQ(static_cast<std::size_t>(info.segment_count), c.items);
    const bool cdn_used = std::string(used.back().url) == urls[static_cast<std::size_t>(cdn)];
    EXPECT_EQ(cdn_used, c.lines.size() == 2);
    for (const char* line : c.lines)
      EXPECT_TRUE(log.Contains(line)) << line;
    EXPECT_EQ(mirrors.Count(cdn, "HEAD"), 1);
    EXPECT_EQ(mirrors.Count(cdn, "GET") > 0, cdn_used);
  }
}

TEST(CheckDownloadTest, OnlyCdnUrlsFirstOfTheRightSizeIsTheOneUsed) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"head_length=1", "", ""})) << mirrors.error();
  DownloaderCurl engine;
  engine.SetCdnMarkers(CdnMarkers{"127.0.0.1", ""});  // all three are CDN URLs
  std::map<std::string, int> table{{mirrors.Url(2), 3}};
  engine.SetMirrorProbe(FixedTimes(table));
  DownloadConfig config = ConfigFor(mirrors.Urls(), static_cast<std::int32_t>(kSize));
  test::LogCapture log;
  ASSERT_EQ(engine.CheckDownload(config), kOk);
  EXPECT_EQ(UrlsOf(engine.GetUsedUrlInfo()), std::vector<std::string>{mirrors.Url(1)});
  EXPECT_EQ(config.threads_per_url, 5);
  EXPECT_FALSE(config.urls[0].valid);  // the wrong size: not even a reserve
  // The third is a further CDN URL: probed like a mirror, never used.
  EXPECT_TRUE(log.Contains("Download_CheckPing: ID(2), Invalid(true), time(3).\n"));
  EXPECT_TRUE(
      log.Contains("Download_CheckDownload: ID(2), FileSizeConsistent(true) "
                   "NetworkNotFull(false).\n"));
  EXPECT_FALSE(log.Contains("Download_CheckPing: ID(0)"));
  EXPECT_FALSE(log.Contains("Download_CheckPing: ID(1)"));
  EXPECT_EQ(mirrors.Count(-1, "GET"), 0);
}

TEST(CheckDownloadTest, NoUsableMirrorAndNoCdnFailsTheRun) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"", "head_length=7", "flag=1"})) << mirrors.error();
  std::vector<std::string> urls = mirrors.Urls();
  test::LogCapture log;
  test::EngineRun run;
  run.engine().SetMirrorProbe(FixedTimes({{urls[1], 1}, {urls[2], 1}}));
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, urls), test::SandboxPath("pkg.exe")));
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFailed);
  EXPECT_EQ(run.engine().GetErrorName(), "DownloadCheckUrlError");
  EXPECT_EQ(run.Last().code, kNotifyFailed);
  EXPECT_TRUE(run.engine().GetUsedUrlInfo().empty());
  EXPECT_EQ(run.engine().GetAllUrlInfo().size(), 3u);
  EXPECT_TRUE(log.Contains("Download_CheckDownload: ERROR : con't find Ama now.\n"));
  EXPECT_TRUE(log.Contains("Error : BeginDownload (CheckDownload(siItem) != S_OK).\n"));
  EXPECT_EQ(mirrors.Count(-1, "GET"), 1);  // only mirror 2's capacity check
}

// Real echoes, in a network namespace of this thread's own: nothing leaves
// the machine, not even a name lookup.
TEST(CheckDownloadTest, BadUrlsAreUnusableWithAReason) {
  std::string long_url = "http://" + std::string(1010, 'h') + "/download/pkg.bin";
  long_url.resize(kUrlBufferSize - 1, 'x');  // 1039 bytes: the field's limit
  const std::vector<std::string> urls = {
      "http://127.0.0.1:8080/files/pkg.bin",          // no "/download/"
      "http://no-such-host.invalid:8080/download/p",  // does not resolve
      long_url,
      "download/ http://",
  };
  bool isolated = false;
  test::LogCapture log;
  DownloaderCurl engine;
  HResult result = kOk;
  std::thread probe([&] {
    if (::unshare(CLONE_NEWNET) != 0)
      return;
    isolated = true;
    DownloadConfig config = ConfigFor(urls, 1000);
    result = engine.CheckDownload(config);
  });
  probe.join();
  if (!isolated)
    GTEST_SKIP() << "needs root for a network namespace of its own";
  EXPECT_EQ(result, kFail);
  EXPECT_TRUE(engine.GetUsedUrlInfo().empty());
  ASSERT_EQ(engine.GetAllUrlInfo().size(), urls.size());
  EXPECT_EQ(std::string(engine.GetAllUrlInfo()[2].url), long_url);
  for (int i = 0; i < static_cast<int>(urls.size()); ++i) {
    EXPECT_TRUE(log.Contains("Download_CheckPing: ID(" + std::to_string(i) +
                             "), Invalid(false), time(0).\n"))
        << i;
  }
  EXPECT_TRUE(log.Contains("Download_CheckPing: ID(0), unusable: no host in the url.\n"));
  EXPECT_TRUE(log.Contains(
      "Download_CheckPing: ID(1), unusable: host no-such-host.invalid does not resolve.\n"));
  EXPECT_TRUE(log.Contains("Download_CheckPing: ID(2), unusable: host hhhh"));
  EXPECT_TRUE(log.Contains("Download_CheckPing: ID(3), unusable: no host in the url.\n"));
  EXPECT_TRUE(log.Contains("Download_CheckDownload: ERROR : con't find Ama now.\n"));
}

TEST(BestUrlTest, EveryOtherItemAtSpeedZeroGivesNone) {
  const char* a = "http://a/download/p";
  const char* b = "http://b/download/p";
  SegmentTable table;
  const std::int32_t statuses[] = {E_Status_Runing, E_Status_Succeed, E_Status_StopByDispatch};
  for (int i = 0; i < 3; ++i) {
    DownloadItem& item = table[i];
    item.id = i;
    item.url = b;
    item.status = statuses[i];
    item.speed = 0;
  }
  DownloadItem& self = table[3];
  self.url = a;
  self.speed = 900;
  EXPECT_EQ(PickBestUrl(table, a), nullptr);
  table[1].speed = 1;
  EXPECT_STREQ(PickBestUrl(table, a), b);
}

TEST(EchoReplyBadInputTest, ShortOrOverlongHeadersAreRejected) {
  std::uint8_t packet[64] = {};
  packet[0] = 0x45;
  BuildEchoRequest(packet + 20, 0x4321, 9, 0);
  packet[20] = 0;  // an echo reply
  ASSERT_TRUE(ParseEchoReply(packet, 64, 0x4321, 9, 0, nullptr));
  struct Case {
    const char* what;
    std::uint8_t first;
    std::size_t length;
  } cases[] = {
      {"shorter than its IP header", 0x45, 12},
      {"header length past the received bytes", 0x4F, 64},  // 60 + 12 > 64
      {"header length 0", 0x40, 64},
      {"one byte", 0x45, 1},
      {"nothing", 0x45, 0},
  };
  for (const Case& c : cases) {
    packet[0] = c.first;
    EchoReply reply;
    EXPECT_FALSE(ParseEchoReply(packet, c.length, 0x4321, 9, 0, &reply)) << c.what;
  }
}

}  // namespace
}  // namespace zel
