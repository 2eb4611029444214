#include "shell/language.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "shell/debug_config.h"
#include "shell/log.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

std::vector<std::string>* g_log_lines = nullptr;

int CaptureLog(const char* message) {
  if (g_log_lines != nullptr)
    g_log_lines->push_back(message);
  return 0;
}

// Every case starts with nothing selected, an English system and the log
// captured.
class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLanguageStateForTesting();
    for (int i = 0; i < 3; ++i) {
      saved_env_[i] = platform::GetEnv(kLocaleVars[i]);
      ::unsetenv(kLocaleVars[i]);
    }
    ::setenv("LANG", "en_US.UTF-8", 1);
    g_log_lines = &lines_;
    ILog::Instance().SetSink(&CaptureLog);
  }

  void TearDown() override {
    ILog::Instance().SetSink(nullptr);
    g_log_lines = nullptr;
    for (int i = 0; i < 3; ++i) {
      if (saved_env_[i]) {
        ::setenv(kLocaleVars[i], saved_env_[i]->c_str(), 1);
      } else {
        ::unsetenv(kLocaleVars[i]);
      }
    }
    ResetLanguageStateForTesting();
  }

  static void WriteDebugConfig(const std::string& contents) {
    test::WriteFile(ToNarrow(DebugConfigPath()), contents);
  }

  // The builtin table of |language| as the loader sees it: last row wins.
  static std::map<int, std::wstring> TextsOf(Language language) {
    LanguageTable table;
    EXPECT_TRUE(LoadBuiltinLanguageTable(language, &table));
    std::map<int, std::wstring> texts;
    for (const LanguageRow& row : table)
      texts[row.id] = row.text;
    return texts;
  }

  static constexpr const char* kLocaleVars[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_env_[3];
  std::vector<std::string> lines_;
};

