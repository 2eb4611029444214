// The crash filter end to end: a separate program installs it and crashes;
// the crash image lands beside the log and the reporter sends it to the
// vendor test server.
#include "shell/crash_report.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "report/crash_upload.h"
#include "tests/common/sandbox.h"
#include "tests/report/report_test_util.h"
#include "tools/vendor-server/vendor_server.h"

namespace zel {
namespace {

using Clock = std::chrono::steady_clock;
using test::ReadStore;
using test::StoredRequest;

constexpr char kCrashId[] = "C0FFEE00C0FFEE00C0FFEE00C0FFEE00";

struct Outcome {
  bool finished = false;
  int status = 0;
  double seconds = 0;
};

// Runs the victim and waits for it at most |limit|; a victim still running
// then is killed and reported as not finished.
Outcome RunVictim(const std::string& mode, const std::string& url, const std::string& crash_id,
                  std::chrono::seconds limit) {
  const auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    struct rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    if (::chdir(test::SandboxRoot().c_str()) != 0)
      ::_exit(126);
    ::execl(ZEL_CRASH_VICTIM, ZEL_CRASH_VICTIM, mode.c_str(), url.c_str(), ZEL_CRASH_REPORTER,
            crash_id.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  Outcome outcome;
  if (pid < 0)
    return outcome;
  while (Clock::now() - start < limit) {
    if (::waitpid(pid, &outcome.status, WNOHANG) == pid) {
      outcome.finished = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!outcome.finished) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &outcome.status, 0);
  }
  outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return outcome;
}

class CrashReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No network class folder: the reporter finds no adapter.
    ::setenv("ZEL_SYSFS_NET_ROOT", test::SandboxPath("no-net").c_str(), 1);
    store_ = test::SandboxPath("server");
    server_ = std::make_unique<vendor::VendorServer>(store_);
    std::string error;
    ASSERT_TRUE(server_->Start(0, &error)) << error;
    dump_ = test::SandboxPath("home/Documents/Telviska/install.dmp");
    log_ = test::SandboxPath("home/Documents/Telviska/Log/install.log");
  }
  void TearDown() override { ::unsetenv("ZEL_SYSFS_NET_ROOT"); }

  std::string Url() const { return server_->BaseUrl() + "/api/install/index_crash.php"; }

  // The crash requests once |count| have arrived, or what arrived in time.
  std::vector<StoredRequest> WaitForRequests(std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (static_cast<std::size_t>(server_->RequestCount()) < count && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ReadStore(store_);
  }

  std::string store_, dump_, log_;
  std::unique_ptr<vendor::VendorServer> server_;
};

TEST_F(CrashReportTest, FaultLeavesImageBesideTheLogAndReportsIt) {
  const struct {
    const char* mode;
    int signal;
    const char* name;
  } cases[] = {
      {"segv", SIGSEGV, "SIGSEGV"},
      {"abort", SIGABRT, "SIGABRT"},
      {"thread", SIGSEGV, "SIGSEGV"},
  };
  int expected_requests = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    Outcome outcome = RunVictim(c.mode, Url(), kCrashId, std::chrono::seconds(20));
    ASSERT_TRUE(outcome.finished);
    ASSERT_TRUE(WIFEXITED(outcome.status)) << "ended by signal " << WTERMSIG(outcome.status);
    EXPECT_EQ(WEXITSTATUS(outcome.status), 128 + c.signal);

    const std::string image = test::ReadFile(dump_);
    EXPECT_EQ(
        image.rfind("ZEL CRASH IMAGE 1\nsignal " + std::to_string(c.signal) + " " + c.name, 0), 0u)
        << image.substr(0, 200);
    for (const char* section :
         {"\naddress 0x", "\n[registers]\n", "\n[backtrace]\n", "\n[maps]\n", "\n[end]\n"}) {
      EXPECT_NE(image.find(section), std::string::npos) << section;
    }
#if defined(__x86_64__)
    EXPECT_NE(image.find("\nrip 0x"), std::string::npos);
#endif

    std::vector<StoredRequest> requests = WaitForRequests(++expected_requests);
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(expected_requests));
    const StoredRequest& r = requests.back();
    EXPECT_EQ(r.endpoint, "crash");
    EXPECT_EQ(r.Names(), (std::vector<std::string>{"json_data", "app_id", "app_version",
                                                   "crash_dump", "crash_log"}));
    EXPECT_EQ(r.Field("json_data"), BuildCrashJson("", "German", kCrashId, "Telviska"));
    EXPECT_EQ(r.Field("app_id"), "Telviska");
    EXPECT_TRUE(std::regex_match(r.Field("app_version"), std::regex("[0-9]{8}")));
    EXPECT_EQ(r.Find("crash_dump")->file_name, std::string(kCrashId) + ".dmp");
    EXPECT_EQ(r.Find("crash_dump")->content, image);
    EXPECT_EQ(r.Find("crash_log")->file_name, std::string(kCrashId) + ".log");
    EXPECT_NE(r.Find("crash_log")->content.find(std::string("crash victim: ") + c.mode),
              std::string::npos);
  }
}

