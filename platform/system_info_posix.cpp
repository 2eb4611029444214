#include "platform/system_info.h"

#include <grp.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace zel::platform {
namespace {

std::mutex g_lock;
std::optional<EmulatedSystem> g_override;

std::optional<OsVersion> ParseVersion(const std::string& text) {
  unsigned major = 0, minor = 0;
  if (std::sscanf(text.c_str(), "%u.%u", &major, &minor) != 2)
    return std::nullopt;
  return OsVersion{major, minor, 0};
}

// The environment's emulated Windows: 10.0 and the host's architecture unless
// ZEL_EMULATE_WINVER / ZEL_EMULATE_ARCH say otherwise.
EmulatedSystem FromEnvironment() {
  EmulatedSystem system;
  std::optional<OsVersion> version = OsVersion{10, 0, 19045};
  if (std::optional<std::string> env = GetEnv("ZEL_EMULATE_WINVER")) {
    version = ParseVersion(*env);  // "fail" (or junk) leaves every source failing
  }
  system.workstation = version;
  system.nt_numbers = version;
  system.version_ex = version;

  struct utsname name;
  bool host64 = uname(&name) == 0 && (std::strstr(name.machine, "64") != nullptr);
  system.architecture = host64 ? kArchAmd64 : kArchIntel;
  if (std::optional<std::string> arch = GetEnv("ZEL_EMULATE_ARCH")) {
    if (*arch == "x86")
      system.architecture = kArchIntel;
    if (*arch == "x64")
      system.architecture = kArchAmd64;
    if (*arch == "ia64")
      system.architecture = kArchIa64;
  }
  return system;
}

EmulatedSystem Current() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_override ? *g_override : FromEnvironment();
}

}  // namespace

std::optional<OsVersion> WorkstationVersion() {
  return Current().workstation;
}
std::optional<OsVersion> NtVersionNumbers() {
  return Current().nt_numbers;
}
std::optional<OsVersion> VersionEx() {
  return Current().version_ex;
}
std::uint16_t NativeProcessorArchitecture() {
  return Current().architecture;
}

void SetEmulatedSystem(const EmulatedSystem& system) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_override = system;
}

void ResetEmulatedSystem() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_override.reset();
}

bool ProcessIsAdmin() {
  if (geteuid() == 0)
    return true;
  int count = getgroups(0, nullptr);
  if (count <= 0)
    return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    struct group* g = getgrgid(groups[static_cast<std::size_t>(i)]);
    if (g == nullptr)
      continue;
    if (std::strcmp(g->gr_name, "sudo") == 0 || std::strcmp(g->gr_name, "admin") == 0 ||
        std::strcmp(g->gr_name, "wheel") == 0)
      return true;
  }
  return false;
}

}  // namespace zel::platform
