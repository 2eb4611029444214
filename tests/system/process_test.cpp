#include "system/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/system_info.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"
#include "tests/platform/fake_product.h"
#include "tests/system/log_capture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::LogCapture;
using test::SandboxPath;
using test::WaitForReport;

class ProcessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only what this test starts can be seen or ended.
    platform::LimitProcessesToDescendantsForTesting(true);
    report_ = SandboxPath("report.txt");
    ::setenv("ZEL_TEST_REPORT", report_.c_str(), 1);
    LogCapture::Clear();
  }
  void TearDown() override {
    for (platform::Process& p : started_) {
      p.Terminate(0);
      p.Wait(2000);
    }
    ::unsetenv("ZEL_TEST_REPORT");
    platform::ResetEmulatedSystem();
    platform::LimitProcessesToDescendantsForTesting(false);
  }

  platform::Process& StartSleeper() {
    started_.emplace_back();
    fs::remove(report_);
    platform::ShellExecuteRequest request{L"open", ToWide(test::SleepingProductPath()), L"", L"",
                                          1};
    EXPECT_GT(platform::ShellExecute(request, &started_.back()), 32);
    EXPECT_FALSE(WaitForReport(report_).empty());
    return started_.back();
  }

  static bool Running(std::uint32_t pid) {
    for (const platform::ProcessEntry& e : platform::ListProcesses()) {
      if (e.pid == pid)
        return true;
    }
    return false;
  }

  LogCapture log_;
  std::string report_;
  std::deque<platform::Process> started_;
};

TEST_F(ProcessControlTest, TwoRunningCopiesAreClosedAndAThirdIsLeft) {
  std::vector<std::uint32_t> pids;
  for (int i = 0; i < 3; ++i)
    pids.push_back(StartSleeper().pid());

  std::uint32_t found = 0;
  ASSERT_TRUE(FindProcessByName(L"brondex.EXE", &found));
  EXPECT_EQ(found, pids[0]);  // the first in the system's list

  TerminateProductProcesses();
  EXPECT_FALSE(Running(pids[0]));
  EXPECT_FALSE(Running(pids[1]));
  EXPECT_TRUE(Running(pids[2]));
  EXPECT_TRUE(FindProcessByName(L"Brondex.exe", &found));
  EXPECT_EQ(found, pids[2]);
}

TEST_F(ProcessControlTest, NamesThatAreNotRunningFindNothing) {
  std::uint32_t pid = 77;
  EXPECT_FALSE(FindProcessByName(L"Update.exe", &pid));
  EXPECT_EQ(pid, 77u);
  EXPECT_FALSE(TerminateProcessByName(L"Report.exe"));
  TerminateProductProcesses();  // nothing to do, nothing fails
}

TEST(InstallStepParametersTest, BuildsTheCommandLine) {
  struct Case {
    bool join;
    std::string id;
    bool is_new;
    int seconds;
    std::string params;
  } cases[] = {
      {false, "", false, 0, "/install"},
      {true, "", false, 0, "/install /add_plan"},
      {false, "abc", false, 0, "/install /ID:abc"},
      {false, "", true, 0, "/install /new "},
      {false, "", false, 12, "/install /time:12 "},
      {false, "", false, -1, "/install"},
      {true, "0f", true, 3, "/install /add_plan /ID:0f /new  /time:3 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InstallStepParameters(c.join, c.id, c.is_new, c.seconds), c.params) << c.params;
  }
}

TEST_F(ProcessControlTest, AQuickInstallStepIsWaitedForAndLogged) {
  ::setenv("ZEL_TEST_EXIT_CODE", "4", 1);
  InstallStepResult r = RunProductInstallStep(ToWide(test::QuickProductPath()), L"Brondex.exe",
                                              true, "0123abcd", true, 5);
  ::unsetenv("ZEL_TEST_EXIT_CODE");
  ASSERT_TRUE(r.started);
  EXPECT_FALSE(r.terminated);
  EXPECT_EQ(r.exit_code, 4u);
  // Ended before the first check or, on a busy machine, within a few.
  // Ended before the first check: not one sleep.
  EXPECT_EQ(r.wait_count, 100);
  EXPECT_EQ(test::ReportArguments(WaitForReport(report_)),
            (std::vector<std::string>{"/install", "/add_plan", "/ID:0123abcd", "/new", "/time:5"}));
  std::vector<std::string> lines = LogCapture::Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Run MainExe.exe /install");
  EXPECT_EQ(lines[1], "Run Install Params: /install /add_plan /ID:0123abcd /new  /time:5 .\n");
  EXPECT_EQ(lines[2], "Run main exe install : ExitCode(4), nWaitCount(" +
                          std::to_string(r.wait_count) + ").\n");
}

TEST_F(ProcessControlTest, AStepThatNeverEndsIsTerminatedAfterTheWait) {
  InstallStepResult r = RunProductInstallStep(ToWide(test::SleepingProductPath()), L"Brondex.exe",
                                              false, "", false, 0);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.wait_count, -2);
  EXPECT_TRUE(r.terminated);
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_TRUE(LogCapture::Contains("Run main exe install : ExitCode(0), nWaitCount(-2).\n"));
  EXPECT_FALSE(FindProcessByName(L"Brondex.exe", nullptr));
}

