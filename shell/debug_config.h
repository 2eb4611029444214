// The optional debug configuration "ZelDebugConfig.ini" in the user's
// documents folder: section [root] switches on test mode, the information
// view and a fixed test language for support staff.
#ifndef ZEL_SHELL_DEBUG_CONFIG_H_
#define ZEL_SHELL_DEBUG_CONFIG_H_

#include <string>

namespace zel {

inline constexpr wchar_t kDebugConfigFileName[] = L"ZelDebugConfig.ini";

// Full path of the debug configuration file.
std::wstring DebugConfigPath();
// An integer of section "root"; 0 when the file or the key is missing.
int ReadDebugConfigInt(const wchar_t* key);
// "show_info_view" is 1.
bool InfoViewConfigured();
// Test mode: once the file has said "setup_test_mode" = 1 it stays on for
// the rest of the process; while off, every call reads the file again.
bool IsTestMode();
// Test hook: forgets a test mode seen earlier in this process.
void ResetTestModeForTesting();

}  // namespace zel

#endif  // ZEL_SHELL_DEBUG_CONFIG_H_
