#include "platform/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/common/sandbox.h"
#include "tests/platform/fake_product.h"

namespace zel::platform {
namespace {

using zel::test::Eventually;
using zel::test::ReportArguments;
using zel::test::SandboxPath;
using zel::test::WaitForReport;
using zel::test::WriteFile;

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LimitProcessesToDescendantsForTesting(true);
    report_ = SandboxPath("report.txt");
    ::setenv("ZEL_TEST_REPORT", report_.c_str(), 1);
    ::unsetenv("ZEL_TEST_EXIT_CODE");
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "/usr/bin:/bin";
  }
  void TearDown() override {
    for (Process& p : started_) {
      p.Terminate(0);
      p.Wait(2000);
    }
    ::unsetenv("ZEL_TEST_REPORT");
    ::setenv("PATH", saved_path_.c_str(), 1);
    LimitProcessesToDescendantsForTesting(false);
  }

  Process& Start(const std::string& program, const std::wstring& parameters = L"") {
    started_.emplace_back();
    ShellExecuteRequest request{L"open", Utf8ToWide(program), parameters, L"", kShowNormal};
    EXPECT_GT(ShellExecute(request, &started_.back()), 32);
    return started_.back();
  }

  static int CountRunning(const std::wstring& name) {
    int n = 0;
    for (const ProcessEntry& e : ListProcesses())
      n += e.exe_name == name ? 1 : 0;
    return n;
  }

  static bool Listed(std::uint32_t pid) {
    for (const ProcessEntry& e : ListProcesses()) {
      if (e.pid == pid)
        return true;
    }
    return false;
  }

  std::string report_;
  std::deque<Process> started_;  // references stay valid as it grows
  std::string saved_path_;
};

TEST_F(ProcessTest, ListsChildrenByExecutableFileName) {
  Process& child = Start(zel::test::SleepingProductPath());
  ASSERT_FALSE(WaitForReport(report_).empty());
  std::vector<ProcessEntry> list = ListProcesses();
  ASSERT_EQ(list.size(), 1u);  // only our own descendants while limited
  EXPECT_EQ(list[0].pid, child.pid());
  EXPECT_EQ(list[0].parent_pid, static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(list[0].exe_name, L"Brondex.exe");
}

TEST_F(ProcessTest, EndedButUnreapedChildrenAreNotListed) {
  Process& child = Start(zel::test::QuickProductPath());
  ASSERT_TRUE(Eventually([&] { return !Listed(child.pid()); }));
  // Still a zombie: nobody has read its exit code yet.
  EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(child.pid())));
  std::uint32_t code = 1;
  ASSERT_TRUE(child.GetExitCode(&code));
  EXPECT_EQ(code, 0u);
}

TEST_F(ProcessTest, TerminateChecksTheNameAndWaitsForTheEnd) {
  Process& child = Start(zel::test::SleepingProductPath());
  ASSERT_FALSE(WaitForReport(report_).empty());
  EXPECT_FALSE(TerminateProcessById(child.pid(), L"Other.exe"));
  EXPECT_TRUE(Listed(child.pid()));
  EXPECT_TRUE(TerminateProcessById(child.pid(), L"BRONDEX.EXE"));
  EXPECT_FALSE(Listed(child.pid()));  // gone before the call returned
  std::uint32_t code = 0;
  ASSERT_TRUE(child.GetExitCode(&code));
  EXPECT_EQ(code, 128u + 9u);
}

TEST_F(ProcessTest, NeverTerminatesWhatIsNotOurs) {
  EXPECT_FALSE(TerminateProcessById(1, L""));
  EXPECT_FALSE(TerminateProcessById(static_cast<std::uint32_t>(::getpid()), L""));
  EXPECT_FALSE(TerminateProcessById(0, L""));
}

