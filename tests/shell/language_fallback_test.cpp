// A program whose Japanese table is damaged and whose German table is
// missing: the selection must fall back to English as a whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/language.h"
#include "shell/log.h"

namespace zel {
namespace {

using ::testing::Contains;

std::vector<std::string>* g_log_lines = nullptr;

int CaptureLog(const char* message) {
  if (g_log_lines != nullptr)
    g_log_lines->push_back(message);
  return 0;
}

class LanguageFallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLanguageStateForTesting();
    g_log_lines = &lines_;
    ILog::Instance().SetSink(&CaptureLog);
  }
  void TearDown() override {
    ILog::Instance().SetSink(nullptr);
    g_log_lines = nullptr;
    ResetLanguageStateForTesting();
  }

  void ExpectWholeEnglish() {
    EXPECT_THAT(lines_, Contains("Language falls back to English."));
    EXPECT_EQ(GetLanguageName(), "English");
    EXPECT_EQ(GetText(0), L"Click to Install");
    EXPECT_EQ(GetText(2), L"Accept");
    EXPECT_EQ(GetLayoutWidth(0), 75);
    EXPECT_EQ(GetLayoutWidth(4), 240);
  }

  std::vector<std::string> lines_;
};

TEST_F(LanguageFallbackTest, DamagedTableIsNotUsedAtAll) {
  SelectLanguage(L"Telviska", 0x0411);
  EXPECT_THAT(lines_, Contains("Language is JP(RiBen), id = 1041"));
  EXPECT_THAT(lines_,
              Contains("Language table ja (resource 1009) is damaged, line 3: invalid UTF-8."));
  ExpectWholeEnglish();

  LanguageTable table = {{1, L"kept"}};
  EXPECT_FALSE(LoadBuiltinLanguageTable(Language::kJapanese, &table));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].text, L"kept");
}

TEST_F(LanguageFallbackTest, MissingTableFallsBackToEnglish) {
  SelectLanguage(L"Telviska", 0x0407);
  EXPECT_THAT(lines_, Contains("Language is DE(DeGuo), id = 1031"));
  EXPECT_THAT(lines_, Contains("Language table de (resource 1005) is missing."));
  ExpectWholeEnglish();
}

}  // namespace
}  // namespace zel
