#include "platform/shell_link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace zel::platform {
namespace {

// The escapes of the desktop entry format for string values. A leading blank
// would be trimmed by readers, so it is written as \s.
std::string EscapeValue(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One argument of Exec: quoted when it holds a reserved character, with ",
// `, $ and \ escaped inside the quotes; % doubled so it is no field code.
std::string QuoteExecArgument(std::string_view arg) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string_view::npos;
  std::string out;
  if (quote)
    out += '"';
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
      out += '\\';
    if (c == '%')
      out += '%';
    out += c;
  }
  if (quote)
    out += '"';
  return out;
}

bool LooksLikeAddress(const std::string& text) {
  std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0)
    return false;
  return text.compare(colon, 3, "://") == 0 || text.compare(0, 7, "mailto:") == 0;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  return name.find_first_of(std::string_view("/\n\r\0", 4)) == std::string::npos;
}

std::string DesktopEntry(const ShellLink& link, const std::string& name) {
  const std::string target = WideToUtf8(link.target);
  std::string out = "[Desktop Entry]\n";
  const bool is_link = LooksLikeAddress(target);
  out += is_link ? "Type=Link\n" : "Type=Application\n";
  out += "Version=1.0\n";
  out += "Name=" + EscapeValue(name) + "\n";
  if (!link.description.empty()) {
    out += "Comment=" + EscapeValue(WideToUtf8(link.description)) + "\n";
  }
  if (is_link) {
    out += "URL=" + EscapeValue(target) + "\n";
    if (!link.icon_path.empty())
      out += "Icon=" + EscapeValue(WideToUtf8(link.icon_path)) + "\n";
  } else {
    std::string exec = QuoteExecArgument(target);
    for (const std::wstring& arg : SplitCommandLine(link.arguments)) {
      exec += ' ';
      exec += QuoteExecArgument(WideToUtf8(arg));
    }
    out += "Exec=" + EscapeValue(exec) + "\n";
    if (!link.work_folder.empty()) {
      out += "Path=" + EscapeValue(WideToUtf8(link.work_folder)) + "\n";
    }
    const std::wstring& icon = link.icon_path.empty() ? link.target : link.icon_path;
    out += "Icon=" + EscapeValue(WideToUtf8(icon)) + "\n";
    out += "Terminal=false\n";
  }
  return out;
}

bool IsDesktopFolder(const std::wstring& folder) {
  std::wstring trimmed = folder;
  while (trimmed.size() > 1 && trimmed.back() == L'/')
    trimmed.pop_back();
  return trimmed == GetSpecialFolder(SpecialFolder::kDesktop) ||
         trimmed == GetSpecialFolder(SpecialFolder::kCommonDesktop);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::wstring ShellLinkPath(const std::wstring& folder, const std::wstring& name) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != kPathSeparator)
    path += kPathSeparator;
  return path + name + L".desktop";
}

bool SaveShellLink(const ShellLink& link, const std::wstring& folder, const std::wstring& name) {
  const std::string narrow_name = WideToUtf8(name);
  if (link.target.empty() || folder.empty() || !ValidName(narrow_name))
    return false;
  const std::string path = WideToUtf8(ShellLinkPath(folder, name));
  std::string tmp = WideToUtf8(folder);
  if (tmp.back() != '/')
    tmp += '/';
  tmp += "." + narrow_name + ".desktop.tmp";

  const std::string text = DesktopEntry(link, narrow_name);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  // Desktops run launchers on the desktop only when they are executable.
  if (ok)
    ok = ::fchmod(fd, IsDesktopFolder(folder) ? 0755 : 0644) == 0;
  if (ok)
    ok = ::fsync(fd) == 0;
  if (::close(fd) != 0)
    ok = false;
  if (ok)
    ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok)
    ::unlink(tmp.c_str());
  return ok;
}

void BroadcastNonClientMetricsChange() {}

void ReloadDesktopMenus() {
  constexpr std::uint32_t kTimeoutMs = 10000;
  std::vector<std::string> folders;
  for (SpecialFolder kind : {SpecialFolder::kPrograms, SpecialFolder::kCommonPrograms}) {
    std::string folder = WideToUtf8(GetSpecialFolder(kind));
    if (!folder.empty() && IsFolder(folder) && ::access(folder.c_str(), W_OK) == 0) {
      folders.push_back(folder);
    }
  }
  bool reloaded = false;
  for (const std::string& folder : folders) {
    if (RunQuietly({"update-desktop-database", folder}, kTimeoutMs))
      reloaded = true;
  }
  if (!reloaded)
    RunQuietly({"xdg-desktop-menu", "forceupdate"}, kTimeoutMs);
}

}  // namespace zel::platform