TEST_F(ProcessTest, ExitCodesOfStartedPrograms) {
  ::setenv("ZEL_TEST_EXIT_CODE", "7", 1);
  Process& quick = Start(zel::test::QuickProductPath());
  ASSERT_TRUE(quick.Wait(10000));
  std::uint32_t code = 0;
  ASSERT_TRUE(quick.GetExitCode(&code));
  EXPECT_EQ(code, 7u);

  Process& sleeper = Start(zel::test::SleepingProductPath());
  ASSERT_TRUE(sleeper.GetExitCode(&code));
  EXPECT_EQ(code, Process::kStillActive);
  EXPECT_FALSE(sleeper.Wait(50));
  EXPECT_TRUE(sleeper.Terminate(0));
  ASSERT_TRUE(sleeper.Wait(5000));
  ASSERT_TRUE(sleeper.GetExitCode(&code));
  EXPECT_EQ(code, 0u);  // the code given to Terminate, as on Windows
}

TEST_F(ProcessTest, ReleasedChildrenAreReapedWhenTheyEnd) {
  Process& child = Start(zel::test::SleepingProductPath());
  ASSERT_FALSE(WaitForReport(report_).empty());
  const std::uint32_t pid = child.pid();
  child.Release();
  EXPECT_FALSE(child.IsValid());
  ASSERT_TRUE(TerminateProcessById(pid, L"Brondex.exe"));
  EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }));
}

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  struct Case {
    std::wstring line;
    std::vector<std::wstring> args;
  } cases[] = {
      {L"", {}},
      {L" --installmode", {L"--installmode"}},
      {L"/install /add_plan /ID:ab12 /new  /time:5 ",
       {L"/install", L"/add_plan", L"/ID:ab12", L"/new", L"/time:5"}},
      {L"\"C:\\Program Files\\x\" b", {L"C:\\Program Files\\x", L"b"}},
      {L"a\\\\\"b c\"", {L"a\\b c"}},
      {L"a\\\"b", {L"a\"b"}},
      {L"a\\\\b", {L"a\\\\b"}},
      {L"\"\" x", {L"", L"x"}},
      {L"\"say \"\"hi\"\"\"", {L"say \"hi\""}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line.size();
}

TEST_F(ProcessTest, ShellExecuteRunsProgramsWithTheirArgumentsAndFolder) {
  const std::string folder = SandboxPath("work dir");
  std::filesystem::create_directories(folder);
  Process child;
  ShellExecuteRequest request{L"runas", Utf8ToWide(zel::test::QuickProductPath()),
                              L"/install /ID:\"a b\"  /time:3 ", Utf8ToWide(folder), kShowHide};
  ASSERT_GT(ShellExecute(request, &child), 32);
  std::string report = WaitForReport(report_);
  EXPECT_NE(report.find("cwd=" + folder + "\n"), std::string::npos) << report;
  EXPECT_EQ(ReportArguments(report), (std::vector<std::string>{"/install", "/ID:a b", "/time:3"}));
  EXPECT_TRUE(child.Wait(10000));
}

TEST_F(ProcessTest, ShellExecuteFailuresGiveShellCodes) {
  const std::string bin = SandboxPath("bin");
  std::filesystem::create_directories(bin);
  ::setenv("PATH", bin.c_str(), 1);  // no xdg-open here
  const std::string doc = SandboxPath("readme.txt");
  WriteFile(doc, "text");

  struct Case {
    std::wstring verb;
    std::string file;
    std::string folder;
    int result;
  } cases[] = {
      {L"open", SandboxPath("missing"), "", 2},
      {L"open", "", "", 2},
      {L"open", doc, "", 31},
      {L"print", zel::test::QuickProductPath(), "", 31},
      {L"open", zel::test::QuickProductPath(), SandboxPath("no such folder"), 2},
  };
  for (const Case& c : cases) {
    Process p;
    ShellExecuteRequest request{c.verb, Utf8ToWide(c.file), L"", Utf8ToWide(c.folder), 1};
    EXPECT_EQ(ShellExecute(request, &p), c.result) << c.file;
    EXPECT_FALSE(p.IsValid());
  }
}

TEST_F(ProcessTest, DocumentsAndAddressesGoToTheDesktopOpener) {
  const std::string bin = SandboxPath("bin");
  const std::string opened = SandboxPath("opened.txt");
  WriteFile(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" > '" + opened + "'\n");
  ::chmod((bin + "/xdg-open").c_str(), 0755);
  ::setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);

  // Without a process handle the opener is detached: no zombie of ours.
  ShellExecuteRequest request{L"open", L"https://www.zel-installer.invalid/?version=1", L"", L"",
                              5};
  ASSERT_GT(ShellExecute(request, nullptr), 32);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(opened); }));
  EXPECT_EQ(zel::test::ReadFile(opened), "https://www.zel-installer.invalid/?version=1\n");
}

