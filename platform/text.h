// Text conversion. Windows converts through code pages; here narrow text is
// always UTF-8 and wide text is wchar_t code points.
#ifndef ZEL_PLATFORM_TEXT_H_
#define ZEL_PLATFORM_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace zel::platform {

// Invalid UTF-8 sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
// Unpaired surrogates and values past U+10FFFF become U+FFFD.
std::string WideToUtf8(std::wstring_view text);
// The value of one hexadecimal digit, or -1 for any other character.
int HexDigitValue(char c);
// The pieces of |text| between |separator|s, empty pieces left out.
std::vector<std::string> SplitNonEmpty(std::string_view text, char separator);
// Lower-cases with the C library's wide rules (CharLowerW's role).
std::wstring ToLowerWide(std::wstring_view text);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_TEXT_H_
