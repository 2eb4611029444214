#include "shell/probes.h"

#include <optional>

#include "platform/system_info.h"
#include "shell/log.h"

namespace zel {

bool IsWin7OrLater() {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  if (std::optional<platform::OsVersion> v = platform::WorkstationVersion()) {
    major = v->major;
    minor = v->minor;
    WriteLog("Window Version : %d,%d", static_cast<int>(major), static_cast<int>(minor));
  } else {
    WriteLog("First get window version failed. Do second method.");
    if (std::optional<platform::OsVersion> nt = platform::NtVersionNumbers()) {
      major = nt->major;
      minor = nt->minor;
      WriteLog("Window Version : %d,%d", static_cast<int>(major), static_cast<int>(minor));
    }
    if (major == 0) {
      WriteLog("Second get window version failed. Do third method.");
      platform::OsVersion ex = platform::VersionEx().value_or(platform::OsVersion{});
      major = ex.major;
      minor = ex.minor;
      WriteLog("Window Version : %d,%d", static_cast<int>(major), static_cast<int>(minor));
    }
  }
  if (major > 6)
    return true;
  return major == 6 && minor >= 1;
}

void GetNativeSystemInfoSafe(SystemInfo* info) {
  if (info == nullptr)
    return;
  info->processor_architecture = platform::NativeProcessorArchitecture();
}

bool IsOs64Bit() {
  SystemInfo info;
  GetNativeSystemInfoSafe(&info);
  return info.processor_architecture == platform::kArchAmd64 ||
         info.processor_architecture == platform::kArchIa64;
}

bool IsUserAdmin() {
  return platform::ProcessIsAdmin();
}

bool IsVistaOrLater() {
  std::optional<platform::OsVersion> v = platform::VersionEx();
  return v.has_value() && v->major >= 6;
}

}  // namespace zel
