// Reading integers from INI files (GetPrivateProfileIntW's role).
#ifndef ZEL_PLATFORM_INI_H_
#define ZEL_PLATFORM_INI_H_

#include <string>

namespace zel::platform {

// The integer value of |key| in [|section|] of the INI file at |path|.
// Section and key names compare case-insensitively; surrounding blanks are
// ignored; the value is read as a leading decimal integer (an optional sign,
// then digits; "12abc" gives 12). A missing or unreadable file, a missing
// key or a value with no leading digits gives |default_value|.
int ReadIniInt(const std::wstring& path, const std::wstring& section, const std::wstring& key,
               int default_value);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_INI_H_
