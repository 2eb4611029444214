#include "download/http_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

TEST(HttpProbeTest, SizeProbeReportsTheAnnouncedLength) {
  std::string data = test::PackageBytes(123457);
  test::TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"", "head_length=99", "status=404"})) << mirrors.error();
  test::TestMirrors redirector;
  ASSERT_TRUE(redirector.Start(data, {"redirect=" + mirrors.Url(0)})) << redirector.error();
  struct Case {
    std::string url;
    std::uint32_t length;
  } cases[] = {
      {mirrors.Url(0), 123457},
      {mirrors.Url(1), 99},  // a mirror announcing the wrong size
      {redirector.Url(0), 123457},
      {"http://127.0.0.1:9/download/pkg.bin", 0xFFFFFFFFu},  // nothing listens there
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetDownloadFileLength(c.url.c_str(), ""), c.length) << c.url;
  }
  EXPECT_EQ(mirrors.Count(0, "HEAD"), 2);
  EXPECT_EQ(mirrors.Count(-1, "GET"), 0);  // body-less requests only
  EXPECT_EQ(GetDownloadFileLength(nullptr, ""), 0xFFFFFFFFu);
}

TEST(HttpProbeTest, SizeProbeGoesThroughTheProxy) {
  std::string data = test::PackageBytes(4321);
  test::TestMirrors proxy;
  ASSERT_TRUE(proxy.Start(data, {""})) << proxy.error();
  EXPECT_EQ(GetDownloadFileLength("http://127.0.0.1:9/download/pkg.bin", proxy.HostPort(0)), 4321u);
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].method, "HEAD");
}

}  // namespace
}  // namespace zel
