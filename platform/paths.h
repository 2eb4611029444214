// Well-known folders and the running program's own location.
//
// Per-user folders follow HOME and the XDG user directories. Machine-wide
// state (program folders, the all-users menu, the registry store) lives under
// one prefix, ZEL_MACHINE_PREFIX, so a whole run can be sandboxed.
#ifndef ZEL_PLATFORM_PATHS_H_
#define ZEL_PLATFORM_PATHS_H_

#include <optional>
#include <string>

namespace zel::platform {

inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr char kPathSeparatorNarrow = '/';
// Longest path a fixed path buffer holds, terminator excluded.
inline constexpr std::size_t kMaxPath = 260;

enum class SpecialFolder {
  kDocuments,           // the user's documents
  kRoamingAppData,      // per-user application data
  kDesktop,             // the user's desktop
  kPrograms,            // the user's start-menu programs (menu entries)
  kCommonPrograms,      // start-menu programs for all users
  kCommonDesktop,       // the desktop shown to all users
  kProgramFiles,        // program folder a 32-bit process sees
  kProgramFilesNative,  // the native (64-bit) program folder
};

// The folder's path without a trailing separator; empty when it cannot be
// determined (no HOME, for instance).
std::wstring GetSpecialFolder(SpecialFolder folder);

// Root of machine-wide state: $ZEL_MACHINE_PREFIX, else the build's default.
std::wstring MachinePrefix();

// Full path of the running executable; empty on failure.
std::wstring ModuleFileName();

// An environment variable, or nothing when it is unset.
std::optional<std::string> GetEnv(const char* name);

// Free bytes for an unprivileged user on the volume holding |path| (the
// nearest existing ancestor is used when |path| does not exist yet).
std::optional<unsigned long long> FreeBytesOfVolume(const std::wstring& path);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_PATHS_H_
