#include "tests/ui/xvfb_display.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

extern char** environ;

namespace zel::test {
namespace {

pid_t g_server = 0;
std::string g_error;
std::once_flag g_once;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

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
  // A display number nobody uses: no socket and no lock file.
  int number = 0;
  for (int n = 100 + (::getpid() % 400); n < 1000; ++n) {
    if (!Exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
        !Exists("/tmp/.X" + std::to_string(n) + "-lock")) {
      number = n;
      break;
    }
  }
  if (number == 0) {
    g_error = "no free display number";
    return;
  }
  std::string display = ":" + std::to_string(number);
  std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
  const char* argv[] = {xvfb.c_str(), display.c_str(), "-screen", "0",  screen.c_str(),
                        "-nolisten",  "tcp",           "-dpi",    "96", nullptr};
  pid_t pid = 0;
  if (::posix_spawn(&pid, xvfb.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    g_error = "Xvfb cannot be started";
    return;
  }
  g_server = pid;
  std::atexit(StopServer);
  std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
  for (int i = 0; i < 200 && !Exists(socket); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (!Exists(socket)) {
    g_error = "Xvfb did not come up on " + display;
    return;
  }
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
