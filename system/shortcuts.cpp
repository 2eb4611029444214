#include "system/shortcuts.h"

#include <climits>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/shell_link.h"
#include "profile/package_header.h"
#include "profile/product_info.h"
#include "shell/language.h"
#include "shell/log.h"
#include "system/file_util.h"
#include "system/package_extract.h"
#include "system/registry.h"

namespace zel {
namespace {

constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
constexpr char kWindowMetricsKey[] = "Control Panel\\Desktop\\WindowMetrics";
constexpr char kShellIconSize[] = "Shell Icon Size";
constexpr int kDefaultIconSize = 32;
constexpr std::uint32_t kIconSizeBufferSize = 256;

// Text ids of the shortcut names and descriptions.
constexpr int kTextUninstallDescription = 35;
constexpr int kTextStartDescription = 36;
constexpr int kTextWebDescription = 38;
constexpr int kTextWebName = 46;
constexpr int kTextUninstallName = 47;

bool FolderExists(const std::wstring& path) {
  return !path.empty() && platform::IsDirectory(ToNarrow(path));
}

// atoi's reading (blanks, a sign, digits), kept clear of overflow.
int ParseIconSize(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX - 1)
      value = INT_MAX - 1;
  }
  if (negative || value <= 0)
    return kDefaultIconSize;
  return static_cast<int>(value);
}

void WriteIconSize(int size) {
  CMyRegKey key;
  if (key.Open(kHkeyCurrentUser, kWindowMetricsKey, platform::kKeyWrite) == platform::kRegOk) {
    key.SetString(kShellIconSize, std::to_string(size));
    key.Close();
  }
  platform::BroadcastNonClientMetricsChange();
}

}  // namespace

bool CreateShellLink(const wchar_t* target, const wchar_t* folder, const wchar_t* name,
                     const wchar_t* work_folder, std::uint16_t hot_key, const wchar_t* description,
                     const wchar_t* icon_path, const wchar_t* arguments, int show_command) {
  if (folder == nullptr || target == nullptr || name == nullptr)
    return false;
  platform::ShellLink link;
  link.target = target;
  if (icon_path != nullptr)
    link.icon_path = icon_path;
  if (arguments != nullptr)
    link.arguments = arguments;
  if (work_folder != nullptr)
    link.work_folder = work_folder;
  link.hot_key = hot_key;
  if (description != nullptr)
    link.description = description;
  link.show_command = show_command;
  return platform::SaveShellLink(link, folder, name);
}

bool GetShortcutFolder(int kind, std::wstring* out) {
  if (out == nullptr)
    return false;
  std::wstring folder;
  switch (kind) {
    case kShortcutQuickLaunch:
    case kShortcutPinnedTaskBar: {
      std::wstring app_data = platform::GetSpecialFolder(platform::SpecialFolder::kRoamingAppData);
      if (app_data.empty())
        return false;
      folder = PathJoin(app_data, L"Microsoft/Internet Explorer/Quick Launch");
      if (kind == kShortcutPinnedTaskBar)
        folder = PathJoin(folder, L"User Pinned/TaskBar");
      break;
    }
    case kShortcutPrograms:
      folder = platform::GetSpecialFolder(platform::SpecialFolder::kPrograms);
      break;
    case kShortcutCommonPrograms:
      folder = platform::GetSpecialFolder(platform::SpecialFolder::kCommonPrograms);
      break;
    case kShortcutGivenFolder:
      return false;
    default:
      folder = platform::GetSpecialFolder(platform::SpecialFolder::kDesktop);
      break;
  }
  if (folder.empty())
    return false;
  *out = folder;
  return true;
}

