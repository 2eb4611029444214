#include "shell/probes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/system_info.h"
#include "shell/log.h"

namespace zel {
namespace {

using platform::EmulatedSystem;
using platform::OsVersion;

std::vector<std::string> g_lines;
int Record(const char* message) {
  g_lines.emplace_back(message);
  return 0;
}

class ProbesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    ILog::Instance().SetSink(&Record);
  }
  void TearDown() override {
    ILog::Instance().SetSink(nullptr);
    platform::ResetEmulatedSystem();
  }
};

EmulatedSystem AllSources(std::uint32_t major, std::uint32_t minor) {
  EmulatedSystem s;
  s.workstation = s.nt_numbers = s.version_ex = OsVersion{major, minor, 0};
  return s;
}

TEST_F(ProbesTest, Win7OrLaterByVersion) {
  struct Case {
    std::uint32_t major, minor;
    bool expected;
  } cases[] = {{6, 1, true},  {6, 2, true},  {6, 3, true},  {10, 0, true},
               {6, 0, false}, {5, 1, false}, {5, 2, false}, {0, 0, false}};
  for (const Case& c : cases) {
    platform::SetEmulatedSystem(AllSources(c.major, c.minor));
    g_lines.clear();
    EXPECT_EQ(IsWin7OrLater(), c.expected) << c.major << "." << c.minor;
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0],
              "Window Version : " + std::to_string(c.major) + "," + std::to_string(c.minor));
  }
}

TEST_F(ProbesTest, FallsThroughTheThreeSources) {
  EmulatedSystem second;
  second.nt_numbers = OsVersion{6, 1, 7601};
  platform::SetEmulatedSystem(second);
  EXPECT_TRUE(IsWin7OrLater());
  EXPECT_EQ(g_lines, (std::vector<std::string>{"First get window version failed. Do second method.",
                                               "Window Version : 6,1"}));

  EmulatedSystem third;
  third.version_ex = OsVersion{6, 0, 6002};
  platform::SetEmulatedSystem(third);
  g_lines.clear();
  EXPECT_FALSE(IsWin7OrLater());
  EXPECT_EQ(g_lines, (std::vector<std::string>{"First get window version failed. Do second method.",
                                               "Second get window version failed. Do third method.",
                                               "Window Version : 6,0"}));

  platform::SetEmulatedSystem(EmulatedSystem{});  // nothing answers
  g_lines.clear();
  EXPECT_FALSE(IsWin7OrLater());
  EXPECT_EQ(g_lines.back(), "Window Version : 0,0");
}

TEST_F(ProbesTest, BitnessFromNativeArchitecture) {
  struct Case {
    std::uint16_t arch;
    bool expected;
  } cases[] = {{platform::kArchAmd64, true},
               {platform::kArchIa64, true},
               {platform::kArchIntel, false},
               {12, false}};
  for (const Case& c : cases) {
    EmulatedSystem s = AllSources(10, 0);
    s.architecture = c.arch;
    platform::SetEmulatedSystem(s);
    EXPECT_EQ(IsOs64Bit(), c.expected) << c.arch;
  }
  GetNativeSystemInfoSafe(nullptr);  // harmless
}

TEST_F(ProbesTest, VistaOrLater) {
  platform::SetEmulatedSystem(AllSources(6, 0));
  EXPECT_TRUE(IsVistaOrLater());
  platform::SetEmulatedSystem(AllSources(5, 1));
  EXPECT_FALSE(IsVistaOrLater());
  platform::SetEmulatedSystem(EmulatedSystem{});
  EXPECT_FALSE(IsVistaOrLater());
}

TEST_F(ProbesTest, EnvironmentEmulatesAnotherWindows) {
  ::setenv("ZEL_EMULATE_WINVER", "5.1", 1);
  ::setenv("ZEL_EMULATE_ARCH", "x86", 1);
  EXPECT_FALSE(IsWin7OrLater());
  EXPECT_FALSE(IsOs64Bit());
  ::setenv("ZEL_EMULATE_WINVER", "fail", 1);
  g_lines.clear();
  EXPECT_FALSE(IsWin7OrLater());
  EXPECT_EQ(g_lines.size(), 3u);
}

TEST_F(ProbesTest, AdminMatchesEffectiveUser) {
  if (::geteuid() == 0) {
    EXPECT_TRUE(IsUserAdmin());
  } else {
    GTEST_SKIP() << "not root: group membership decides, nothing fixed to assert";
  }
}

}  // namespace
}  // namespace zel
