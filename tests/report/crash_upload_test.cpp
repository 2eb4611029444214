#include "report/crash_upload.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "platform/adapters.h"
#include "tests/common/sandbox.h"
#include "tests/report/report_test_util.h"
#include "tools/vendor-server/vendor_server.h"

namespace zel {
namespace {

using test::ReadStore;
using test::StoredRequest;

TEST(CrashJsonTest, CompactMembersInOrder) {
  EXPECT_EQ(BuildCrashJson("a4-5e-60-01-02-03", "German", "ABC", "Telviska"),
            "{\"version\":1015,\"user_id\":\"a4-5e-60-01-02-03\",\"language\":\"German\","
            "\"uuid\":\"ABC\",\"app_id\":\"Telviska\",\"install_status\":\"crash\"}");
  EXPECT_TRUE(std::regex_match(CrashDateText(), std::regex("20[0-9]{6}")));
}

class CrashUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::FakeAdapters fake;
    fake.adapters = {{"{A}", {0xa4, 0x5e, 0x60, 0x01, 0x02, 0x03}}};
    platform::SetFakeAdapters(fake);
    store_ = test::SandboxPath("server");
    server_ = std::make_unique<vendor::VendorServer>(store_);
    std::string error;
    ASSERT_TRUE(server_->Start(0, &error)) << error;
    dump_ = test::SandboxPath("home/Documents/Telviska/install.dmp");
    log_ = test::SandboxPath("home/Documents/Telviska/Log/install.log");
    test::WriteFile(dump_, "ZEL CRASH IMAGE 1\nsignal 11 SIGSEGV\n");
    test::WriteFile(log_, "00:00:00 : Init Log OK.\n");
  }
  void TearDown() override { platform::ResetFakeAdapters(); }

  std::string Url() const { return server_->BaseUrl() + "/api/install/index_crash.php"; }

  std::string store_, dump_, log_;
  std::unique_ptr<vendor::VendorServer> server_;
};

TEST_F(CrashUploadTest, SendsJsonDateImageAndLog) {
  CrashUploadExtras extras;
  extras.language = "French";
  ASSERT_TRUE(UploadCrash(Url(), "Telviska", dump_, log_, "CRASHID", extras));
  std::vector<StoredRequest> requests = ReadStore(store_);
  ASSERT_EQ(requests.size(), 1u);
  const StoredRequest& r = requests[0];
  EXPECT_EQ(r.endpoint, "crash");
  EXPECT_EQ(r.Names(), (std::vector<std::string>{"json_data", "app_id", "app_version", "crash_dump",
                                                 "crash_log"}));
  EXPECT_EQ(r.Field("json_data"),
            BuildCrashJson("a4-5e-60-01-02-03", "French", "CRASHID", "Telviska"));
  EXPECT_EQ(r.Field("app_id"), "Telviska");
  EXPECT_TRUE(std::regex_match(r.Field("app_version"), std::regex("[0-9]{8}")));
  EXPECT_EQ(r.Find("crash_dump")->file_name, "CRASHID.dmp");
  EXPECT_EQ(r.Find("crash_dump")->content, test::ReadFile(dump_));
  EXPECT_EQ(r.Find("crash_log")->file_name, "CRASHID.log");
  EXPECT_EQ(r.Find("crash_log")->content, test::ReadFile(log_));
}

TEST_F(CrashUploadTest, MissingPiecesAreLeftOut) {
  platform::SetFakeAdapters({});  // no adapter: empty user id
  CrashUploadExtras stale;
  stale.image_written = false;  // the image on disk is an earlier crash's
  ASSERT_TRUE(UploadCrash(Url(), "Telviska", dump_, test::SandboxPath("none.log"), "", stale));
  std::vector<StoredRequest> requests = ReadStore(store_);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Names(), (std::vector<std::string>{"json_data", "app_id", "app_version"}));
  EXPECT_EQ(requests[0].Field("json_data"), BuildCrashJson("", "English", "0000", "Telviska"));

  // Without a URL, an application id or a dump path nothing is sent.
  EXPECT_FALSE(UploadCrash("", "Telviska", dump_, log_, "X"));
  EXPECT_FALSE(UploadCrash(Url(), "", dump_, log_, "X"));
  EXPECT_FALSE(UploadCrash(Url(), "Telviska", "", log_, "X"));
  EXPECT_EQ(ReadStore(store_).size(), 1u);
}

TEST_F(CrashUploadTest, ReporterCommandLine) {
  const std::string url = Url();
  const char* good[] = {"zel-crash-reporter",
                        "--url",
                        url.c_str(),
                        "--app-id",
                        "Telviska",
                        "--dump",
                        dump_.c_str(),
                        "--log",
                        log_.c_str(),
                        "--crash-id",
                        "",
                        "--image-written",
                        "1"};
  EXPECT_EQ(RunCrashReporter(13, good), 0);
  std::vector<StoredRequest> requests = ReadStore(store_);
  ASSERT_EQ(requests.size(), 1u);
  // No crash id given: the reporter made one and named both files by it.
  const std::string json = requests[0].Field("json_data");
  std::smatch id;
  ASSERT_TRUE(std::regex_search(json, id, std::regex("\"uuid\":\"([0-9A-F]{32})\"")));
  EXPECT_EQ(requests[0].Find("crash_dump")->file_name, id[1].str() + ".dmp");
  EXPECT_EQ(requests[0].Find("crash_log")->file_name, id[1].str() + ".log");

  const char* no_url[] = {"r", "--app-id", "Telviska", "--dump", "d"};
  const char* odd[] = {"r", "--url"};
  const char* bad_timeout[] = {"r", "--url", "u", "--app-id", "a", "--dump", "d", "--timeout", "x"};
  EXPECT_EQ(RunCrashReporter(5, no_url), 2);
  EXPECT_EQ(RunCrashReporter(2, odd), 2);
  EXPECT_EQ(RunCrashReporter(9, bad_timeout), 2);

  server_->SetScript("crash", {"drop"});
  EXPECT_EQ(RunCrashReporter(13, good), 1);
}

}  // namespace
}  // namespace zel
