#include "platform/locale.h"

#include <cctype>
#include <optional>

#include "platform/paths.h"

namespace zel::platform {
namespace {

constexpr std::uint16_t MakeLangId(std::uint16_t primary, std::uint16_t sub) {
  return static_cast<std::uint16_t>((sub << 10) | primary);
}

struct LanguageEntry {
  const char* code;  // ISO 639 code as POSIX locales write it
  std::uint16_t primary;
  std::uint16_t default_sub;
  const char* name;  // LOCALE_SENGLANGUAGE
};

// Windows' primary language numbers and their default sublanguages.
constexpr LanguageEntry kLanguages[] = {
    {"ar", 0x01, 0x01, "Arabic"},
    {"bg", 0x02, 0x01, "Bulgarian"},
    {"ca", 0x03, 0x01, "Catalan"},
    {"zh", 0x04, 0x02, "Chinese"},  // a bare "zh" is taken as the mainland's
    {"cs", 0x05, 0x01, "Czech"},
    {"da", 0x06, 0x01, "Danish"},
    {"de", 0x07, 0x01, "German"},
    {"el", 0x08, 0x01, "Greek"},
    {"en", 0x09, 0x01, "English"},
    {"es", 0x0A, 0x03, "Spanish"},  // modern sort, as Windows picks for Spain
    {"fi", 0x0B, 0x01, "Finnish"},
    {"fr", 0x0C, 0x01, "French"},
    {"he", 0x0D, 0x01, "Hebrew"},
    {"iw", 0x0D, 0x01, "Hebrew"},  // the old code some systems still use
    {"hu", 0x0E, 0x01, "Hungarian"},
    {"is", 0x0F, 0x01, "Icelandic"},
    {"it", 0x10, 0x01, "Italian"},
    {"ja", 0x11, 0x01, "Japanese"},
    {"ko", 0x12, 0x01, "Korean"},
    {"nl", 0x13, 0x01, "Dutch"},
    {"nb", 0x14, 0x01, "Norwegian (Bokm\xC3\xA5l)"},
    {"no", 0x14, 0x01, "Norwegian (Bokm\xC3\xA5l)"},
    {"nn", 0x14, 0x02, "Norwegian (Nynorsk)"},
    {"pl", 0x15, 0x01, "Polish"},
    {"pt", 0x16, 0x01, "Portuguese"},
    {"ro", 0x18, 0x01, "Romanian"},
    {"ru", 0x19, 0x01, "Russian"},
    {"hr", 0x1A, 0x01, "Croatian"},
    {"sr", 0x1A, 0x0A, "Serbian"},  // Serbia, Cyrillic
    {"bs", 0x1A, 0x05, "Bosnian"},  // Latin
    {"sk", 0x1B, 0x01, "Slovak"},
    {"sq", 0x1C, 0x01, "Albanian"},
    {"sv", 0x1D, 0x01, "Swedish"},
    {"th", 0x1E, 0x01, "Thai"},
    {"tr", 0x1F, 0x01, "Turkish"},
    {"ur", 0x20, 0x01, "Urdu"},
    {"id", 0x21, 0x01, "Indonesian"},
    {"uk", 0x22, 0x01, "Ukrainian"},
    {"be", 0x23, 0x01, "Belarusian"},
    {"sl", 0x24, 0x01, "Slovenian"},
    {"et", 0x25, 0x01, "Estonian"},
    {"lv", 0x26, 0x01, "Latvian"},
    {"lt", 0x27, 0x01, "Lithuanian"},
    {"fa", 0x29, 0x01, "Persian"},
    {"vi", 0x2A, 0x01, "Vietnamese"},
    {"hy", 0x2B, 0x01, "Armenian"},
    {"eu", 0x2D, 0x01, "Basque"},
    {"mk", 0x2F, 0x01, "Macedonian"},
    {"af", 0x36, 0x01, "Afrikaans"},
    {"ka", 0x37, 0x01, "Georgian"},
    {"hi", 0x39, 0x01, "Hindi"},
    {"ga", 0x3C, 0x02, "Irish"},
    {"ms", 0x3E, 0x01, "Malay"},
    {"kk", 0x3F, 0x01, "Kazakh"},
    {"sw", 0x41, 0x01, "Kiswahili"},
    {"bn", 0x45, 0x01, "Bangla"},
    {"ta", 0x49, 0x01, "Tamil"},
    {"cy", 0x52, 0x01, "Welsh"},
    {"gl", 0x56, 0x01, "Galician"},
    {"fil", 0x64, 0x01, "Filipino"},
};

struct TerritoryEntry {
  const char* code;
  const char* territory;
  const char* modifier;  // nullptr: any
  std::uint16_t sub;
};

// Territories whose sublanguage differs from the language's default.
constexpr TerritoryEntry kTerritories[] = {
    {"zh", "TW", nullptr, 0x01},    {"zh", "CN", nullptr, 0x02}, {"zh", "HK", nullptr, 0x03},
    {"zh", "SG", nullptr, 0x04},    {"zh", "MO", nullptr, 0x05}, {"pt", "BR", nullptr, 0x01},
    {"pt", "PT", nullptr, 0x02},    {"en", "US", nullptr, 0x01}, {"en", "GB", nullptr, 0x02},
    {"en", "AU", nullptr, 0x03},    {"en", "CA", nullptr, 0x04}, {"en", "NZ", nullptr, 0x05},
    {"en", "IE", nullptr, 0x06},    {"en", "ZA", nullptr, 0x07}, {"en", "IN", nullptr, 0x10},
    {"en", "SG", nullptr, 0x12},    {"es", "ES", nullptr, 0x03}, {"es", "MX", nullptr, 0x02},
    {"es", "GT", nullptr, 0x04},    {"es", "CR", nullptr, 0x05}, {"es", "PA", nullptr, 0x06},
    {"es", "DO", nullptr, 0x07},    {"es", "VE", nullptr, 0x08}, {"es", "CO", nullptr, 0x09},
    {"es", "PE", nullptr, 0x0A},    {"es", "AR", nullptr, 0x0B}, {"es", "EC", nullptr, 0x0C},
    {"es", "CL", nullptr, 0x0D},    {"es", "UY", nullptr, 0x0E}, {"es", "PY", nullptr, 0x0F},
    {"es", "BO", nullptr, 0x10},    {"es", "SV", nullptr, 0x11}, {"es", "HN", nullptr, 0x12},
    {"es", "NI", nullptr, 0x13},    {"es", "PR", nullptr, 0x14}, {"es", "US", nullptr, 0x15},
    {"fr", "FR", nullptr, 0x01},    {"fr", "BE", nullptr, 0x02}, {"fr", "CA", nullptr, 0x03},
    {"fr", "CH", nullptr, 0x04},    {"fr", "LU", nullptr, 0x05}, {"fr", "MC", nullptr, 0x06},
    {"de", "DE", nullptr, 0x01},    {"de", "CH", nullptr, 0x02}, {"de", "AT", nullptr, 0x03},
    {"de", "LU", nullptr, 0x04},    {"de", "LI", nullptr, 0x05}, {"it", "IT", nullptr, 0x01},
    {"it", "CH", nullptr, 0x02},    {"nl", "NL", nullptr, 0x01}, {"nl", "BE", nullptr, 0x02},
    {"sv", "SE", nullptr, 0x01},    {"sv", "FI", nullptr, 0x02}, {"ar", "SA", nullptr, 0x01},
    {"ar", "IQ", nullptr, 0x02},    {"ar", "EG", nullptr, 0x03}, {"ar", "MA", nullptr, 0x06},
    {"ar", "AE", nullptr, 0x0E},    {"ms", "MY", nullptr, 0x01}, {"ms", "BN", nullptr, 0x02},
    {"sr", nullptr, "latin", 0x09},  // Serbia, Latin
    {"sr", "ME", "latin", 0x0B},    {"sr", "ME", nullptr, 0x0C}, {"sr", "BA", "latin", 0x06},
    {"sr", "BA", nullptr, 0x07},
};

// Names that depend on the sublanguage, not only on the primary language.
struct NameEntry {
  std::uint16_t lang_id;
  const char* name;
};
constexpr NameEntry kSublanguageNames[] = {
    {MakeLangId(0x14, 0x02), "Norwegian (Nynorsk)"},
    {MakeLangId(0x1A, 0x02), "Serbian"},
    {MakeLangId(0x1A, 0x03), "Serbian"},
    {MakeLangId(0x1A, 0x06), "Serbian"},
    {MakeLangId(0x1A, 0x07), "Serbian"},
    {MakeLangId(0x1A, 0x09), "Serbian"},
    {MakeLangId(0x1A, 0x0A), "Serbian"},
    {MakeLangId(0x1A, 0x0B), "Serbian"},
    {MakeLangId(0x1A, 0x0C), "Serbian"},
    {MakeLangId(0x1A, 0x05), "Bosnian"},
    {MakeLangId(0x1A, 0x08), "Bosnian"},
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool AllAlpha(std::string_view s) {
  if (s.empty())
    return false;
  for (char c : s) {
    if (!std::isalpha(static_cast<unsigned char>(c)))
      return false;
  }
  return true;
}

const LanguageEntry* FindLanguage(std::string_view code) {
  for (const LanguageEntry& e : kLanguages) {
    if (code == e.code)
      return &e;
  }
  return nullptr;
}

// Cuts |text| to at most |limit| bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, std::size_t limit) {
  if (text.size() <= limit)
    return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  text.resize(end);
  return text;
}

}  // namespace

std::string EnvironmentLocaleName() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::optional<std::string> value = GetEnv(name);
    if (value && !value->empty())
      return *value;
  }
  return std::string();
}

