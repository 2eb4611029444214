#include "report/install_statistics.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "platform/adapters.h"
#include "report/report_upload.h"
#include "tests/common/sandbox.h"
#include "tests/report/report_test_util.h"
#include "tools/vendor-server/vendor_server.h"

namespace zel {
namespace {

using test::ReadStore;
using test::StoredRequest;

constexpr char kRunId[] = "0123456789ABCDEF0123456789ABCDEF";

// The member names of a JSON object text, in order.
std::vector<std::string> Keys(const std::string& text) {
  std::vector<std::string> keys;
  cJSON* root = cJSON_Parse(text.c_str());
  for (cJSON* item = root != nullptr ? root->child : nullptr; item != nullptr; item = item->next) {
    keys.push_back(item->string);
  }
  cJSON_Delete(root);
  return keys;
}

// One member printed compactly: strings keep their quotes.
std::string Member(const std::string& text, const char* name) {
  cJSON* root = cJSON_Parse(text.c_str());
  std::string out = "<missing>";
  if (cJSON* item = cJSON_GetObjectItemCaseSensitive(root, name)) {
    char* printed = cJSON_PrintUnformatted(item);
    out = printed;
    cJSON_free(printed);
  }
  cJSON_Delete(root);
  return out;
}

// |text| printed again without whitespace.
std::string Compact(const std::string& text) {
  cJSON* root = cJSON_Parse(text.c_str());
  char* printed = root != nullptr ? cJSON_PrintUnformatted(root) : nullptr;
  std::string out = printed != nullptr ? printed : "";
  cJSON_free(printed);
  cJSON_Delete(root);
  return out;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

class InstallStatisticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    platform::FakeAdapters fake;
    fake.adapters = {{"{B}", {0x00, 0x50, 0x56, 0x01, 0x02, 0x03}},
                     {"{A}", {0xa4, 0x5e, 0x60, 0x0a, 0x0b, 0x0c}}};
    platform::SetFakeAdapters(fake);
    store_ = test::SandboxPath("server");
    server_ = std::make_unique<vendor::VendorServer>(store_);
    std::string error;
    ASSERT_TRUE(server_->Start(0, &error)) << error;
    log_path_ = test::SandboxPath("home/Documents/Telviska/Log/install.log");
    test::WriteFile(log_path_,
                    "\n\n----------------------------------------\n"
                    "00:00:00 : Init Log OK.\n00:00:01 : Download failed.\n");
  }
  void TearDown() override {
    platform::ResetFakeAdapters();
    ::unsetenv("LC_ALL");
  }

  std::string ReportUrl() const { return server_->BaseUrl() + "/api/install/online.php"; }
  std::string LogUrl() const { return server_->BaseUrl() + "/api/install/index_log.php"; }

  std::unique_ptr<InstallStatistics> MakeRecord() {
    auto record = std::make_unique<InstallStatistics>(ReportUrl(), kRunId, "Telviska", "setup_web",
                                                      "google_ads", "1.0.6.0 official", true, false,
                                                      log_path_, LogUrl(), "Chinese(Simplified)");
    record->SetClockForTesting([this] { return now_; });
    record->SetPostTimeoutForTesting(2);
    return record;
  }

  std::vector<StoredRequest> Requests(const std::string& endpoint) const {
    std::vector<StoredRequest> out;
    for (StoredRequest& request : ReadStore(store_)) {
      if (request.endpoint == endpoint)
        out.push_back(std::move(request));
    }
    return out;
  }

