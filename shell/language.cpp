#include "shell/language.h"

#include <atomic>
#include <map>
#include <mutex>

#include "platform/locale.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "shell/debug_config.h"
#include "shell/log.h"

namespace zel {
namespace {

// Initialised data, so the record sits in the program image where a tool
// can patch it.
LanguageLayoutRecords g_layout_records = {
    {'B', 'e', 'x', 'o', 'r', 'l', 'i', 'n'},
    {
        {80, 280, 80, 460, 180, 180},    // Spanish (and Catalan)
        {52, 95, 52, 170, 180, 180},     // Chinese (simplified)
        {52, 95, 52, 170, 180, 180},     // Chinese (traditional)
        {90, 270, 90, 360, 300, 180},    // Czech
        {105, 190, 105, 450, 180, 180},  // German
        {85, 220, 90, 420, 300, 180},    // French
        {100, 220, 110, 410, 180, 180},  // Hungarian
        {90, 270, 105, 480, 180, 180},   // Italian
        {52, 165, 52, 295, 320, 180},    // Japanese
        {103, 260, 103, 360, 180, 180},  // Dutch
        {65, 130, 75, 360, 200, 180},    // Norwegian
        {85, 260, 72, 300, 180, 180},    // Polish
        {75, 230, 85, 470, 180, 180},    // Portuguese
        {88, 360, 143, 400, 180, 180},   // Russian
        {93, 160, 70, 320, 180, 180},    // Swedish
        {75, 165, 55, 320, 240, 180},    // English
    },
};

constexpr LanguageInfo kLanguages[kLanguageCount] = {
    {Language::kSpanish, "es", "Spanish", kLanguageResourceBase + 1},
    {Language::kChineseSimplified, "zh_CN", "Chinese(Simplified)", kLanguageResourceBase + 2},
    {Language::kChineseTraditional, "zh_TW", "Chinese(Traditional)", kLanguageResourceBase + 3},
    {Language::kCzech, "cs", "Czech", kLanguageResourceBase + 4},
    {Language::kGerman, "de", "German", kLanguageResourceBase + 5},
    {Language::kFrench, "fr", "French", kLanguageResourceBase + 6},
    {Language::kHungarian, "hu", "Hungarian", kLanguageResourceBase + 7},
    {Language::kItalian, "it", "Italian", kLanguageResourceBase + 8},
    {Language::kJapanese, "ja", "Japanese", kLanguageResourceBase + 9},
    {Language::kDutch, "nl", "Dutch", kLanguageResourceBase + 10},
    {Language::kNorwegian, "nb", "Norwegian", kLanguageResourceBase + 11},
    {Language::kPolish, "pl", "Polish", kLanguageResourceBase + 12},
    {Language::kPortuguese, "pt", "Portuguese", kLanguageResourceBase + 13},
    {Language::kRussian, "ru", "Russian", kLanguageResourceBase + 14},
    {Language::kSwedish, "sv", "Swedish", kLanguageResourceBase + 15},
    {Language::kEnglish, "en", "English", kLanguageResourceBase + 0},
};

constexpr int kAnySublanguage = -1;

struct SelectionRow {
  std::uint16_t primary;
  int sublanguage;
  Language language;
  const char* log_format;
};

// First match wins; no match selects English.
constexpr SelectionRow kSelection[] = {
    {0x03, kAnySublanguage, Language::kSpanish, "Language is CATALA(XiBanYa), id = %d"},
    {0x04, 2, Language::kChineseSimplified, "Language is CHS(JianTi), id = %d"},
    {0x04, kAnySublanguage, Language::kChineseTraditional, "Language is ZH(FanTi), id = %d"},
    {0x05, kAnySublanguage, Language::kCzech, "Language is CZ(JieKe), id = %d"},
    {0x07, kAnySublanguage, Language::kGerman, "Language is DE(DeGuo), id = %d"},
    {0x0A, kAnySublanguage, Language::kSpanish, "Language is SPANISH(XiBanYa), id = %d"},
    {0x0C, kAnySublanguage, Language::kFrench, "Language is FR(FaGuo), id = %d"},
    {0x0E, kAnySublanguage, Language::kHungarian, "Language is HU(XiongYaLi), id = %d"},
    {0x10, kAnySublanguage, Language::kItalian, "Language is IT(YiDaLi), id = %d"},
    {0x11, kAnySublanguage, Language::kJapanese, "Language is JP(RiBen), id = %d"},
    {0x13, kAnySublanguage, Language::kDutch, "Language is NL(HeLan), id = %d"},
    {0x14, kAnySublanguage, Language::kNorwegian, "Language is NO(NuoWei), id = %d"},
    {0x15, kAnySublanguage, Language::kPolish, "Language is PL(BoLan), id = %d"},
    {0x16, kAnySublanguage, Language::kPortuguese, "Language is PT(PuTaoYa), id = %d"},
    {0x19, kAnySublanguage, Language::kRussian, "Language is RU(ErLuoSi), id = %d"},
    {0x1D, kAnySublanguage, Language::kSwedish, "Language is SVE(RuiDian), id = %d"},
};
constexpr char kEnglishLogFormat[] = "Language is EN, id = %d";

struct State {
  std::mutex lock;
  std::map<int, std::wstring> texts;
  std::wstring product_name = kDefaultProductName;
  bool product_name_fixed = false;
  std::string language_name = "English";
  std::atomic<int> selected{-1};  // language index; -1 before a selection
};

State& GetState() {
  static State state;
  return state;
}

int IndexOf(Language language) {
  return static_cast<int>(language);
}

// Length of the valid UTF-8 sequence at |s|[0], or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF are refused).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80)
    return 1;
  std::size_t n;
  std::uint32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n)
    return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80)
      return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF)
    return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF)
    return 0;
  return n;
}