HResult CreateShortcut(const wchar_t* target, const wchar_t* work_folder_or_folder,
                       const wchar_t* name, int kind, const wchar_t* sub_folder,
                       const wchar_t* description, const wchar_t* icon_path,
                       const wchar_t* arguments) {
  if (target == nullptr || name == nullptr)
    return kPointer;
  std::wstring folder;
  if (kind == kShortcutGivenFolder) {
    if (work_folder_or_folder != nullptr)
      folder = work_folder_or_folder;
  } else if (!GetShortcutFolder(kind, &folder)) {
    folder.clear();
  } else if (kind != kShortcutQuickLaunch && kind != kShortcutPinnedTaskBar) {
    // Windows always has its menus and desktop; a fresh POSIX account may not.
    if (!FolderExists(folder))
      MakeDirectories(folder);
  }
  if (!FolderExists(folder))
    return kFail;
  if (sub_folder != nullptr) {
    folder = PathJoin(folder, sub_folder);
    MakeDirectories(folder);
  }
  if (!CreateShellLink(target, folder.c_str(), name, work_folder_or_folder, 0, description,
                       icon_path, arguments, kShowNormal)) {
    WriteLog("Create shortcut failed: name(%s), folder(%s).", ToNarrow(name).c_str(),
             ToNarrow(folder).c_str());
    return kFail;
  }
  return kOk;
}

void CreateProductShortcuts(const std::wstring& install_path, bool is64bit,
                            const std::string& version, bool create_desktop) {
  WriteLog("Create Icons for %s", is64bit ? "x64" : "x86");
  const std::wstring& p = install_path;
  const std::wstring m = PathJoin(p, MainExeNameW());
  const std::wstring u = PathJoin(p, kUninstallerName);
  const std::wstring w = ToWide(WebSiteUrl() + version);
  std::wstring f = ProductDisplayNameW();
  if (is64bit)
    f += L" (x64)";
  const std::wstring start_text = f + GetText(kTextStartDescription);
  const std::wstring uninstall_text = f + GetText(kTextUninstallDescription);
  const std::wstring web_text = f + GetText(kTextWebDescription);
  const std::wstring uninstall_name = GetText(kTextUninstallName);
  const std::wstring web_name = GetText(kTextWebName);

  if (create_desktop) {
    CreateShortcut(m.c_str(), p.c_str(), f.c_str(), kShortcutDesktop, nullptr, start_text.c_str(),
                   nullptr, nullptr);
    WriteLog("Create DESKTOP Icons Finish.");
  }
  for (int kind : {kShortcutPrograms, kShortcutCommonPrograms}) {
    CreateShortcut(m.c_str(), p.c_str(), f.c_str(), kind, f.c_str(), start_text.c_str(), nullptr,
                   nullptr);
    CreateShortcut(u.c_str(), p.c_str(), uninstall_name.c_str(), kind, f.c_str(),
                   uninstall_text.c_str(), nullptr, nullptr);
    CreateShortcut(w.c_str(), nullptr, web_name.c_str(), kind, f.c_str(), web_text.c_str(), nullptr,
                   nullptr);
    WriteLog(kind == kShortcutPrograms ? "Create START_MENU Icons Finish."
                                       : "Create COMMON_MENU Icons Finish.");
  }
  for (int i = 0; i < 3; ++i)
    RefreshShellIcons();
  WriteLog("Refresh Icons Finish.");
}

void CreateProductShortcuts(const PackageHeader& header, bool create_desktop) {
  CreateProductShortcuts(GetInstallPath(), header.is_x64 != 0, HeaderText(header.version),
                         create_desktop);
}

void RefreshShellIcons() {
  std::string text;
  {
    CMyRegKey key;
    if (key.Open(kHkeyCurrentUser, kWindowMetricsKey, platform::kKeyRead) == platform::kRegOk) {
      char buffer[kIconSizeBufferSize] = {};
      std::uint32_t size = sizeof(buffer) - 1;  // room for a terminator the data may lack
      if (key.QueryValue(kShellIconSize, buffer, &size) == platform::kRegOk)
        text = buffer;
      key.Close();
    }
  }
  const int size = ParseIconSize(text);
  WriteIconSize(size + 1);
  platform::SleepMs(200);
  WriteIconSize(size);
  platform::ReloadDesktopMenus();
}

}  // namespace zel
