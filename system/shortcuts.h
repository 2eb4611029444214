// The product's shortcuts: the shortcut writer, the folders it can write
// into, the set of shortcuts an installation makes, and the icon refresh.
//
// On POSIX a shortcut is a freedesktop launcher (platform/shell_link.h).
// CreateShortcut makes the well-known folders of kinds 2 to 4 when they are
// missing (Windows always has them; a fresh POSIX account may not); Quick
// Launch and the pinned task bar have no POSIX counterpart and are used only
// when someone made them.
#ifndef ZEL_SYSTEM_SHORTCUTS_H_
#define ZEL_SYSTEM_SHORTCUTS_H_

#include <cstdint>
#include <string>

#include "support/hresult.h"

namespace zel {

struct PackageHeader;

// Folder kinds of CreateShortcut.
inline constexpr int kShortcutQuickLaunch = 0;
inline constexpr int kShortcutPinnedTaskBar = 1;
inline constexpr int kShortcutPrograms = 2;
inline constexpr int kShortcutCommonPrograms = 3;
inline constexpr int kShortcutDesktop = 4;  // also every kind above 5
inline constexpr int kShortcutGivenFolder = 5;

// Writes one link named |name| in |folder|. Every text but target, folder
// and name may be null. False when target, folder or name is null or the
// link cannot be saved.
bool CreateShellLink(const wchar_t* target, const wchar_t* folder, const wchar_t* name,
                     const wchar_t* work_folder, std::uint16_t hot_key, const wchar_t* description,
                     const wchar_t* icon_path, const wchar_t* arguments, int show_command);

// kPointer when target or name is null; kFail when the kind's folder does
// not exist or the link cannot be saved; kOk otherwise. The second argument
// is the link's working folder and, for kind 5, the folder itself.
// |sub_folder| is made below the kind's folder when given.
HResult CreateShortcut(const wchar_t* target, const wchar_t* work_folder_or_folder,
                       const wchar_t* name, int kind, const wchar_t* sub_folder,
                       const wchar_t* description, const wchar_t* icon_path,
                       const wchar_t* arguments);

// The folder of |kind|; false when it cannot be determined (and for kind 5,
// whose folder only the caller knows).
bool GetShortcutFolder(int kind, std::wstring* out);

// The shortcut step of an installation, logged line by line: the desktop
// link when |create_desktop|, the product, its uninstaller and its web site
// in the user's and the all-users menus (folder: the product's display name,
// with " (x64)" for the 64-bit product), then three icon refreshes.
// |version| is appended to the web-site address.
void CreateProductShortcuts(const std::wstring& install_path, bool is64bit,
                            const std::string& version, bool create_desktop);
// The same with the header's flag and version and the extracted folder.
void CreateProductShortcuts(const PackageHeader& header, bool create_desktop);

// Makes the desktop redraw its icons: "Shell Icon Size" of the user's
// WindowMetrics key goes to size + 1 and back (32 when it was missing or not
// a positive number), with a settings broadcast after each write; then the
// desktop's menus are reloaded when a tool for that is installed.
void RefreshShellIcons();

}  // namespace zel

#endif  // ZEL_SYSTEM_SHORTCUTS_H_