std::uint16_t LangIdFromLocaleName(std::string_view locale_name) {
  std::string_view rest = locale_name;
  std::string_view modifier;
  if (std::size_t at = rest.find('@'); at != std::string_view::npos) {
    modifier = rest.substr(at + 1);
    rest = rest.substr(0, at);
  }
  if (std::size_t dot = rest.find('.'); dot != std::string_view::npos)
    rest = rest.substr(0, dot);
  if (rest.empty() || rest == "C" || rest == "POSIX")
    return kLangIdEnglishUs;

  std::string_view language = rest;
  std::string_view territory;
  if (std::size_t sep = rest.find_first_of("_-"); sep != std::string_view::npos) {
    language = rest.substr(0, sep);
    territory = rest.substr(sep + 1);
  }
  if (!AllAlpha(language))
    return kLangIdCustomUnspecified;
  const std::string code = Lower(language);
  const LanguageEntry* entry = FindLanguage(code);
  if (entry == nullptr)
    return kLangIdCustomUnspecified;

  const std::string region = Upper(territory);
  const std::string mod = Lower(modifier);
  std::uint16_t sub = entry->default_sub;
  // The most specific match wins: territory and modifier, then either alone.
  int best = -1;
  for (const TerritoryEntry& t : kTerritories) {
    if (code != t.code)
      continue;
    bool territory_ok = t.territory == nullptr || region == t.territory;
    bool modifier_ok = t.modifier == nullptr || mod == t.modifier;
    if (!territory_ok || !modifier_ok)
      continue;
    int score = (t.territory != nullptr ? 2 : 0) + (t.modifier != nullptr ? 1 : 0);
    if (score > best) {
      best = score;
      sub = t.sub;
    }
  }
  return MakeLangId(entry->primary, sub);
}

std::string LanguageNameOfLangId(std::uint16_t lang_id) {
  for (const NameEntry& n : kSublanguageNames) {
    if (n.lang_id == lang_id)
      return n.name;
  }
  const std::uint16_t primary = lang_id & 0x3FF;
  for (const LanguageEntry& e : kLanguages) {
    if (e.primary == primary)
      return CutUtf8(e.name, kMaxEnglishLanguageNameLength);
  }
  return "Unknown";
}

std::uint16_t SystemDefaultLangId() {
  return LangIdFromLocaleName(EnvironmentLocaleName());
}

std::string UserDefaultLanguageName() {
  return CutUtf8(LanguageNameOfLangId(SystemDefaultLangId()), kMaxEnglishLanguageNameLength);
}

}  // namespace zel::platform