  std::string store_;
  std::string log_path_;
  std::unique_ptr<vendor::VendorServer> server_;
  std::uint32_t now_ = 1000;
};

TEST_F(InstallStatisticsTest, StartReportCarriesEveryMemberInOrder) {
  auto record = MakeRecord();
  ASSERT_TRUE(record->SendStartReport());

  std::vector<StoredRequest> online = Requests("online");
  ASSERT_EQ(online.size(), 1u);
  EXPECT_EQ(online[0].Names(), (std::vector<std::string>{"json_data", "app_id"}));
  EXPECT_EQ(online[0].Field("app_id"), "Telviska");
  const std::string json = online[0].Field("json_data");
  EXPECT_EQ(Keys(json),
            (std::vector<std::string>{"version", "user_id", "system_language", "language", "uuid",
                                      "app_id", "option", "source", "app_type", "system_type",
                                      "localtime", "app_version", "install_status"}));
  EXPECT_EQ(json, Compact(json));
  EXPECT_EQ(Member(json, "version"), "1015");
  // The virtual-machine adapter is skipped; the other one is the user id.
  EXPECT_EQ(Member(json, "user_id"), Quoted("a4-5e-60-0a-0b-0c"));
  EXPECT_EQ(Member(json, "system_language"), Quoted("German"));
  EXPECT_EQ(Member(json, "language"), Quoted("Chinese(Simplified)"));
  EXPECT_EQ(Member(json, "uuid"), Quoted(kRunId));
  EXPECT_EQ(Member(json, "option"), Quoted("setup_web"));
  EXPECT_EQ(Member(json, "source"), Quoted("google_ads"));
  EXPECT_EQ(Member(json, "app_type"), Quoted("win64"));
  EXPECT_EQ(Member(json, "system_type"), Quoted("win32"));
  EXPECT_EQ(Member(json, "app_version"), Quoted("1.0.6.0 official"));
  EXPECT_EQ(Member(json, "install_status"), Quoted("start"));
  EXPECT_TRUE(std::regex_match(Member(json, "localtime"),
                               std::regex("\"\\d{4}-\\d{2}-\\d{2}_\\d{2}:\\d{2}:\\d{2}\"")));
  EXPECT_TRUE(Requests("log").empty());
}

struct FinalCase {
  const char* name;
  std::function<void(InstallStatistics&, std::uint32_t&)> run;
  const char* status;
  std::int32_t download_second;
  std::int32_t install_second;
  bool log_uploaded;
};

TEST_F(InstallStatisticsTest, FinalStatusFollowsTheFlags) {
  // Start report at 1000, close at 1010.
  const FinalCase cases[] = {
      // Closed before starting: the download end becomes now, the start stays 0.
      {"cancel", [](InstallStatistics&, std::uint32_t&) {}, "cancel", 1010, 0, false},
      {"download cancel",
       [](InstallStatistics& r, std::uint32_t& now) {
         r.MarkStarted();
         now = 1002;
         r.MarkDownloadStart();
       },
       "donwload_cancel", 8, 0, false},
      {"install cancel",
       [](InstallStatistics& r, std::uint32_t& now) {
         r.MarkStarted();
         now = 1002;
         r.MarkDownloadStart();
         now = 1005;
         r.MarkDownloadEnd(true, 0, "", 0, "", "");
         now = 1006;
         r.MarkInstallStart();
       },
       "install_cancel", 3, 4, false},
      {"install fail",
       [](InstallStatistics& r, std::uint32_t& now) {
         r.MarkStarted();
         now = 1002;
         r.MarkDownloadStart();
         now = 1005;
         r.MarkDownloadEnd(true, 0, "", 0, "", "");
         now = 1006;
         r.MarkInstallStart();
         now = 1008;
         r.MarkInstallEnd(false, 5, "ERROR_EXTRACT_FILE", false);
       },
       "install_fail", 3, 2, true},
      {"download fail",
       [](InstallStatistics& r, std::uint32_t& now) {
         r.MarkStarted();
         now = 1002;
         r.MarkDownloadStart();
         now = 1005;
         r.MarkDownloadEnd(false, 7, "ERROR_MD5_CHECK", 28, "http://m1/download/p.exe",
                           "http://m2/download/p.exe");
       },
       "downLoad_fail", 3, 0, true},
      {"success",
       [](InstallStatistics& r, std::uint32_t& now) {
         r.MarkStarted();
         now = 1002;
         r.MarkDownloadStart();
         now = 1005;
         r.MarkDownloadEnd(true, 0, "", 0, "", "");
         now = 1006;
         r.MarkInstallStart();
         now = 1009;
         r.MarkInstallEnd(true, 0, "", true);
       },
       "success", 3, 3, false},
  };
  for (const FinalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(store_);
    std::filesystem::create_directories(store_);
    now_ = 1000;
    auto record = MakeRecord();
    ASSERT_TRUE(record->SendStartReport());
    c.run(*record, now_);
    now_ = 1010;
    ASSERT_TRUE(record->SendFinalReport(true, false, true, false, true));

    std::vector<StoredRequest> online = Requests("online");
    ASSERT_EQ(online.size(), 2u);
    const std::string json = online[1].Field("json_data");
    EXPECT_EQ(Member(json, "install_status"), Quoted(c.status));
    EXPECT_EQ(Member(json, "download_second"), std::to_string(c.download_second));
    EXPECT_EQ(Member(json, "download_time_string"), Quoted(DurationText(c.download_second)));
    EXPECT_EQ(Member(json, "install_second"), std::to_string(c.install_second));
    EXPECT_EQ(Member(json, "app_run_second"), "10");
    EXPECT_EQ(Member(json, "app_run_time_string"), Quoted("00:00:10"));
    EXPECT_EQ(Member(json, "auto_install"), Quoted("true"));
    EXPECT_EQ(Member(json, "run_app"), Quoted("false"));
    EXPECT_EQ(Member(json, "change_install_path"), Quoted("true"));
    EXPECT_EQ(Member(json, "add_plan"), Quoted("false"));
    EXPECT_EQ(Member(json, "create_desktop"), Quoted("true"));
    const bool download_fail = std::string(c.status) == "downLoad_fail";
    EXPECT_EQ(Member(json, "curl_error") != "<missing>", download_fail);

    std::vector<StoredRequest> logs = Requests("log");
    ASSERT_EQ(logs.size(), c.log_uploaded ? 1u : 0u);
    if (c.log_uploaded) {
      EXPECT_EQ(logs[0].Names(), (std::vector<std::string>{"app_id", "log_type", "install_log"}));
      EXPECT_EQ(logs[0].Field("app_id"), "Telviska");
      EXPECT_EQ(logs[0].Field("log_type"), c.status);
      const test::StoredPart* file = logs[0].Find("install_log");
      ASSERT_NE(file, nullptr);
      EXPECT_TRUE(file->is_file);
      EXPECT_EQ(file->file_name, kRunId);
      EXPECT_EQ(file->content, test::ReadFile(log_path_));
    }
  }
}

TEST_F(InstallStatisticsTest, FailedDownloadReportsErrorsAndMirrorsInOrder) {
  auto record = MakeRecord();
  record->MarkStarted();
  record->MarkDownloadStart();
  record->SetProgress(42, 1025, 1048577, true);
  record->SetMirrorLists({{"http://m1.example/download/p.exe", true, 35, "m1.example"},
                          {"http://m2.example/download/p.exe", false, 0, "m2.example"}},
                         {});
  record->MarkDownloadEnd(false, 7, "ERROR_MD5_CHECK", 28, "http://m1.example/download/p.exe",
                          "http://m2.example/download/p.exe");
  ASSERT_TRUE(record->SendFinalReport(false, false, false, true, true));

  std::vector<StoredRequest> online = Requests("online");
  ASSERT_EQ(online.size(), 1u);
  const std::string json = online[0].Field("json_data");
  EXPECT_EQ(Keys(json), (std::vector<std::string>{"version",
                                                  "user_id",
                                                  "system_language",
                                                  "language",
                                                  "uuid",
                                                  "app_id",
                                                  "option",
                                                  "source",
                                                  "app_type",
                                                  "system_type",
                                                  "install_status",
                                                  "localtime",
                                                  "amazon_download",
                                                  "show_thankyou",
                                                  "download_last_error",
                                                  "install_last_error",
                                                  "download_second",
                                                  "download_time_string",
                                                  "install_second",
                                                  "install_time_string",
                                                  "app_run_second",
                                                  "app_run_time_string",
                                                  "progress_rate",
                                                  "speed_string",
                                                  "average_speed_string",
                                                  "speed",
                                                  "average_speed",
                                                  "auto_install",
                                                  "run_app",
                                                  "change_install_path",
                                                  "add_plan",
                                                  "create_desktop",
                                                  "app_version",
                                                  "curl_error",
                                                  "last_fail_link",
                                                  "repair_link",
                                                  "all_url_info",
                                                  "all_url_info_str"}));
  EXPECT_EQ(Member(json, "amazon_download"), Quoted("true"));
  EXPECT_EQ(Member(json, "show_thankyou"), Quoted("false"));
  EXPECT_EQ(Member(json, "download_last_error"), Quoted("ERROR_MD5_CHECK"));
  EXPECT_EQ(Member(json, "progress_rate"), "42");
  EXPECT_EQ(Member(json, "speed"), "1025");
  EXPECT_EQ(Member(json, "speed_string"), Quoted("1.00KB"));
  EXPECT_EQ(Member(json, "average_speed_string"), Quoted("1.00MB"));
  EXPECT_EQ(Member(json, "curl_error"), "28");
  EXPECT_EQ(Member(json, "last_fail_link"), Quoted("http://m1.example/download/p.exe"));
  EXPECT_EQ(Member(json, "repair_link"), Quoted("http://m2.example/download/p.exe"));
  EXPECT_EQ(Member(json, "all_url_info"),
            "[{\"invalid\":1,\"domain\":\"m1.example\",\"ping_time\":35},"
            "{\"invalid\":0,\"domain\":\"m2.example\",\"ping_time\":0}]");
  EXPECT_EQ(Member(json, "all_url_info_str"), Quoted("(domain-m1.example,invalid-1,ping_time-35)"
                                                     "(domain-m2.example,invalid-0,ping_time-0)"));
}

TEST(ReportTextTest, SizeAndDurationTexts) {
  const struct {
    std::int32_t value;
    const char* text;
  } sizes[] = {{0, "0Byte"},           {1024, "1024Byte"},  {1025, "1.00KB"},
               {1048576, "1024.00KB"}, {1048577, "1.00MB"}, {-5, "-5Byte"}};
  for (const auto& c : sizes)
    EXPECT_EQ(SizeText(c.value), c.text) << c.value;

  const struct {
    std::int32_t seconds;
    const char* text;
  } durations[] = {
      {0, "00:00:00"}, {59, "00:00:59"}, {3661, "01:01:01"}, {360000, "100:00:00"}, {-1, ""}};
  for (const auto& c : durations)
    EXPECT_EQ(DurationText(c.seconds), c.text) << c.seconds;
}

TEST_F(InstallStatisticsTest, AnswerWithNumberOneIsRetriedToTheTenthAttempt) {
  std::vector<std::string> script(9, "res1");
  script.push_back("ok");
  server_->SetScript("online", script);
  auto record = MakeRecord();
  int attempts = 0;
  bool sent = false;
  // The controller's loop: up to ten attempts, stopping at the first success.
  while (attempts < 10 && !sent) {
    ++attempts;
    sent = record->SendStartReport();
  }
  EXPECT_TRUE(sent);
  EXPECT_EQ(attempts, 10);
  EXPECT_EQ(Requests("online").size(), 10u);
}

TEST_F(InstallStatisticsTest, BadAnswersFailTheAttempt) {
  for (const char* answer : {"false", "string", "nonjson", "huge", "drop", "never", "silent"}) {
    SCOPED_TRACE(answer);
    server_->SetScript("online", {answer});
    auto record = MakeRecord();
    EXPECT_FALSE(record->SendStartReport());
  }
  EXPECT_EQ(Requests("online").size(), 7u);

  // Nobody listening at all.
  const std::string url = ReportUrl();
  server_->Stop();
  EXPECT_FALSE(PostJson(url, "{}", "Telviska", 2));
}

TEST_F(InstallStatisticsTest, RetriedFinalReportSendsTheLogUntilItArrived) {
  server_->SetScript("online", {"false", "false", "ok"});
  server_->SetScript("log", {"drop", "ok"});
  auto record = MakeRecord();
  record->MarkStarted();
  record->MarkDownloadStart();
  record->MarkDownloadEnd(false, 7, "ERROR_MD5_CHECK", 28, "", "");
  EXPECT_FALSE(record->SendFinalReport(false, false, false, false, false));
  EXPECT_FALSE(record->SendFinalReport(false, false, false, false, false));
  EXPECT_TRUE(record->SendFinalReport(false, false, false, false, false));
  EXPECT_EQ(Requests("online").size(), 3u);
  EXPECT_EQ(Requests("log").size(), 2u);  // the dropped one and the one that arrived
}

TEST_F(InstallStatisticsTest, WorkerMayFeedWhileTheWindowReports) {
  auto record = MakeRecord();
  record->SetClockForTesting(nullptr);  // the real clock: read from both threads
  record->MarkStarted();
  std::atomic<bool> stop{false};
  // The install worker and the progress page go on while the window closes.
  std::thread worker([&] {
    for (int i = 0; !stop.load(); ++i) {
      record->SetProgress(i % 100, i, i / 2, i % 2 == 0);
      record->MarkDownloadStart();
      record->SetMirrorLists({{"http://m/download/p", true, i, "m"}}, {});
      record->MarkDownloadEnd(true, 0, "", 0, "", "");
      record->MarkInstallStart();
      record->MarkInstallEnd(false, 1, "ERROR_" + std::to_string(i), false);
    }
  });
  EXPECT_TRUE(record->SendStartReport());
  EXPECT_TRUE(record->SendFinalReport(false, false, false, false, false));
  stop = true;
  worker.join();
  const std::string json = Requests("online").back().Field("json_data");
  EXPECT_FALSE(Keys(json).empty()) << json;
}

TEST_F(InstallStatisticsTest, UserIdFallsBackToTheRunId) {
  for (bool list_fails : {false, true}) {
    platform::FakeAdapters fake;
    fake.list_fails = list_fails;
    // Only virtual-machine and unusable addresses.
    if (!list_fails) {
      fake.adapters = {{"{V}", {0x08, 0x00, 0x27, 1, 2, 3}}, {"{Z}", {0, 0, 0, 0, 0, 0}}};
    }
    platform::SetFakeAdapters(fake);
    auto record = MakeRecord();
    EXPECT_EQ(record->user_id(), kRunId);
  }
}

TEST_F(InstallStatisticsTest, LogUploadRefusesMissingInput) {
  const std::string missing = test::SandboxPath("no/such/install.log");
  EXPECT_FALSE(UploadLog(LogUrl(), kRunId, missing, "Telviska", "install_fail"));
  EXPECT_FALSE(UploadLog(LogUrl(), "", log_path_, "Telviska", "install_fail"));
  EXPECT_FALSE(UploadLog(LogUrl(), kRunId, "", "Telviska", "install_fail"));
  EXPECT_FALSE(UploadLog(LogUrl(), kRunId, test::SandboxRoot(), "Telviska", "install_fail"));
  EXPECT_TRUE(Requests("log").empty());
  // A log server that never stops answering is cut off by the time limit.
  server_->SetScript("log", {"never"});
  EXPECT_FALSE(UploadLog(LogUrl(), kRunId, log_path_, "Telviska", "install_fail", 1));
  EXPECT_EQ(Requests("log").size(), 1u);
}

}  // namespace
}  // namespace zel