// Checks the raw text of one row and resolves its escapes.
bool DecodeText(std::string_view raw, std::string* out, std::string* reason) {
  out->clear();
  for (std::size_t i = 0; i < raw.size();) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c == '\\') {
      if (i + 1 >= raw.size()) {
        *reason = "a lone backslash ends the text";
        return false;
      }
      switch (raw[i + 1]) {
        case 'n':
          out->push_back('\n');
          break;
        case 't':
          out->push_back('\t');
          break;
        case '\\':
          out->push_back('\\');
          break;
        default:
          *reason = std::string("unknown escape \\") + raw[i + 1];
          return false;
      }
      i += 2;
      continue;
    }
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      *reason = "control character in the text";
      return false;
    }
    std::size_t n = Utf8SequenceLength(raw.substr(i));
    if (n == 0) {
      *reason = "invalid UTF-8";
      return false;
    }
    out->append(raw.substr(i, n));
    i += n;
  }
  return true;
}

std::wstring Substitute(std::wstring text, const std::wstring& name) {
  const std::wstring_view placeholder(kProductNamePlaceholder);
  std::size_t pos = 0;
  while ((pos = text.find(placeholder, pos)) != std::wstring::npos) {
    text.replace(pos, placeholder.size(), name);
    pos += name.size();  // a name holding the placeholder is not searched again
  }
  return text;
}

void ApplyRows(State& state, const LanguageTable& table) {
  for (const LanguageRow& row : table)
    state.texts[row.id] = row.text;
}

}  // namespace

std::span<const LanguageInfo> AllLanguages() {
  return kLanguages;
}

const LanguageInfo& GetLanguageInfo(Language language) {
  return kLanguages[IndexOf(language)];
}

Language LanguageForLangId(std::uint16_t lang_id, const char** log_format) {
  const std::uint16_t primary = lang_id & 0x3FF;
  const int sublanguage = lang_id >> 10;
  for (const SelectionRow& row : kSelection) {
    if (row.primary != primary)
      continue;
    if (row.sublanguage != kAnySublanguage && row.sublanguage != sublanguage)
      continue;
    if (log_format != nullptr)
      *log_format = row.log_format;
    return row.language;
  }
  if (log_format != nullptr)
    *log_format = kEnglishLogFormat;
  return Language::kEnglish;
}

const LanguageLayoutRecords& LanguageLayoutRecordTable() {
  return g_layout_records;
}

std::int32_t LayoutWidthOf(Language language, int index) {
  if (index < 0 || index >= kLanguageWidthCount)
    return 0;
  return g_layout_records.widths[IndexOf(language)][index];
}

