#include "tests/ui/xvfb_display.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

extern char** environ;

namespace zel::test {
namespace {

pid_t g_server = 0;
std::string g_error;
std::once_flag g_once;

std::string FindProgram(const char* name) {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    std::string path = std::string(dir) + "/" + name;
    if (::access(path.c_str(), X_OK) == 0)
      return path;
  }
  return {};
}

void StopServer() {
  if (g_server > 0) {
    ::kill(g_server, SIGTERM);
    ::waitpid(g_server, nullptr, 0);
    g_server = 0;
  }
}

void Start() {
  std::string xvfb = FindProgram("Xvfb");
  if (xvfb.empty()) {
    g_error = "Xvfb is not installed (scripts/setup.sh installs it)";
    return;
  }
  // Xvfb picks a free display number itself and reports it on a pipe, so
  // parallel test processes never race for one.
  int fds[2];
  if (::pipe(fds) != 0) {
    g_error = "no pipe for Xvfb";
    return;
  }
  std::string fd_text = std::to_string(fds[1]);
  std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
  const char* argv[] = {xvfb.c_str(), "-displayfd",   fd_text.c_str(), "-screen",
                        "0",          screen.c_str(), "-nolisten",     "tcp",
                        "-dpi",       "96",           nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, xvfb.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    g_error = "Xvfb cannot be started";
    return;
  }
  g_server = pid;
  std::atexit(StopServer);
  std::string number;
  struct pollfd wait_for {
    fds[0], POLLIN, 0
  };
  char c = 0;
  while (::poll(&wait_for, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
    number += c;
  ::close(fds[0]);
  if (number.empty()) {
    g_error = "Xvfb did not report its display";
    return;
  }
  std::string display = ":" + number;
  ::setenv("DISPLAY", display.c_str(), 1);
  ::unsetenv("WAYLAND_DISPLAY");
  ::setenv("GDK_BACKEND", "x11", 1);
  ::setenv("NO_AT_BRIDGE", "1", 1);
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  ::setenv("GTK_THEME", "Adwaita", 1);
}

}  // namespace

std::string StartXvfb() {
  std::call_once(g_once, Start);
  return g_error;
}

bool HaveXdotool() {
  return !FindProgram("xdotool").empty();
}

bool Xdotool(const std::string& args) {
  std::string tool = FindProgram("xdotool");
  if (tool.empty())
    return false;
  std::string command = tool + " " + args + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace zel::test
