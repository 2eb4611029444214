#include "platform/paths.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/text.h"

#ifndef ZEL_DEFAULT_MACHINE_PREFIX
#define ZEL_DEFAULT_MACHINE_PREFIX "/var/lib/zel-machine"
#endif

namespace zel::platform {
namespace {

std::string Home() {
  std::optional<std::string> home = GetEnv("HOME");
  return home ? *home : std::string();
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

// $XDG_CONFIG_HOME, or ~/.config.
std::string ConfigHome() {
  std::optional<std::string> dir = GetEnv("XDG_CONFIG_HOME");
  if (dir && !dir->empty() && (*dir)[0] == '/')
    return StripTrailingSlashes(*dir);
  std::string home = Home();
  return home.empty() ? std::string() : home + "/.config";
}

std::string DataHome() {
  std::optional<std::string> dir = GetEnv("XDG_DATA_HOME");
  if (dir && !dir->empty() && (*dir)[0] == '/')
    return StripTrailingSlashes(*dir);
  std::string home = Home();
  return home.empty() ? std::string() : home + "/.local/share";
}

// One of the XDG user directories: the environment first, then
// user-dirs.dirs, then ~/<fallback>. Values there read "$HOME/Name" or an
// absolute path.
std::string UserDir(const char* key, const char* fallback) {
  std::optional<std::string> env = GetEnv(key);
  if (env && !env->empty() && (*env)[0] == '/')
    return StripTrailingSlashes(*env);

  std::string home = Home();
  if (home.empty())
    return std::string();
  std::string config = ConfigHome();
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  const std::string prefix = std::string(key) + "=";
  while (in && std::getline(in, line)) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0)
      continue;
    std::string value = line.substr(start + prefix.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) {
      value = home + value.substr(5);
    }
    if (!value.empty() && value[0] == '/')
      return StripTrailingSlashes(value);
  }
  return home + "/" + fallback;
}

}  // namespace

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

std::wstring MachinePrefix() {
  std::optional<std::string> prefix = GetEnv("ZEL_MACHINE_PREFIX");
  if (prefix && !prefix->empty())
    return Utf8ToWide(StripTrailingSlashes(*prefix));
  return Utf8ToWide(ZEL_DEFAULT_MACHINE_PREFIX);
}

std::wstring GetSpecialFolder(SpecialFolder folder) {
  std::string path;
  switch (folder) {
    case SpecialFolder::kDocuments:
      path = UserDir("XDG_DOCUMENTS_DIR", "Documents");
      break;
    case SpecialFolder::kDesktop:
      path = UserDir("XDG_DESKTOP_DIR", "Desktop");
      break;
    case SpecialFolder::kRoamingAppData:
      path = ConfigHome();
      break;
    case SpecialFolder::kPrograms:
      path = DataHome();
      if (!path.empty())
        path += "/applications";
      break;
    case SpecialFolder::kCommonPrograms:
      return MachinePrefix() + L"/share/applications";
    case SpecialFolder::kCommonDesktop:
      return MachinePrefix() + L"/Desktop";
    case SpecialFolder::kProgramFiles:
      return MachinePrefix() + L"/Program Files (x86)";
    case SpecialFolder::kProgramFilesNative:
      return MachinePrefix() + L"/Program Files";
  }
  return Utf8ToWide(path);
}

std::wstring ModuleFileName() {
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0)
    return std::wstring();
  buffer.resize(static_cast<std::size_t>(n));
  return Utf8ToWide(buffer);
}

std::optional<unsigned long long> FreeBytesOfVolume(const std::wstring& path) {
  std::string p = WideToUtf8(path);
  if (p.empty())
    return std::nullopt;
  // Walk up to the nearest existing folder: the install folder usually does
  // not exist yet when its volume is checked.
  for (;;) {
    struct statvfs info;
    if (statvfs(p.c_str(), &info) == 0) {
      return static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    }
    if (errno != ENOENT && errno != ENOTDIR)
      return std::nullopt;
    std::size_t slash = p.find_last_of('/');
    if (slash == std::string::npos)
      return std::nullopt;
    p = slash == 0 ? std::string("/") : p.substr(0, slash);
  }
}

}  // namespace zel::platform
