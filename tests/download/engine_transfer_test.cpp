// The engine against test mirrors on loopback: plain runs and the ranges it asks for.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "download/downloader_curl.h"
#include "tests/common/sandbox.h"
#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

using test::EngineRun;
using test::TestMirrors;

const std::size_t kSize = 3 * kChunkSize + 12345;

class EngineTransferTest : public ::testing::TestWithParam<int> {};

TEST_P(EngineTransferTest, DownloadsAndVerifies) {
  const int urls = GetParam();
  std::string data = test::PackageBytes(kSize, static_cast<std::uint32_t>(urls));
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, std::vector<std::string>(static_cast<std::size_t>(urls), "")))
      << mirrors.error();
  EngineRun run;
  std::string target = test::SandboxPath("Downloads/pkg.exe");
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, mirrors.Urls()), target));
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_EQ(run.engine().GetErrorName(), "NoError");
  EXPECT_FALSE(run.engine().IsRunning());
  EXPECT_EQ(run.EndCount(), 1);
  test::Notice last = run.Last();
  EXPECT_EQ(last.code, kNotifyFinished);
  EXPECT_EQ(last.a, kSize);
  EXPECT_EQ(last.b, static_cast<long>(kSize));
  EXPECT_GE(run.Count(kNotifyItemEnded), urls * 2);
  EXPECT_TRUE(test::ReadFile(target) == data);
  EXPECT_EQ(run.engine().GetUsedUrlInfo().size(), static_cast<std::size_t>(urls));
  EXPECT_EQ(run.engine().GetAllUrlInfo().size(), static_cast<std::size_t>(urls));
  for (int i = 0; i < urls; ++i)
    EXPECT_GE(mirrors.RangeRequests(i), 1) << "mirror " << i;
}

INSTANTIATE_TEST_SUITE_P(Urls, EngineTransferTest, ::testing::Values(1, 2, 5));

TEST(EngineRangesTest, TenItemsForFiveUrlsWithTheRangesOfThePlan) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"", "", "", "", ""})) << mirrors.error();
  EngineRun run;
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, mirrors.Urls()), test::SandboxPath("p.exe")));
  ASSERT_EQ(run.engine().GetStatus(), kDownloadFinished);
  DownloadInfo info;
  run.engine().GetInfo(info);
  EXPECT_EQ(info.segment_count, 10);
  // Ranges of about 300 KiB are never split, so these are all the requests.
  // URL k of the ranking serves ranges k and k + 5.
  std::vector<UrlCfg> used = run.engine().GetUsedUrlInfo();
  ASSERT_EQ(used.size(), 5u);
  std::vector<std::string> urls = mirrors.Urls();
  auto mirror_of = [&urls](const std::string& url) {
    return std::find(urls.begin(), urls.end(), url) - urls.begin();
  };
  std::vector<Segment> plan = PlanSegments(kSize, 5, 2);
  std::multiset<std::string> expected, seen;
  for (const Segment& s : plan) {
    expected.insert(std::to_string(mirror_of(used[static_cast<std::size_t>(s.url_index)].url)) +
                    " bytes=" + std::to_string(s.start) + "-" + std::to_string(s.end));
  }
  for (const auto& request : mirrors.Requests()) {
    if (request.range != "-")
      seen.insert(std::to_string(request.mirror) + " " + request.range);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(plan[9].end, kSize - 1);
  EXPECT_EQ(info.table.size(), 10u);
}

TEST(EngineRangesTest, OnlyTheCdnWhenItIsTheOnlyUrlGetsFiveItems) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  EngineRun run;
  run.engine().SetCdnMarkers(CdnMarkers{mirrors.HostPort(0), ""});
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, mirrors.Urls()), test::SandboxPath("p.exe")));
  ASSERT_EQ(run.engine().GetStatus(), kDownloadFinished);
  DownloadInfo info;
  run.engine().GetInfo(info);
  EXPECT_EQ(info.segment_count, 5);
  ASSERT_EQ(run.engine().GetAllUrlInfo().size(), 1u);
  EXPECT_EQ(run.engine().GetAllUrlInfo()[0].domain, mirrors.HostPort(0));
}

TEST(EngineRangesTest, ThroughAnHttpProxy) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors proxy;
  ASSERT_TRUE(proxy.Start(data, {""})) << proxy.error();
  EngineRun run;
  run.engine().SetProxy(proxy.HostPort(0));
  // Nothing listens on the discard port: only the proxy can answer. The URL
  // counts as the CDN, which needs no capacity check (that one is direct).
  const std::string url = "http://127.0.0.1:9/download/pkg.bin";
  run.engine().SetCdnMarkers(CdnMarkers{"127.0.0.1:9", ""});
  std::string target = test::SandboxPath("p.exe");
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, {url, url}), target));
  ASSERT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_TRUE(test::ReadFile(target) == data);
  std::vector<mirror::LoggedRequest> requests = proxy.Requests();
  ASSERT_FALSE(requests.empty());
  for (const auto& request : requests)
    EXPECT_EQ(request.target, url);
}

TEST(EngineRangesTest, FollowsRedirects) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors origin;
  ASSERT_TRUE(origin.Start(data, {""})) << origin.error();
  TestMirrors redirector;
  ASSERT_TRUE(redirector.Start(data, {"redirect=" + origin.Url(0)})) << redirector.error();
  EngineRun run;
  std::string target = test::SandboxPath("p.exe");
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, {redirector.Url(0)}), target));
  ASSERT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_TRUE(test::ReadFile(target) == data);
  EXPECT_GE(origin.RangeRequests(0), 2);
}

}  // namespace
}  // namespace zel
