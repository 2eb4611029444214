// Process-wide values every stage reads: the installer's version, the crash
// id and the two client tags carried in the executable's file name.
#ifndef ZEL_SHELL_APP_VALUES_H_
#define ZEL_SHELL_APP_VALUES_H_

#include <string>

namespace zel {

inline constexpr char kInstallerVersion[] = "1.0.6.0";

// The crash id: empty until SetCrashIdOnce, then fixed for the process.
std::string CrashId();
// The same as a C string the crash handler may read without allocating;
// "" while unset.
const char* CrashIdForSignalHandler();
// Stores |id| when no crash id is set yet; later calls change nothing.
void SetCrashIdOnce(const std::string& id);

// Fills |option| and |source| from the running executable's file name;
// leaves both untouched when the name carries no marker.
void ParseModuleNameTags(std::string* option, std::string* source);
// The same for a given executable path.
void ParseModuleNameTagsOf(const std::wstring& module_path, std::string* option,
                           std::string* source);

}  // namespace zel

#endif  // ZEL_SHELL_APP_VALUES_H_