TEST_F(ProcessTest, RunQuietlyWaitsAndEndsWhatOverstays) {
  EXPECT_EQ(RunQuietly({"/bin/sh", "-c", "echo noise; exit 3"}, 10000), 3);
  EXPECT_EQ(RunQuietly({"sh", "-c", "exit 0"}, 10000), 0);
  EXPECT_EQ(RunQuietly({"zel-no-such-tool"}, 1000), std::nullopt);
  EXPECT_EQ(RunQuietly({zel::test::SleepingProductPath()}, 200), std::nullopt);
  EXPECT_TRUE(ListProcesses().empty());
}

class ShellUserTest : public ProcessTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "needs root: it switches to another user";
    ProcessTest::SetUp();
    for (const char* name : {"SUDO_UID", "SUDO_GID", "PKEXEC_UID"})
      ::unsetenv(name);
  }
  void TearDown() override {
    for (const char* name : {"SUDO_UID", "PKEXEC_UID"})
      ::unsetenv(name);
    if (::geteuid() == 0)
      ProcessTest::TearDown();
  }
};

TEST_F(ShellUserTest, FindsTheUserWhoStartedUs) {
  struct Case {
    const char* sudo_uid;
    const char* pkexec_uid;
    bool found;
  } cases[] = {
      {"65534", nullptr, true},  {nullptr, "65534", true},
      {"65534", "0", true},      {"0", nullptr, false},  // root's own session: nobody to switch to
      {"12abc", nullptr, false}, {"4000000", nullptr, false},  // no such user
  };
  const bool session_user = zel::test::ReadFile("/proc/self/loginuid").rfind("4294967295", 0) != 0;
  for (const Case& c : cases) {
    for (const char* name : {"SUDO_UID", "PKEXEC_UID"})
      ::unsetenv(name);
    if (c.sudo_uid != nullptr)
      ::setenv("SUDO_UID", c.sudo_uid, 1);
    if (c.pkexec_uid != nullptr)
      ::setenv("PKEXEC_UID", c.pkexec_uid, 1);
    std::optional<UserIdentity> user = GetShellUserToken();
    if (!c.found && session_user)
      continue;  // the login session answers instead
    ASSERT_EQ(user.has_value(), c.found) << (c.sudo_uid ? c.sudo_uid : c.pkexec_uid);
    if (user) {
      EXPECT_EQ(user->uid, 65534u);
      EXPECT_EQ(user->name, "nobody");
    }
  }
}

TEST_F(ShellUserTest, StartsProgramsAsThatUser) {
  // The other user must be able to reach the report folder.
  const std::string shared = SandboxPath("shared");
  std::filesystem::create_directories(shared);
  ::chmod(zel::test::SandboxRoot().c_str(), 0711);
  ::chmod(shared.c_str(), 0777);
  const std::string report = shared + "/report.txt";
  ::setenv("ZEL_TEST_REPORT", report.c_str(), 1);
  ::setenv("SUDO_UID", "65534", 1);

  std::optional<UserIdentity> user = GetShellUserToken();
  ASSERT_TRUE(user.has_value());
  // The caller's folder (the sandbox home, closed to them) is replaced by
  // their own home.
  ASSERT_EQ(::chdir(zel::test::SandboxPath("home").c_str()), 0);
  ::chmod(zel::test::SandboxPath("home").c_str(), 0700);
  ASSERT_TRUE(
      StartProcessAsUser(*user, Utf8ToWide(zel::test::QuickProductPath()), L" --installmode", L""));
  std::string text = WaitForReport(report);
  EXPECT_NE(text.find("uid=65534\n"), std::string::npos) << text;
  EXPECT_NE(text.find("home=" + user->home + "\n"), std::string::npos) << text;
  EXPECT_EQ(ReportArguments(text), std::vector<std::string>{"--installmode"});
  ASSERT_EQ(::chdir("/"), 0);

  EXPECT_FALSE(StartProcessAsUser(*user, L"/no/such/program", L"", L""));
}

}  // namespace
}  // namespace zel::platform
