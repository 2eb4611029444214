#include "tools/vendor-server/vendor_server.h"

#include <gtest/gtest.h>

#include "report/http_form.h"
#include "tests/common/sandbox.h"
#include "tests/report/report_test_util.h"

namespace zel {
namespace {

TEST(VendorServerTest, ScriptsAndAnswerNames) {
  EXPECT_EQ(vendor::ParseScript("res1, res1,ok,"),
            (std::vector<std::string>{"res1", "res1", "ok"}));
  EXPECT_TRUE(vendor::ParseScript("").empty());
  for (const char* name :
       {"ok", "false", "res1", "string", "nonjson", "huge", "never", "silent", "drop"}) {
    EXPECT_TRUE(vendor::IsKnownAnswer(name)) << name;
  }
  EXPECT_FALSE(vendor::IsKnownAnswer("sometimes"));
}

TEST(VendorServerTest, StoresEveryPartAsSent) {
  const std::string store = test::SandboxPath("server");
  vendor::VendorServer server(store);
  std::string error;
  ASSERT_TRUE(server.Start(0, &error)) << error;
  server.SetScript("online", {"res1", "ok"});

  // Content that looks like form syntax, a repeated name and a name that
  // tries to leave the folder.
  static constexpr char kTricky[] = "line\r\n--boundary\r\n\r\nend\0zero";
  const std::string tricky(kTricky, sizeof(kTricky) - 1);
  PostLimits limits;
  limits.timeout_seconds = 5;
  PostResult first = PostForm(server.BaseUrl() + "/api/install/online.php",
                              {TextPart("json_data", "{}"), TextPart("json_data", "again"),
                               FilePart("../escape", tricky, "x.bin")},
                              limits);
  ASSERT_TRUE(first.ok()) << first.error;
  EXPECT_EQ(first.body, "{\"result\":{\"res\":1}}");
  PostResult second = PostForm(server.BaseUrl() + "/api/install/online.php?x=1", {}, limits);
  EXPECT_EQ(second.body, "{\"result\":{\"res\":true}}");
  PostResult other = PostForm(server.BaseUrl() + "/elsewhere", {TextPart("a", "b")}, limits);
  EXPECT_EQ(other.http_status, 404);

  std::vector<test::StoredRequest> requests = test::ReadStore(store);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].endpoint, "online");
  ASSERT_EQ(requests[0].parts.size(), 3u);
  EXPECT_EQ(requests[0].parts[0].content, "{}");
  EXPECT_EQ(requests[0].parts[1].content, "again");
  EXPECT_EQ(requests[0].parts[2].name, "../escape");
  EXPECT_TRUE(requests[0].parts[2].is_file);
  EXPECT_EQ(requests[0].parts[2].file_name, "x.bin");
  EXPECT_EQ(requests[0].parts[2].content, tricky);
  EXPECT_EQ(requests[2].endpoint, "other");
  EXPECT_EQ(server.RequestCount(), 3);
  // Nothing was written outside the store.
  EXPECT_FALSE(std::filesystem::exists(test::SandboxPath("escape")));
}

TEST(VendorServerTest, RefusesAPortInUse) {
  vendor::VendorServer first(test::SandboxPath("a"));
  std::string error;
  ASSERT_TRUE(first.Start(0, &error)) << error;
  vendor::VendorServer second(test::SandboxPath("b"));
  EXPECT_FALSE(second.Start(first.port(), &error));
  EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
}

}  // namespace
}  // namespace zel
