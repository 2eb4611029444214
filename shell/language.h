// Localized texts of the wizard: sixteen tables of numbered texts compiled
// into the program (resources/lang/), one of them chosen once at start from
// the system language or the debug configuration's "setup_test_language".
//
// Every function here may be called from any thread; the process-wide state
// is guarded by one lock.
#ifndef ZEL_SHELL_LANGUAGE_H_
#define ZEL_SHELL_LANGUAGE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

// Text ids run from 0 to kTextIdCount - 1.
inline constexpr int kTextIdCount = 52;
inline constexpr int kLanguageWidthCount = 6;
inline constexpr int kLanguageCount = 16;

// Each table is resource (id, "LANG"): English is kLanguageResourceBase,
// the others follow it in Language order (LanguageInfo::resource_id).
inline constexpr int kLanguageResourceBase = 1000;
inline constexpr char kLanguageResourceType[] = "LANG";

inline constexpr wchar_t kProductNamePlaceholder[] = L"__PRODUCT_NAME__";
// GetText's answer for an id with no text.
inline constexpr wchar_t kUnknownText[] = L"UnKnow";
// The substitution name until SelectLanguage is given one.
inline constexpr wchar_t kDefaultProductName[] = L"Demo";
// The maker's host written at the end of texts 41 and 42; the failure page
// puts the profile's web-site host in its place.
inline constexpr wchar_t kTableWebHost[] = L"www.zel-installer.invalid";

// In the order of the layout-width records and the resource ids (the order
// of the selection table, Catalan and Spanish sharing one entry).
enum class Language {
  kSpanish,
  kChineseSimplified,
  kChineseTraditional,
  kCzech,
  kGerman,
  kFrench,
  kHungarian,
  kItalian,
  kJapanese,
  kDutch,
  kNorwegian,
  kPolish,
  kPortuguese,
  kRussian,
  kSwedish,
  kEnglish,
};

struct LanguageInfo {
  Language language;
  const char* code;  // file stem under resources/lang/
  const char* name;  // English name, reported with the statistics
  int resource_id;
};

// All sixteen, in index order.
std::span<const LanguageInfo> AllLanguages();
const LanguageInfo& GetLanguageInfo(Language language);
// The language a LANGID selects (by its primary language; 0x04 by its
// sublanguage too) and the line SelectLanguage logs for it (one %d: the
// LANGID).
Language LanguageForLangId(std::uint16_t lang_id, const char** log_format = nullptr);
// Value |index| of the language's layout record; 0 outside 0 to 5.
std::int32_t LayoutWidthOf(Language language, int index);

// The control widths of every language, in Language order, behind the
// parameter-record marker so a tool can find and patch them in the program.
struct LanguageLayoutRecords {
  char marker[8];
  std::int32_t widths[kLanguageCount][kLanguageWidthCount];
};
const LanguageLayoutRecords& LanguageLayoutRecordTable();

struct LanguageRow {
  int id;
  std::wstring text;
};
// Rows in file order; an id may be missing or appear twice (the later wins).
using LanguageTable = std::vector<LanguageRow>;

// Parses a table file: UTF-8 (an optional BOM), one "id<TAB>text" line per
// row, "#" comment lines and blank lines ignored, "\n", "\t" and "\\" as
// escapes; the text is everything after the tab, leading blanks included.
// On any fault nothing is stored in |out|, |error| names the line and the
// reason, and false is returned.
bool ParseLanguageTable(std::string_view data, LanguageTable* out, std::string* error);

// The compiled-in table of |language|. False, with the reason logged, when
// the resource is missing or does not parse.
bool LoadBuiltinLanguageTable(Language language, LanguageTable* out);

// Chooses the language once at start: the English table first, then the
// table of |lang_id| (0: the system's default language; a non-zero
// "setup_test_language" in the debug configuration overrides either).
// The first call with a non-null |product_name| fixes the substitution name.
// Always true.
bool SelectLanguage(const wchar_t* product_name, std::uint16_t lang_id);

// Applies |table|'s rows in order, each replacing the text of its id.
void LoadLanguageTable(const LanguageTable& table);

// The loaded text of |id| with every "__PRODUCT_NAME__" replaced by the
// product name; "UnKnow" when the id has no text.
std::wstring GetText(int id);

// Value |index| (0 to 5) of the selected language's layout record; 0 for any
// other index and before a selection.
std::int32_t GetLayoutWidth(int index);

// English name of the selected language; "English" before a selection.
std::string GetLanguageName();

// Test hook: forgets every loaded text, the selection and the product name.
void ResetLanguageStateForTesting();

}  // namespace zel

#endif  // ZEL_SHELL_LANGUAGE_H_