bool ParseLanguageTable(std::string_view data, LanguageTable* out, std::string* error) {
  LanguageTable rows;
  if (data.substr(0, 3) == "\xEF\xBB\xBF")
    data.remove_prefix(3);
  int line_number = 0;
  while (!data.empty()) {
    ++line_number;
    std::size_t end = data.find('\n');
    std::string_view line = data.substr(0, end);
    data = end == std::string_view::npos ? std::string_view() : data.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty() || line.front() == '#')
      continue;

    auto fail = [&](const std::string& reason) {
      if (error != nullptr)
        *error = "line " + std::to_string(line_number) + ": " + reason;
      return false;
    };
    std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
      return fail("no tab after the id");
    std::string_view id_text = line.substr(0, tab);
    if (id_text.empty() || id_text.size() > 2)
      return fail("the id is not a number from 0 to 51");
    int id = 0;
    for (char c : id_text) {
      if (c < '0' || c > '9')
        return fail("the id is not a number from 0 to 51");
      id = id * 10 + (c - '0');
    }
    if (id >= kTextIdCount)
      return fail("the id is not a number from 0 to 51");
    std::string text;
    std::string reason;
    if (!DecodeText(line.substr(tab + 1), &text, &reason))
      return fail(reason);
    rows.push_back({id, platform::Utf8ToWide(text)});
  }
  *out = std::move(rows);
  return true;
}

bool LoadBuiltinLanguageTable(Language language, LanguageTable* out) {
  const LanguageInfo& info = GetLanguageInfo(language);
  std::span<const std::uint8_t> bytes =
      platform::FindResource(info.resource_id, kLanguageResourceType);
  if (bytes.empty()) {
    WriteLog("Language table %s (resource %d) is missing.", info.code, info.resource_id);
    return false;
  }
  std::string error;
  std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!ParseLanguageTable(data, out, &error)) {
    WriteLog("Language table %s (resource %d) is damaged, %s.", info.code, info.resource_id,
             error.c_str());
    return false;
  }
  return true;
}

bool SelectLanguage(const wchar_t* product_name, std::uint16_t lang_id) {
  State& state = GetState();
  {
    std::lock_guard<std::mutex> hold(state.lock);
    if (product_name != nullptr && !state.product_name_fixed) {
      state.product_name = product_name;
      state.product_name_fixed = true;
    }
  }

  LanguageTable english;
  const bool have_english = LoadBuiltinLanguageTable(Language::kEnglish, &english);

  if (lang_id == 0)
    lang_id = platform::SystemDefaultLangId();
  if (int forced = ReadDebugConfigInt(L"setup_test_language"); forced != 0) {
    lang_id = static_cast<std::uint16_t>(forced & 0xFFFF);
  }
  const char* log_format = kEnglishLogFormat;
  Language language = LanguageForLangId(lang_id, &log_format);
  WriteLog(log_format, static_cast<int>(lang_id));

  LanguageTable translated;
  if (language != Language::kEnglish && !LoadBuiltinLanguageTable(language, &translated)) {
    // Half a language would mix English texts into the other language's
    // narrower controls; show all of it in English instead.
    WriteLog("Language falls back to English.");
    language = Language::kEnglish;
  }

  std::lock_guard<std::mutex> hold(state.lock);
  if (have_english)
    ApplyRows(state, english);
  ApplyRows(state, translated);
  state.language_name = GetLanguageInfo(language).name;
  state.selected.store(IndexOf(language));
  return true;
}

void LoadLanguageTable(const LanguageTable& table) {
  State& state = GetState();
  std::lock_guard<std::mutex> hold(state.lock);
  ApplyRows(state, table);
}

std::wstring GetText(int id) {
  State& state = GetState();
  std::wstring text;
  std::wstring name;
  {
    std::lock_guard<std::mutex> hold(state.lock);
    auto it = state.texts.find(id);
    if (it == state.texts.end())
      return kUnknownText;
    text = it->second;
    name = state.product_name;
  }
  return Substitute(std::move(text), name);
}

std::int32_t GetLayoutWidth(int index) {
  const int selected = GetState().selected.load();
  if (selected < 0)
    return 0;
  return LayoutWidthOf(static_cast<Language>(selected), index);
}

std::string GetLanguageName() {
  State& state = GetState();
  std::lock_guard<std::mutex> hold(state.lock);
  return state.language_name;
}

void ResetLanguageStateForTesting() {
  State& state = GetState();
  std::lock_guard<std::mutex> hold(state.lock);
  state.texts.clear();
  state.product_name = kDefaultProductName;
  state.product_name_fixed = false;
  state.language_name = "English";
  state.selected.store(-1);
}

}  // namespace zel