TEST_F(CrashReportTest, CrashWithoutIdGetsAFreshOne) {
  Outcome outcome = RunVictim("segv", Url(), "", std::chrono::seconds(20));
  ASSERT_TRUE(outcome.finished);
  std::vector<StoredRequest> requests = WaitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  std::smatch id;
  const std::string json = requests[0].Field("json_data");
  ASSERT_TRUE(std::regex_search(json, id, std::regex("\"uuid\":\"([0-9A-F]{32})\""))) << json;
  EXPECT_EQ(requests[0].Find("crash_dump")->file_name, id[1].str() + ".dmp");
  EXPECT_EQ(requests[0].Find("crash_log")->file_name, id[1].str() + ".log");
}

TEST_F(CrashReportTest, UnwritableImageSendsJsonAndLogOnly) {
  // A folder where the image should go: it cannot be created, even by root.
  std::filesystem::create_directories(dump_);
  Outcome outcome = RunVictim("segv", Url(), kCrashId, std::chrono::seconds(20));
  ASSERT_TRUE(outcome.finished);
  EXPECT_TRUE(WIFEXITED(outcome.status));
  std::vector<StoredRequest> requests = WaitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Names(),
            (std::vector<std::string>{"json_data", "app_id", "app_version", "crash_log"}));
  EXPECT_TRUE(std::filesystem::is_directory(dump_));
}

TEST_F(CrashReportTest, SilentServerDoesNotKeepTheCrashedProcessAlive) {
  server_->SetScript("crash", {"silent"});
  Outcome outcome = RunVictim("segv", Url(), kCrashId, std::chrono::seconds(20));
  ASSERT_TRUE(outcome.finished) << "still running after 20 s";
  EXPECT_TRUE(WIFEXITED(outcome.status));
  EXPECT_EQ(WEXITSTATUS(outcome.status), 128 + SIGSEGV);
  std::printf("crashed process ended after %.1f s\n", outcome.seconds);
  // The reporter, left on its own, still ends at its time limit: the server
  // sees the connection go away. (Its request is stored when it arrives.)
  EXPECT_EQ(WaitForRequests(1).size(), 1u);
}

TEST_F(CrashReportTest, RemovedFilterLeavesTheFaultAlone) {
  Outcome outcome = RunVictim("removed", Url(), kCrashId, std::chrono::seconds(20));
  ASSERT_TRUE(outcome.finished);
  ASSERT_TRUE(WIFSIGNALED(outcome.status));
  EXPECT_EQ(WTERMSIG(outcome.status), SIGSEGV);
  EXPECT_FALSE(std::filesystem::exists(dump_));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(server_->RequestCount(), 0);
}

TEST(CrashFilterTest, ReporterCommandLineAndUnusableSettings) {
  CrashFilterSettings settings;
  settings.display_name = L"Telviska";
  settings.crash_url = "http://127.0.0.1:1/api/install/index_crash.php";
  settings.app_id = "Telviska";
  settings.reporter_path = L"/opt/zel/zel-crash-reporter";
  int flag = -1;
  std::vector<std::string> argv =
      CrashReporterCommandLine(settings, L"/d/install.dmp", L"/d/Log/install.log", &flag);
  ASSERT_GE(flag, 0);
  EXPECT_EQ(argv.front(), "/opt/zel/zel-crash-reporter");
  EXPECT_EQ(argv[static_cast<std::size_t>(flag)], "0");
  EXPECT_EQ(argv[static_cast<std::size_t>(flag) - 1], "--image-written");

  settings.reporter_path.clear();  // beside the running program
  argv = CrashReporterCommandLine(settings, L"/d/install.dmp", L"/d/Log/install.log", nullptr);
  EXPECT_NE(argv.front().find("/zel-crash-reporter"), std::string::npos);

  CrashFilterSettings no_url = settings;
  no_url.crash_url.clear();
  EXPECT_FALSE(InstallCrashFilter(no_url));
  CrashFilterSettings no_name = settings;
  no_name.display_name.clear();
  EXPECT_FALSE(InstallCrashFilter(no_name));
}

}  // namespace
}  // namespace zel
