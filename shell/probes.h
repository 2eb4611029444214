// Small stateless questions about the machine: the Windows version, its
// bitness and the caller's rights. The platform layer answers each one.
#ifndef ZEL_SHELL_PROBES_H_
#define ZEL_SHELL_PROBES_H_

#include <cstdint>

namespace zel {

struct SystemInfo {
  std::uint16_t processor_architecture = 0;
};

// Windows 6.1 or later; logs each version source it tries.
bool IsWin7OrLater();
// The native processor architecture is AMD64 (9) or IA64 (6).
bool IsOs64Bit();
// Fills |info| from the native system; does nothing for nullptr.
void GetNativeSystemInfoSafe(SystemInfo* info);
// The process runs with administrator rights.
bool IsUserAdmin();
// Windows major version 6 or later.
bool IsVistaOrLater();

}  // namespace zel

#endif  // ZEL_SHELL_PROBES_H_
