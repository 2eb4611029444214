#include "tools/mirror-server/mirror_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zel::mirror {

MirrorProcess::~MirrorProcess() {
  StopServer();
}

bool MirrorProcess::Start(const std::string& server_binary, const std::string& file,
                          const std::string& name, const std::vector<std::string>& scripts,
                          const std::string& log_path) {
  name_ = name;
  log_path_ = log_path;
  int to_child[2];
  int from_child[2];
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return false;
  }
  std::vector<std::string> args = {server_binary, "--file", file,     "--name",
                                   name,          "--log",  log_path, "--watch-stdin"};
  for (const std::string& script : scripts) {
    args.push_back("--mirror");
    args.push_back(script.empty() ? "port=0" : script);
  }
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(to_child[0], 0);
    ::dup2(from_child[1], 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  stdin_fd_ = to_child[1];
  if (pid_ < 0) {
    ::close(from_child[0]);
    error_ = "fork failed";
    return false;
  }
  // Read "mirror I port P host H" lines up to "ready".
  std::string output;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (output.find("ready\n") == std::string::npos) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    pollfd fd{from_child[0], POLLIN, 0};
    if (left <= 0 || ::poll(&fd, 1, left) <= 0)
      break;
    char chunk[256];
    ssize_t n = ::read(from_child[0], chunk, sizeof(chunk));
    if (n <= 0)
      break;
    output.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(from_child[0]);
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    int index = 0;
    unsigned port = 0;
    char host[16] = {};
    if (std::sscanf(line.c_str(), "mirror %d port %u host %15s", &index, &port, host) == 3) {
      ports_.push_back(static_cast<unsigned short>(port));
      hosts_.push_back(host);
    }
  }
  if (output.find("ready\n") == std::string::npos || ports_.size() != scripts.size()) {
    error_ = "mirror-server did not start: " + output;
    StopServer();
    return false;
  }
  return true;
}

void MirrorProcess::StopServer() {
  if (stdin_fd_ >= 0) {
    ::close(stdin_fd_);  // the server ends when its input closes
    stdin_fd_ = -1;
  }
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      ::usleep(20000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

std::string MirrorProcess::Url(int mirror) const {
  return "http://" + HostPort(mirror) + "/download/" + name_;
}

std::string MirrorProcess::HostPort(int mirror) const {
  return host(mirror) + ":" + std::to_string(port(mirror));
}

std::vector<LoggedRequest> MirrorProcess::Requests() const {
  std::vector<LoggedRequest> requests;
  std::ifstream in(log_path_);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    LoggedRequest request;
    std::string range;
    if (fields >> request.mirror >> request.method >> request.target >> range) {
      request.range = range.substr(std::strlen("range="));
      requests.push_back(request);
    }
  }
  return requests;
}

int MirrorProcess::CountRequests(int mirror, const std::string& method) const {
  int count = 0;
  for (const LoggedRequest& request : Requests()) {
    if ((mirror < 0 || request.mirror == mirror) && (method.empty() || request.method == method)) {
      ++count;
    }
  }
  return count;
}

}  // namespace zel::mirror
