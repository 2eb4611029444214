// The user's language as Windows numbers it (GetSystemDefaultLangID) and its
// English name (GetLocaleInfoA with LOCALE_SENGLANGUAGE).
//
// On POSIX the language comes from the locale environment: the first
// non-empty one of LC_ALL, LC_MESSAGES and LANG, of the form
// language[_territory][.codeset][@modifier] ("de_DE.UTF-8", "zh_TW",
// "sr_RS@latin"). "C", "POSIX" and an empty environment mean US English.
#ifndef ZEL_PLATFORM_LOCALE_H_
#define ZEL_PLATFORM_LOCALE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace zel::platform {

// LANGID = sublanguage << 10 | primary language.
inline constexpr std::uint16_t kLangIdEnglishUs = 0x0409;
// What Windows answers for a locale it has no number for.
inline constexpr std::uint16_t kLangIdCustomUnspecified = 0x1000;
// Longest language name GetLocaleInfoA fills into the caller's buffer,
// terminator excluded.
inline constexpr std::size_t kMaxEnglishLanguageNameLength = 31;

// GetSystemDefaultLangID's role: the LANGID of the environment's locale.
std::uint16_t SystemDefaultLangId();

// GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE)'s role: the
// English name of the environment's language ("German", "Chinese"), UTF-8.
std::string UserDefaultLanguageName();

// The locale name the environment selects ("" when none is set).
std::string EnvironmentLocaleName();

// The mapping behind both: a POSIX locale name to its LANGID. A language
// without a territory, or with one Windows does not number, gets the
// language's default sublanguage; an unknown language gets
// kLangIdCustomUnspecified.
std::uint16_t LangIdFromLocaleName(std::string_view locale_name);

// The English language name of |lang_id| (its primary language decides,
// except for the two written forms of Norwegian); "Unknown" when unknown.
std::string LanguageNameOfLangId(std::uint16_t lang_id);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_LOCALE_H_
