#include "shell/debug_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "system/file_util.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

class DebugConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTestModeForTesting(); }
  void TearDown() override { ResetTestModeForTesting(); }
  void Write(const std::string& text) { test::WriteFile(ToNarrow(DebugConfigPath()), text); }
};

TEST_F(DebugConfigTest, LivesInDocuments) {
  EXPECT_EQ(ToNarrow(DebugConfigPath()), test::SandboxPath("home/Documents/ZelDebugConfig.ini"));
}

TEST_F(DebugConfigTest, OnlyOneCounts) {
  struct Case {
    const char* text;
    bool test_mode;
    bool info_view;
  } cases[] = {
      {"[root]\nsetup_test_mode=1\nshow_info_view=1\n", true, true},
      {"[root]\nsetup_test_mode=2\nshow_info_view=2\n", false, false},
      {"[ROOT]\r\n  Setup_Test_Mode = 1 \r\n", true, false},
      {"[other]\nsetup_test_mode=1\n", false, false},
      {"setup_test_mode=1\n", false, false},            // no section
      {"[root]\nsetup_test_mode=yes\n", false, false},  // not a number
      {"\x01\x02garbage\xff[root\nsetup_test_mode=1\n", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    ResetTestModeForTesting();
    Write(c.text);
    EXPECT_EQ(IsTestMode(), c.test_mode) << c.text;
    EXPECT_EQ(InfoViewConfigured(), c.info_view) << c.text;
  }
}

TEST_F(DebugConfigTest, TestLanguageIsAnyNumber) {
  Write("[root]\nsetup_test_language=1041\n");
  EXPECT_EQ(ReadDebugConfigInt(L"setup_test_language"), 1041);
  EXPECT_EQ(ReadDebugConfigInt(L"missing_key"), 0);
}

TEST_F(DebugConfigTest, TestModeStaysOnOnceSeen) {
  EXPECT_FALSE(IsTestMode());  // no file
  Write("[root]\nsetup_test_mode=1\n");
  EXPECT_TRUE(IsTestMode());  // created during the run: seen at the next query
  ::unlink(ToNarrow(DebugConfigPath()).c_str());
  EXPECT_TRUE(IsTestMode());
}

TEST_F(DebugConfigTest, UnreadableFileMeansDefaults) {
  // A folder in place of the file cannot be read as one.
  test::WriteFile(ToNarrow(DebugConfigPath()) + "/inner", "[root]\nsetup_test_mode=1\n");
  EXPECT_FALSE(IsTestMode());
  EXPECT_FALSE(InfoViewConfigured());
}

}  // namespace
}  // namespace zel
