#include "platform/locale.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/paths.h"

namespace zel::platform {
namespace {

// Keeps the locale environment of the process as it was.
class LocaleEnvTest : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      saved_[i] = GetEnv(kNames[i]);
      ::unsetenv(kNames[i]);
    }
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) {
      if (saved_[i]) {
        ::setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
  }

  std::optional<std::string> saved_[3];
};

TEST(LocaleTest, MapsLocaleNamesToLangIds) {
  struct Case {
    const char* locale;
    std::uint16_t lang_id;
  } cases[] = {
      {"de_DE.UTF-8", 0x0407},
      {"de_AT", 0x0C07},
      {"zh_CN.UTF-8", 0x0804},
      {"zh_TW", 0x0404},
      {"zh_SG", 0x1004},
      {"zh_HK.UTF-8", 0x0C04},
      {"zh", 0x0804},
      {"ca_ES", 0x0403},
      {"ca_ES.UTF-8@valencia", 0x0403},
      {"pt_BR", 0x0416},
      {"pt_PT", 0x0816},
      {"nb_NO", 0x0414},
      {"no_NO", 0x0414},
      {"nn_NO", 0x0814},
      {"ja_JP.eucJP", 0x0411},
      {"es_ES", 0x0C0A},
      {"es", 0x0C0A},
      {"es_MX", 0x080A},
      {"fr-CA", 0x0C0C},
      {"en_GB", 0x0809},
      {"sr_RS", 0x281A},
      {"sr_RS@latin", 0x241A},
      {"hr_HR", 0x041A},
      {"DE_de", 0x0407},  // case does not matter
      {"de_XX", 0x0407},  // unknown territory: default sublanguage
      {"C", kLangIdEnglishUs},
      {"POSIX", kLangIdEnglishUs},
      {"C.UTF-8", kLangIdEnglishUs},
      {"", kLangIdEnglishUs},
      {"eo_XX", kLangIdCustomUnspecified},  // no Windows number
      {"1x_ZZ", kLangIdCustomUnspecified},
      {"_US", kLangIdCustomUnspecified},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LangIdFromLocaleName(c.locale), c.lang_id) << '"' << c.locale << '"';
  }
}

TEST(LocaleTest, NamesLanguagesInEnglish) {
  struct Case {
    std::uint16_t lang_id;
    const char* name;
  } cases[] = {
      {0x0409, "English"},
      {0x0407, "German"},
      {0x0804, "Chinese"},
      {0x1004, "Chinese"},
      {0x0403, "Catalan"},
      {0x0C0A, "Spanish"},
      {0x0414, "Norwegian (Bokm\xC3\xA5l)"},
      {0x0814, "Norwegian (Nynorsk)"},
      {0x041A, "Croatian"},
      {0x241A, "Serbian"},
      {0x141A, "Bosnian"},
      {kLangIdCustomUnspecified, "Unknown"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LanguageNameOfLangId(c.lang_id), c.name) << c.lang_id;
}

TEST(LocaleTest, NamesFitTheCallersBuffer) {
  for (unsigned primary = 0; primary < 0x400; ++primary) {
    for (unsigned sub = 0; sub < 0x40; sub += 0x3F) {
      std::string name = LanguageNameOfLangId(static_cast<std::uint16_t>(sub << 10 | primary));
      EXPECT_FALSE(name.empty());
      EXPECT_LE(name.size(), kMaxEnglishLanguageNameLength) << name;
    }
  }
}

TEST_F(LocaleEnvTest, FirstNonEmptyVariableDecides) {
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    std::uint16_t lang_id;
    const char* name;
  } cases[] = {
      {"fr_FR.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", 0x040C, "French"},
      {"", "de_DE.UTF-8", "ja_JP.UTF-8", 0x0407, "German"},
      {nullptr, nullptr, "ja_JP.UTF-8", 0x0411, "Japanese"},
      {"", "", "", kLangIdEnglishUs, "English"},
      {nullptr, nullptr, nullptr, kLangIdEnglishUs, "English"},
  };
  for (const Case& c : cases) {
    const char* values[] = {c.lc_all, c.lc_messages, c.lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr) {
        ::setenv(kNames[i], values[i], 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
    EXPECT_EQ(SystemDefaultLangId(), c.lang_id) << c.name;
    EXPECT_EQ(UserDefaultLanguageName(), c.name);
  }
}

}  // namespace
}  // namespace zel::platform