TEST_F(ProcessControlTest, AMissingProductIsLoggedAndSkipped) {
  InstallStepResult r =
      RunProductInstallStep(ToWide(SandboxPath("Brondex.exe")), L"Brondex.exe", true, "x", true, 1);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(LogCapture::Lines(),
            (std::vector<std::string>{"Run MainExe.exe /install",
                                      "Run exe failed. main exe con't found\n."}));
}

TEST_F(ProcessControlTest, ARefusedStartIsSkippedSilently) {
  const std::string not_runnable = SandboxPath("Brondex.exe");
  test::WriteFile(not_runnable, "not a program");
  ::chmod(not_runnable.c_str(), 0755);
  InstallStepResult r =
      RunProductInstallStep(ToWide(not_runnable), L"Brondex.exe", false, "", false, 0);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(LogCapture::Lines().size(), 2u);  // no wait line
}

TEST(InstallIdTest, ThirtyTwoLowerCaseDigitsNewEveryTime) {
  std::set<std::string> ids;
  for (int i = 0; i < 20; ++i) {
    std::string id = MakeInstallId();
    ASSERT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 20u);
}

class LaunchTest : public ProcessControlTest {
 protected:
  void SetUp() override {
    ProcessControlTest::SetUp();
    ::unsetenv("SUDO_UID");
    ::unsetenv("PKEXEC_UID");
    // The other user must reach the report.
    const std::string shared = SandboxPath("shared");
    fs::create_directories(shared);
    ::chmod(test::SandboxRoot().c_str(), 0711);
    ::chmod(shared.c_str(), 0777);
    report_ = shared + "/report.txt";
    ::setenv("ZEL_TEST_REPORT", report_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SUDO_UID");
    ProcessControlTest::TearDown();
  }

  static void EmulateWindows(std::uint32_t major) {
    platform::EmulatedSystem system;
    system.workstation = system.nt_numbers = system.version_ex = platform::OsVersion{major, 0, 0};
    platform::SetEmulatedSystem(system);
  }

  std::string LaunchAndReport() {
    EXPECT_TRUE(LaunchUnelevated(ToWide(test::QuickProductPath()), L" --installmode", nullptr, 1));
    return WaitForReport(report_);
  }
};

TEST_F(LaunchTest, AsRootStartedBySomeoneTheProductRunsAsThem) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root: it switches to another user";
  EmulateWindows(10);
  ::setenv("SUDO_UID", "65534", 1);
  std::string report = LaunchAndReport();
  EXPECT_NE(report.find("uid=65534\n"), std::string::npos) << report;
  EXPECT_EQ(test::ReportArguments(report), std::vector<std::string>{"--installmode"});
  EXPECT_TRUE(LogCapture::Contains("Launch as desktop user nobody (65534)."));
}

TEST_F(LaunchTest, BeforeVistaItIsAPlainOpen) {
  EmulateWindows(5);
  ::setenv("SUDO_UID", "65534", 1);
  std::string report = LaunchAndReport();
  EXPECT_NE(report.find("uid=" + std::to_string(::getuid()) + "\n"), std::string::npos) << report;
  EXPECT_EQ(test::ReportArguments(report), std::vector<std::string>{"--installmode"});
}

TEST_F(LaunchTest, WithNobodyToHandOverToItIsAPlainStart) {
  EmulateWindows(10);
  if (platform::GetShellUserToken())
    GTEST_SKIP() << "this session has a desktop user to hand over to";
  std::string report = LaunchAndReport();
  EXPECT_NE(report.find("uid=" + std::to_string(::getuid()) + "\n"), std::string::npos) << report;
  EXPECT_FALSE(LaunchUnelevated(ToWide(SandboxPath("missing.exe")), L"", nullptr, 1));
}

}  // namespace
}  // namespace zel
