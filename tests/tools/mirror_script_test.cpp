#include "tools/mirror-server/mirror_script.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/common/sandbox.h"
#include "tools/mirror-server/mirror_process.h"

namespace zel::mirror {
namespace {

TEST(MirrorScriptTest, HostTakesLoopbackAddressesOnly) {
  struct Case {
    const char* script;
    const char* host;  // nullptr: refused
  } cases[] = {
      {"rate=1M", "127.0.0.1"},
      {"host=127.0.0.2", "127.0.0.2"},
      {"host=127.255.3.14,rate=20M", "127.255.3.14"},
      {"host=10.0.0.1", nullptr},
      {"host=0.0.0.0", nullptr},
      {"host=128.0.0.1", nullptr},
      {"host=localhost", nullptr},
      {"host=127.0.0", nullptr},
      {"host=127.0.0.1.", nullptr},
      {"host=127..0.1", nullptr},
      {"host=127.0.0.256", nullptr},
      {"host=127.0.0.0001", nullptr},
      {"host=127.0.0.-1", nullptr},
      {"host=.127.0.0.1", nullptr},
      {"host=127.0.0.1.2", nullptr},
      {"host=", nullptr},
  };
  for (const Case& c : cases) {
    std::string error;
    std::optional<MirrorScript> script = ParseMirrorScript(c.script, &error);
    if (c.host == nullptr) {
      EXPECT_FALSE(script.has_value()) << c.script;
      EXPECT_NE(error.find("loopback"), std::string::npos) << c.script << ": " << error;
    } else {
      ASSERT_TRUE(script.has_value()) << c.script << ": " << error;
      EXPECT_EQ(script->host, c.host) << c.script;
    }
  }
}

TEST(MirrorScriptTest, ByteCountsTakeKAndMSuffixes) {
  struct Case {
    const char* script;
    std::uint64_t MirrorScript::*field;
    std::uint64_t value;
  } cases[] = {
      {"rate=20M", &MirrorScript::rate, 20u << 20},
      {"mirror_rate=512k", &MirrorScript::mirror_rate, 512u << 10},
      {"stall_after=1000", &MirrorScript::stall_after, 1000},
      {"stall_total=26843545", &MirrorScript::stall_total, 26843545},
      {"reset_after=300K", &MirrorScript::reset_after, 300u << 10},
      {"overrun=7", &MirrorScript::overrun, 7},
      {"faults_for=2", &MirrorScript::faults_for, 2},
  };
  for (const Case& c : cases) {
    std::string error;
    std::optional<MirrorScript> script = ParseMirrorScript(c.script, &error);
    ASSERT_TRUE(script.has_value()) << c.script << ": " << error;
    EXPECT_EQ((*script).*c.field, c.value) << c.script;
  }
  for (const char* bad : {"rate=fast", "stall_total=", "reset_after=1G", "overrun=-1"}) {
    std::string error;
    EXPECT_FALSE(ParseMirrorScript(bad, &error).has_value()) << bad;
    EXPECT_NE(error.find("bad number"), std::string::npos) << bad << ": " << error;
  }
}

size_t Append(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Each mirror on an address of its own, as the engine benchmark lays them
// out so that per-host connection limits count per mirror.
TEST(MirrorScriptTest, MirrorsListenOnTheirOwnLoopbackAddresses) {
  const std::string file = test::SandboxPath("pkg.bin");
  test::WriteFile(file, "0123456789abcdef");
  MirrorProcess server;
  ASSERT_TRUE(server.Start(ZEL_MIRROR_SERVER_PATH, file, "pkg.bin", {"", "host=127.0.0.3"},
                           test::SandboxPath("requests.log")))
      << server.error();
  EXPECT_EQ(server.host(0), "127.0.0.1");
  EXPECT_EQ(server.host(1), "127.0.0.3");
  EXPECT_EQ(server.Url(1).rfind("http://127.0.0.3:", 0), 0u) << server.Url(1);

  std::string body;
  CURL* curl = curl_easy_init();
  ASSERT_NE(curl, nullptr);
  curl_easy_setopt(curl, CURLOPT_URL, server.Url(1).c_str());
  curl_easy_setopt(curl, CURLOPT_RANGE, "4-9");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
  curl_easy_cleanup(curl);
  EXPECT_EQ(body, "456789");
  EXPECT_EQ(server.CountRequests(1, "GET"), 1);
}

TEST(MirrorScriptTest, ServerRefusesToListenOffLoopback) {
  const std::string file = test::SandboxPath("pkg.bin");
  test::WriteFile(file, "x");
  MirrorProcess server;
  EXPECT_FALSE(server.Start(ZEL_MIRROR_SERVER_PATH, file, "pkg.bin", {"host=192.168.1.1"},
                            test::SandboxPath("requests.log")));
}

}  // namespace
}  // namespace zel::mirror
