// Shell links (shortcuts) and telling the desktop that they changed.
//
// On POSIX a shell link is a freedesktop launcher: "<folder>/<name>.desktop".
// A program target gives Type=Application (Exec from the target and the
// arguments, Path from the working folder), a web address gives Type=Link
// (URL). Name is the link's name, Comment its description, Icon the icon
// path (else the program itself). Hot keys and show commands have no
// launcher equivalent and are not written.
#ifndef ZEL_PLATFORM_SHELL_LINK_H_
#define ZEL_PLATFORM_SHELL_LINK_H_

#include <cstdint>
#include <string>

namespace zel::platform {

struct ShellLink {
  std::wstring target;     // a program path or a web address; required
  std::wstring icon_path;  // empty: the target
  int icon_index = 0;
  std::wstring arguments;    // Windows command-line text
  std::wstring work_folder;  // empty: none
  std::uint16_t hot_key = 0;
  std::wstring description;
  int show_command = 1;
};

// The file SaveShellLink writes for |name| in |folder|.
std::wstring ShellLinkPath(const std::wstring& folder, const std::wstring& name);

// Writes |link| as |name| in |folder|, replacing a link of that name. The file
// is written beside and renamed into place, so no half-written launcher is
// ever left. False when the target or the name is empty, when the name is
// not a plain file name (holds "/", or is "." or ".."), when it holds line
// breaks, or when the file cannot be written.
bool SaveShellLink(const ShellLink& link, const std::wstring& folder, const std::wstring& name);

// The WM_WININICHANGE broadcast with SPI_SETNONCLIENTMETRICS. POSIX desktops
// have no such message; this is a no-op kept for the call's place.
void BroadcastNonClientMetricsChange();

// Asks the desktop to reload its menus: runs update-desktop-database on the
// user's and the machine's application folders, or xdg-desktop-menu
// forceupdate, when installed. Never fails; does nothing when neither exists.
void ReloadDesktopMenus();

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_SHELL_LINK_H_
