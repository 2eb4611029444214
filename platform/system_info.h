// What the machine says about itself: the operating system's version, the
// native processor architecture and the caller's rights.
//
// On POSIX there is no Windows version to read, so the answers are those of
// an emulated Windows, 10.0 on the machine's own architecture by default.
// ZEL_EMULATE_WINVER ("6.1", "5.1", "fail") and ZEL_EMULATE_ARCH ("x64",
// "x86") change them for a whole process; SetEmulatedSystem changes them
// within one.
#ifndef ZEL_PLATFORM_SYSTEM_INFO_H_
#define ZEL_PLATFORM_SYSTEM_INFO_H_

#include <cstdint>
#include <optional>

namespace zel::platform {

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

// The three version sources, in the order the probes try them. Each answers
// nothing when its service fails.
std::optional<OsVersion> WorkstationVersion();  // NetWkstaGetInfo level 100
std::optional<OsVersion> NtVersionNumbers();    // ntdll's RtlGetNtVersionNumbers
std::optional<OsVersion> VersionEx();           // GetVersionExW

// Processor architecture codes of SYSTEM_INFO.
inline constexpr std::uint16_t kArchIntel = 0;
inline constexpr std::uint16_t kArchIa64 = 6;
inline constexpr std::uint16_t kArchAmd64 = 9;
std::uint16_t NativeProcessorArchitecture();

// True when the process has administrator rights: root, or a member of
// the "sudo", "admin" or "wheel" group.
bool ProcessIsAdmin();

// Test hook: per-source answers. A source left empty fails.
struct EmulatedSystem {
  std::optional<OsVersion> workstation;
  std::optional<OsVersion> nt_numbers;
  std::optional<OsVersion> version_ex;
  std::uint16_t architecture = kArchAmd64;
};
void SetEmulatedSystem(const EmulatedSystem& system);
void ResetEmulatedSystem();  // back to the environment's (or the default) answers

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_SYSTEM_INFO_H_