TEST_F(LanguageTest, SelectsByLangId) {
  struct Case {
    std::uint16_t lang_id;
    Language language;
    const char* log_line;
    const char* name;
    const wchar_t* text44;  // tells the sixteen tables apart
  } cases[] = {
      {0x0403, Language::kSpanish, "Language is CATALA(XiBanYa), id = 1027", "Spanish",
       L"Comprobando los datos, espere..."},
      {0x0C0A, Language::kSpanish, "Language is SPANISH(XiBanYa), id = 3082", "Spanish",
       L"Comprobando los datos, espere..."},
      {0x080A, Language::kSpanish, "Language is SPANISH(XiBanYa), id = 2058", "Spanish",
       L"Comprobando los datos, espere..."},
      {0x0804, Language::kChineseSimplified, "Language is CHS(JianTi), id = 2052",
       "Chinese(Simplified)", L"正在校验数据，请稍候..."},
      {0x1004, Language::kChineseTraditional, "Language is ZH(FanTi), id = 4100",
       "Chinese(Traditional)", L"正在檢查資料，請稍候..."},
      {0x0404, Language::kChineseTraditional, "Language is ZH(FanTi), id = 1028",
       "Chinese(Traditional)", L"正在檢查資料，請稍候..."},
      {0x0405, Language::kCzech, "Language is CZ(JieKe), id = 1029", "Czech",
       L"Kontrola dat, čekejte prosím..."},
      {0x0407, Language::kGerman, "Language is DE(DeGuo), id = 1031", "German",
       L"Daten werden geprüft, bitte warten..."},
      {0x040C, Language::kFrench, "Language is FR(FaGuo), id = 1036", "French",
       L"Vérification des données, veuillez patienter..."},
      {0x040E, Language::kHungarian, "Language is HU(XiongYaLi), id = 1038", "Hungarian",
       L"Adatok ellenőrzése, kérjük, várjon..."},
      {0x0410, Language::kItalian, "Language is IT(YiDaLi), id = 1040", "Italian",
       L"Verifica dei dati in corso, attendere..."},
      {0x0411, Language::kJapanese, "Language is JP(RiBen), id = 1041", "Japanese",
       L"データを確認しています。しばらくお待ちください..."},
      {0x0413, Language::kDutch, "Language is NL(HeLan), id = 1043", "Dutch",
       L"Gegevens worden gecontroleerd, even geduld..."},
      {0x0814, Language::kNorwegian, "Language is NO(NuoWei), id = 2068", "Norwegian",
       L"Kontrollerer data, vent litt..."},
      {0x0415, Language::kPolish, "Language is PL(BoLan), id = 1045", "Polish",
       L"Sprawdzanie danych, proszę czekać..."},
      {0x0416, Language::kPortuguese, "Language is PT(PuTaoYa), id = 1046", "Portuguese",
       L"Verificando os dados, aguarde..."},
      {0x0419, Language::kRussian, "Language is RU(ErLuoSi), id = 1049", "Russian",
       L"Проверка данных, подождите..."},
      {0x041D, Language::kSwedish, "Language is SVE(RuiDian), id = 1053", "Swedish",
       L"Kontrollerar data, vänta..."},
      {0x0409, Language::kEnglish, "Language is EN, id = 1033", "English",
       L"Checking data, please wait..."},
      {0x0412, Language::kEnglish, "Language is EN, id = 1042", "English",  // Korean
       L"Checking data, please wait..."},
      {0xFFFF, Language::kEnglish, "Language is EN, id = 65535", "English",
       L"Checking data, please wait..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log_line);
    ResetLanguageStateForTesting();
    lines_.clear();
    EXPECT_TRUE(SelectLanguage(L"Telviska", c.lang_id));
    EXPECT_THAT(lines_, Contains(c.log_line));
    EXPECT_EQ(GetLanguageName(), c.name);
    EXPECT_EQ(GetText(44), c.text44);
    for (int i = 0; i < kLanguageWidthCount; ++i) {
      EXPECT_EQ(GetLayoutWidth(i), LayoutWidthOf(c.language, i)) << i;
    }
  }
}

// The records as the page layout expects them, one per language.
TEST(LanguageLayoutTest, WidthRecords) {
  struct Case {
    Language language;
    std::int32_t widths[6];
  } cases[] = {
      {Language::kSpanish, {80, 280, 80, 460, 180, 180}},
      {Language::kChineseSimplified, {52, 95, 52, 170, 180, 180}},
      {Language::kChineseTraditional, {52, 95, 52, 170, 180, 180}},
      {Language::kCzech, {90, 270, 90, 360, 300, 180}},
      {Language::kGerman, {105, 190, 105, 450, 180, 180}},
      {Language::kFrench, {85, 220, 90, 420, 300, 180}},
      {Language::kHungarian, {100, 220, 110, 410, 180, 180}},
      {Language::kItalian, {90, 270, 105, 480, 180, 180}},
      {Language::kJapanese, {52, 165, 52, 295, 320, 180}},
      {Language::kDutch, {103, 260, 103, 360, 180, 180}},
      {Language::kNorwegian, {65, 130, 75, 360, 200, 180}},
      {Language::kPolish, {85, 260, 72, 300, 180, 180}},
      {Language::kPortuguese, {75, 230, 85, 470, 180, 180}},
      {Language::kRussian, {88, 360, 143, 400, 180, 180}},
      {Language::kSwedish, {93, 160, 70, 320, 180, 180}},
      {Language::kEnglish, {75, 165, 55, 320, 240, 180}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(GetLanguageInfo(c.language).code);
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(LayoutWidthOf(c.language, i), c.widths[i]) << i;
    EXPECT_EQ(LayoutWidthOf(c.language, 6), 0);
    EXPECT_EQ(LayoutWidthOf(c.language, -1), 0);
  }
}

TEST_F(LanguageTest, CatalanGetsTheSpanishTextsAndWidths) {
  SelectLanguage(L"Telviska", 0x0403);
  EXPECT_EQ(GetText(0), L"Instalar");
  EXPECT_EQ(GetText(51), L"oficial");
  const std::int32_t widths[] = {80, 280, 80, 460, 180, 180};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(GetLayoutWidth(i), widths[i]);
}

TEST_F(LanguageTest, ChineseVariantsHaveTheirOwnTables) {
  SelectLanguage(L"Telviska", 0x1004);  // Singapore
  EXPECT_EQ(GetText(23), L"解除安裝");
  SelectLanguage(L"Telviska", 0x0804);  // PRC
  EXPECT_EQ(GetText(23), L"卸载");
  EXPECT_EQ(GetLayoutWidth(1), 95);
}

TEST_F(LanguageTest, ZeroTakesTheSystemLanguage) {
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  SelectLanguage(L"Telviska", 0);
  EXPECT_THAT(lines_, Contains("Language is DE(DeGuo), id = 1031"));
  EXPECT_EQ(GetText(12), L"Abbrechen");
  EXPECT_EQ(GetLanguageName(), "German");
}

TEST_F(LanguageTest, DebugConfigurationOverridesTheLanguage) {
  struct Case {
    const char* config;  // nullptr: no file
    std::uint16_t lang_id;
    const char* log_line;
  } cases[] = {
      {"[root]\nsetup_test_language=1041\n", 0, "Language is JP(RiBen), id = 1041"},
      {"[root]\nsetup_test_language=1041\n", 0x0407, "Language is JP(RiBen), id = 1041"},
      {"[root]\nsetup_test_language=66577\n", 0,
       "Language is JP(RiBen), id = 1041"},  // low 16 bits
      {"[root]\nsetup_test_language=0\n", 0, "Language is EN, id = 1033"},
      {"[root]\nsetup_test_language=abc\n", 0, "Language is EN, id = 1033"},
      {"[other]\nsetup_test_language=1041\n", 0, "Language is EN, id = 1033"},
      {nullptr, 0x0407, "Language is DE(DeGuo), id = 1031"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config != nullptr ? c.config : "no file");
    std::remove(ToNarrow(DebugConfigPath()).c_str());
    if (c.config != nullptr)
      WriteDebugConfig(c.config);
    ResetLanguageStateForTesting();
    lines_.clear();
    SelectLanguage(L"Telviska", c.lang_id);
    EXPECT_THAT(lines_, Contains(c.log_line));
  }
}

TEST_F(LanguageTest, NorwegianShowsTextsFiftyAndFiftyOneInEnglish) {
  SelectLanguage(L"Telviska", 0x0414);
  EXPECT_EQ(GetText(0), L"Installer");
  EXPECT_EQ(GetText(1), L"Tilpasset");
  EXPECT_EQ(GetText(50), L"Downloading setup file...");
  EXPECT_EQ(GetText(51), L"official");
}

TEST_F(LanguageTest, PortugueseLaterRowsWin) {
  SelectLanguage(L"Telviska", 0x0416);
  EXPECT_EQ(GetText(39),
            L"É necessário reiniciar o computador para instalar a nova versão. Deseja continuar?");
  EXPECT_EQ(GetText(40), L"Reiniciar agora");
}

TEST_F(LanguageTest, NothingBeforeASelection) {
  EXPECT_EQ(GetText(9), L"UnKnow");
  EXPECT_EQ(GetLanguageName(), "English");
  EXPECT_EQ(GetLayoutWidth(0), 0);
  EXPECT_EQ(GetLayoutWidth(4), 0);
  // The substitution name is "Demo" until a selection names the product.
  LoadLanguageTable({{9, L"Start __PRODUCT_NAME__"}});
  EXPECT_EQ(GetText(9), L"Start Demo");
}

TEST_F(LanguageTest, UnknownIdsAndIndexes) {
  SelectLanguage(L"Telviska", 0x0409);
  for (int id : {-1, 52, 1000})
    EXPECT_EQ(GetText(id), L"UnKnow") << id;
  EXPECT_EQ(GetLayoutWidth(6), 0);
  EXPECT_EQ(GetLayoutWidth(-1), 0);
  EXPECT_EQ(GetLayoutWidth(5), 180);
}

TEST_F(LanguageTest, ProductNameIsSubstituted) {
  SelectLanguage(L"Telviska", 0x0409);
  EXPECT_EQ(GetText(46), L"Telviska Online");
  EXPECT_EQ(GetText(47), L"Uninstall Telviska");
  EXPECT_EQ(GetText(49), L"Installation will start automatically in XXX seconds.");
  // Only the first name counts; a later call still reloads the tables.
  SelectLanguage(L"Other", 0x0407);
  EXPECT_EQ(GetText(46), L"Telviska Online");
  EXPECT_EQ(GetText(47), L"Telviska deinstallieren");
}

TEST_F(LanguageTest, NullNameKeepsDemoUntilANameComes) {
  SelectLanguage(nullptr, 0x0409);
  EXPECT_EQ(GetText(9), L"Start Demo");
  SelectLanguage(L"Telviska", 0x0409);
  EXPECT_EQ(GetText(9), L"Start Telviska");
}

TEST_F(LanguageTest, ReplacementIsNotSearchedAgain) {
  SelectLanguage(L"__PRODUCT_NAME__!", 0x0409);
  LoadLanguageTable({{9, L"__PRODUCT_NAME__ and __PRODUCT_NAME__"}});
  EXPECT_EQ(GetText(9), L"__PRODUCT_NAME__! and __PRODUCT_NAME__!");
}

TEST_F(LanguageTest, LoadLanguageTableAppliesRowsInOrder) {
  SelectLanguage(L"Telviska", 0x0409);
  LoadLanguageTable({{0, L"first"}, {0, L"second"}, {1, L"other"}});
  EXPECT_EQ(GetText(0), L"second");
  EXPECT_EQ(GetText(1), L"other");
  EXPECT_EQ(GetText(2), L"Accept");  // untouched ids keep their text
}

TEST_F(LanguageTest, TextsAreReadableFromManyThreads) {
  SelectLanguage(L"Telviska", 0x0409);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        std::wstring text = GetText(46);
        ASSERT_EQ(text, L"Telviska Online");
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
}

TEST(LanguageTableParseTest, ReadsRowsEscapesAndComments) {
  const std::string data =
      "\xEF\xBB\xBF# a note\n"
      "\n"
      "0\tFirst\r\n"
      "35\t Leading blank\n"
      "13\tLine\\nbreak, tab\\t, backslash \\\\\n"
      "0\tAgain\n"
      "7\t\xE5\x8A\xA0\xE5\x85\xA5";  // no final new line
  LanguageTable table;
  std::string error;
  ASSERT_TRUE(ParseLanguageTable(data, &table, &error)) << error;
  ASSERT_EQ(table.size(), 5u);
  EXPECT_EQ(table[0].id, 0);
  EXPECT_EQ(table[0].text, L"First");
  EXPECT_EQ(table[1].text, L" Leading blank");
  EXPECT_EQ(table[2].text, L"Line\nbreak, tab\t, backslash \\");
  EXPECT_EQ(table[3].id, 0);
  EXPECT_EQ(table[3].text, L"Again");
  EXPECT_EQ(table[4].text, L"加入");
}

TEST(LanguageTableParseTest, RefusesDamagedTablesWhole) {
  struct Case {
    std::string data;
    const char* error;
  } cases[] = {
      {"0\tok\n5 no tab\n", "line 2: no tab after the id"},
      {"52\tout of range\n", "line 1: the id is not a number from 0 to 51"},
      {"-1\tnegative\n", "line 1: the id is not a number from 0 to 51"},
      {"x\tletters\n", "line 1: the id is not a number from 0 to 51"},
      {"\tno id\n", "line 1: the id is not a number from 0 to 51"},
      {"007\tthree digits\n", "line 1: the id is not a number from 0 to 51"},
      {"1\tbad \\q escape\n", "line 1: unknown escape \\q"},
      {"1\tends with \\\n", "line 1: a lone backslash ends the text"},
      {"1\tbyte \xFF\n", "line 1: invalid UTF-8"},
      {"1\toverlong \xC0\xAF\n", "line 1: invalid UTF-8"},
      {"1\tsurrogate \xED\xA0\x80\n", "line 1: invalid UTF-8"},
      {"1\tcut \xE5\x8A\n", "line 1: invalid UTF-8"},
      {"1\tbeyond \xF4\x90\x80\x80\n", "line 1: invalid UTF-8"},
      {std::string("1\tnul \0 inside\n", 15), "line 1: control character in the text"},
      {"1\tbell \x07\n", "line 1: control character in the text"},
  };
  for (const Case& c : cases) {
    LanguageTable table = {{3, L"kept"}};
    std::string error;
    EXPECT_FALSE(ParseLanguageTable(c.data, &table, &error)) << c.data;
    EXPECT_EQ(error, c.error) << c.data;
    ASSERT_EQ(table.size(), 1u);  // nothing half-parsed is handed out
    EXPECT_EQ(table[0].text, L"kept");
  }
}

// ---- The sixteen builtin tables ----

int Count(const std::wstring& text, const std::wstring& what) {
  int n = 0;
  for (std::size_t pos = text.find(what); pos != std::wstring::npos;
       pos = text.find(what, pos + what.size())) {
    ++n;
  }
  return n;
}

bool StartsWithBlankInTable(Language l) {
  switch (l) {
    case Language::kFrench:
    case Language::kRussian:
    case Language::kSpanish:
    case Language::kHungarian:
    case Language::kItalian:
    case Language::kDutch:
    case Language::kNorwegian:
    case Language::kPolish:
    case Language::kPortuguese:
    case Language::kSwedish:
      return true;
    default:
      return false;
  }
}

TEST_F(LanguageTest, EveryTableIsComplete) {
  const std::map<int, std::wstring> english = TextsOf(Language::kEnglish);
  ASSERT_EQ(english.size(), static_cast<std::size_t>(kTextIdCount));
  const std::wstring host(kTableWebHost);

  ASSERT_EQ(AllLanguages().size(), static_cast<std::size_t>(kLanguageCount));
  for (const LanguageInfo& info : AllLanguages()) {
    SCOPED_TRACE(info.code);
    LanguageTable table;
    ASSERT_TRUE(LoadBuiltinLanguageTable(info.language, &table));  // parsed: valid UTF-8
    std::map<int, std::wstring> texts;
    std::map<int, int> rows;
    for (const LanguageRow& row : table) {
      texts[row.id] = row.text;
      ++rows[row.id];
    }

    for (int id = 0; id < kTextIdCount; ++id) {
      SCOPED_TRACE(id);
      const bool lacking = info.language == Language::kNorwegian && (id == 50 || id == 51);
      if (lacking) {
        EXPECT_EQ(texts.count(id), 0u);
        continue;
      }
      ASSERT_EQ(texts.count(id), 1u);
      const std::wstring& text = texts[id];
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(text.find(L'\uFFFD'), std::wstring::npos);
      EXPECT_EQ(Count(text, kProductNamePlaceholder),
                Count(english.at(id), kProductNamePlaceholder));
      EXPECT_EQ(Count(text, L"XXX"), Count(english.at(id), L"XXX"));
      const int expected_rows =
          info.language == Language::kPortuguese && (id == 39 || id == 40) ? 2 : 1;
      EXPECT_EQ(rows[id], expected_rows);
    }

    // The host closes texts 41 and 42, at most a full stop after it.
    for (int id : {41, 42}) {
      std::wstring text = texts[id];
      if (!text.empty() && text.back() == L'.')
        text.pop_back();
      EXPECT_TRUE(text.size() > host.size() && text.ends_with(host)) << id;
      EXPECT_EQ(Count(texts[id], host), 1) << id;
    }
    // Appended to the product name in shortcut descriptions.
    if (StartsWithBlankInTable(info.language)) {
      for (int id = 35; id <= 38; ++id)
        EXPECT_EQ(texts[id].front(), L' ') << id;
    }
    // Shortcut file names.
    for (int id : {46, 47}) {
      EXPECT_EQ(texts[id].find_first_of(L"\\/:*?\"<>|\n\t"), std::wstring::npos) << id;
    }
    // Replaces one word of the version label.
    if (texts.count(51) != 0) {
      EXPECT_EQ(texts[51].find(L' '), std::wstring::npos);
    }
  }
}

TEST_F(LanguageTest, PortugueseKeepsEnglishRowsFirst) {
  const std::map<int, std::wstring> english = TextsOf(Language::kEnglish);
  LanguageTable table;
  ASSERT_TRUE(LoadBuiltinLanguageTable(Language::kPortuguese, &table));
  for (int id : {39, 40}) {
    std::vector<std::wstring> seen;
    for (const LanguageRow& row : table) {
      if (row.id == id)
        seen.push_back(row.text);
    }
    ASSERT_EQ(seen.size(), 2u) << id;
    EXPECT_EQ(seen[0], english.at(id));
    EXPECT_NE(seen[1], english.at(id));
  }
}

TEST_F(LanguageTest, EnglishTableIsTheProductsOwn) {
  const std::map<int, std::wstring> english = TextsOf(Language::kEnglish);
  EXPECT_EQ(english.at(28), L"Windows XP is not suppoeted anymore.");
  EXPECT_EQ(english.at(13),
            L"Cannot proceed with the installation as __PRODUCT_NAME__ is already running. Please "
            L"close it to try again or force close.");
  EXPECT_EQ(english.at(41),
            L"Download failed, please retry or download the offline installer "
            L"from www.zel-installer.invalid.");
  EXPECT_EQ(english.at(51), L"official");
}

// Whether every text fits the control it is drawn into is measured in the
// UI font by language_fit_tests (language_fit_test.cpp).

}  // namespace
}  // namespace zel
