#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/text.h"

extern char** environ;

namespace zel::platform {
namespace {

std::atomic<bool> g_descendants_only{false};

bool ParseUnsigned(const std::string& text, std::uint32_t* out) {
  if (text.empty() || text.size() > 10)
    return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 0xFFFFFFFFull)
    return false;
  *out = static_cast<std::uint32_t>(value);
  return true;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct ProcStat {
  char state = '?';
  std::uint32_t parent = 0;
  std::string comm;
};

// "/proc/PID/stat": "PID (comm) S PPID ..."; comm may hold blanks and
// parentheses, so it ends at the last ')'.
bool ReadStat(std::uint32_t pid, ProcStat* out) {
  std::string text = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t open = text.find('(');
  std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open)
    return false;
  out->comm = text.substr(open + 1, close - open - 1);
  std::istringstream rest(text.substr(close + 1));
  std::string state, parent;
  if (!(rest >> state >> parent) || state.size() != 1)
    return false;
  out->state = state[0];
  return ParseUnsigned(parent, &out->parent);
}

std::string ExeName(std::uint32_t pid, const std::string& comm) {
  const std::string base = "/proc/" + std::to_string(pid);
  char buffer[4096];
  ssize_t n = ::readlink((base + "/exe").c_str(), buffer, sizeof(buffer) - 1);
  if (n > 0) {
    std::string target(buffer, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() > kDeleted.size() &&
        target.compare(target.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
      target.resize(target.size() - kDeleted.size());
    }
    return BaseName(target);
  }
  // Another user's process: its executable link is closed to us.
  std::string cmdline = ReadSmallFile(base + "/cmdline");
  std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
  if (!argv0.empty())
    return BaseName(argv0);
  return comm;
}

struct RawEntry {
  std::uint32_t pid;
  ProcStat stat;
};

std::vector<RawEntry> ScanProc() {
  std::vector<RawEntry> out;
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr)
    return out;
  while (struct dirent* entry = ::readdir(dir)) {
    std::uint32_t pid = 0;
    if (!ParseUnsigned(entry->d_name, &pid) || pid == 0)
      continue;
    RawEntry raw{pid, {}};
    if (!ReadStat(pid, &raw.stat))
      continue;  // gone meanwhile
    out.push_back(std::move(raw));
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(),
            [](const RawEntry& a, const RawEntry& b) { return a.pid < b.pid; });
  return out;
}

std::set<std::uint32_t> Descendants(const std::vector<RawEntry>& all, std::uint32_t root) {
  std::map<std::uint32_t, std::uint32_t> parent;
  for (const RawEntry& e : all)
    parent[e.pid] = e.stat.parent;
  std::set<std::uint32_t> out;
  for (const RawEntry& e : all) {
    std::uint32_t p = e.stat.parent;
    for (int depth = 0; depth < 64 && p != 0; ++depth) {
      if (p == root) {
        out.insert(e.pid);
        break;
      }
      auto it = parent.find(p);
      if (it == parent.end())
        break;
      p = it->second;
    }
  }
  return out;
}

bool IsDescendant(std::uint32_t pid) {
  std::vector<RawEntry> all = ScanProc();
  return Descendants(all, static_cast<std::uint32_t>(::getpid())).count(pid) != 0;
}

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

int PidfdSendSignal(int pidfd, int sig) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#else
  (void)pidfd;
  (void)sig;
  errno = ENOSYS;
  return -1;
#endif
}

// ---- Starting programs ----

struct SpawnSpec {
  std::string path;
  std::vector<std::string> argv;
  std::vector<std::string> env;  // the whole environment of the child
  std::string folder;            // empty: keep the current one
  std::string fallback_folder;   // tried when |folder| cannot be entered
  const UserIdentity* user = nullptr;
  bool detach = false;
  bool quiet = false;  // output to /dev/null
};

// fork + exec with a close-on-exec pipe that carries exec's errno back, so
// the caller learns whether the program really started. Only
// async-signal-safe calls run between fork and exec. 0 or an errno value.
int Spawn(const SpawnSpec& plan, pid_t* out_pid) {
  std::vector<char*> argv;
  for (const std::string& a : plan.argv)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : plan.env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return errno;
  pid_t pid = ::fork();
  if (pid < 0) {
    int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return err;
  }
  if (pid == 0) {
    ::close(fds[0]);
    auto fail = [&](int err) {
      ssize_t ignored = ::write(fds[1], &err, sizeof(err));
      (void)ignored;
      ::_exit(127);
    };
    if (plan.detach) {
      // The grandchild runs the program; it belongs to init, not to us.
      pid_t grandchild = ::fork();
      if (grandchild < 0)
        fail(errno);
      if (grandchild > 0)
        ::_exit(0);
      ::setsid();
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    if (plan.user != nullptr) {
      if (::setgroups(plan.user->groups.size(), plan.user->groups.data()) != 0)
        fail(errno);
      if (::setgid(plan.user->gid) != 0)
        fail(errno);
      if (::setuid(plan.user->uid) != 0)
        fail(errno);
    }
    if (!plan.folder.empty() && ::chdir(plan.folder.c_str()) != 0) {
      int err = errno;
      if (plan.fallback_folder.empty())
        fail(err);
      if (::chdir(plan.fallback_folder.c_str()) != 0 && ::chdir("/") != 0)
        fail(err);
    }
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      if (plan.quiet) {
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
      }
      if (null_fd > 2)
        ::close(null_fd);
    }
    ::execve(plan.path.c_str(), argv.data(), envp.data());
    fail(errno);
  }
  ::close(fds[1]);
  int err = 0;
  ssize_t n;
  do {
    n = ::read(fds[0], &err, sizeof(err));
  } while (n < 0 && errno == EINTR);
  ::close(fds[0]);
  if (n != static_cast<ssize_t>(sizeof(err)))
    err = 0;  // closed by a successful exec
  if (plan.detach || err != 0) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (plan.detach)
      pid = -1;
  }
  if (err == 0 && out_pid != nullptr)
    *out_pid = pid;
  return err;
}

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    env.emplace_back(*e);
  return env;
}

void SetEnv(std::vector<std::string>* env, const std::string& name, const std::string& value) {
  const std::string prefix = name + "=";
  for (std::string& e : *env) {
    if (e.compare(0, prefix.size(), prefix) == 0) {
      e = prefix + value;
      return;
    }
  }
  env->push_back(prefix + value);
}

void UnsetEnv(std::vector<std::string>* env, const std::string& name) {
  const std::string prefix = name + "=";
  std::erase_if(*env,
                [&](const std::string& e) { return e.compare(0, prefix.size(), prefix) == 0; });
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A bare name is looked up along PATH, as the shell does.
std::string FindInPath(const std::string& name) {
  if (name.find('/') != std::string::npos)
    return name;
  std::optional<std::string> path = GetEnv("PATH");
  std::string dirs = path ? *path : std::string("/usr/local/bin:/usr/bin:/bin");
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    std::string dir =
        dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (IsExecutableFile(candidate))
      return candidate;
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return std::string();
}

bool LooksLikeAddress(const std::string& text) {
  std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0)
    return false;
  for (std::size_t i = 0; i < colon; ++i) {
    char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return text.compare(colon, 3, "://") == 0 || text.compare(0, 7, "mailto:") == 0;
}

int ShellResultOf(int err) {
  switch (err) {
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // SE_ERR_ACCESSDENIED
    case ENOMEM:
      return 8;  // SE_ERR_OOM
    case ENOEXEC:
      return 11;  // ERROR_BAD_FORMAT
    default:
      return 0;
  }
}

// Any value above 32 means success to ShellExecute's callers.
constexpr int kShellOk = 42;

void ReapInBackground(pid_t pid) {
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

class ProcessLauncher {
 public:
  static void Adopt(Process* process, pid_t pid) {
    *process = Process();
    process->pid_ = pid;
  }
};

std::vector<ProcessEntry> ListProcesses() {
  std::vector<RawEntry> all = ScanProc();
  std::set<std::uint32_t> allowed;
  const bool limited = g_descendants_only.load();
  if (limited)
    allowed = Descendants(all, static_cast<std::uint32_t>(::getpid()));
  std::vector<ProcessEntry> out;
  for (const RawEntry& e : all) {
    if (e.stat.state == 'Z' || e.stat.state == 'X')
      continue;
    if (limited && allowed.count(e.pid) == 0)
      continue;
    out.push_back(ProcessEntry{e.pid, e.stat.parent, Utf8ToWide(ExeName(e.pid, e.stat.comm))});
  }
  return out;
}

void LimitProcessesToDescendantsForTesting(bool on) {
  g_descendants_only.store(on);
}

bool TerminateProcessById(std::uint32_t pid, const std::wstring& expected_exe_name) {
  if (pid == 0 || pid > 0x7FFFFFFFu || pid == static_cast<std::uint32_t>(::getpid()))
    return false;
  if (g_descendants_only.load() && !IsDescendant(pid))
    return false;
  // The pidfd pins the process: once the name is checked through it, a
  // reused id cannot be signalled by mistake.
  int pidfd = PidfdOpen(static_cast<pid_t>(pid));
  if (pidfd < 0 && errno != ENOSYS)
    return false;
  if (!expected_exe_name.empty()) {
    ProcStat stat;
    if (!ReadStat(pid, &stat) ||
        ToLowerWide(Utf8ToWide(ExeName(pid, stat.comm))) != ToLowerWide(expected_exe_name)) {
      if (pidfd >= 0)
        ::close(pidfd);
      return false;
    }
  }
  bool sent = pidfd >= 0 ? PidfdSendSignal(pidfd, SIGKILL) == 0
                         : ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
  if (sent && pidfd >= 0) {
    // Readable once the process has ended (a zombie counts as ended).
    struct pollfd p = {pidfd, POLLIN, 0};
    while (::poll(&p, 1, 1000) < 0 && errno == EINTR) {
    }
  }
  if (pidfd >= 0)
    ::close(pidfd);
  return sent;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& command_line) {
  std::vector<std::wstring> out;
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  for (;;) {
    while (i < n && (command_line[i] == L' ' || command_line[i] == L'\t' ||
                     command_line[i] == L'\n' || command_line[i] == L'\r')) {
      ++i;
    }
    if (i >= n)
      break;
    std::wstring arg;
    bool quoted = false;
    while (i < n) {
      wchar_t c = command_line[i];
      if (!quoted && (c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'))
        break;
      if (c == L'\\') {
        std::size_t slashes = 0;
        while (i < n && command_line[i] == L'\\')
          ++slashes, ++i;
        if (i < n && command_line[i] == L'"') {
          arg.append(slashes / 2, L'\\');
          if (slashes % 2 == 1) {
            arg += L'"';
            ++i;
          }
        } else {
          arg.append(slashes, L'\\');
        }
        continue;
      }
      if (c == L'"') {
        // "" inside quotes is a literal quote.
        if (quoted && i + 1 < n && command_line[i + 1] == L'"') {
          arg += L'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

Process::Process(Process&& other) noexcept {
  *this = std::move(other);
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = std::exchange(other.pid_, -1);
    ended_ = other.ended_;
    exit_code_ = other.exit_code_;
    terminated_with_ = other.terminated_with_;
  }
  return *this;
}

Process::~Process() {
  Release();
}

bool Process::Poll(bool block) {
  if (pid_ <= 0)
    return false;
  if (ended_)
    return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_)
    return false;
  ended_ = true;
  if (terminated_with_) {
    exit_code_ = *terminated_with_;
  } else if (WIFEXITED(status)) {
    exit_code_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    exit_code_ = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return true;
}

bool Process::GetExitCode(std::uint32_t* code) {
  if (pid_ <= 0 || code == nullptr)
    return false;
  *code = Poll(false) ? exit_code_ : kStillActive;
  return true;
}

bool Process::Wait(std::uint32_t timeout_ms) {
  if (pid_ <= 0)
    return false;
  const std::uint32_t start = TickCountMs();
  for (;;) {
    if (Poll(false))
      return true;
    if (TickCountMs() - start >= timeout_ms)
      return false;
    SleepMs(5);
  }
}

bool Process::Terminate(std::uint32_t exit_code) {
  if (pid_ <= 0)
    return false;
  if (ended_)
    return true;
  // Not reaped yet, so the id still names our child.
  if (::kill(pid_, SIGKILL) != 0)
    return false;
  terminated_with_ = exit_code;
  return true;
}

void Process::Release() {
  if (pid_ > 0 && !Poll(false))
    ReapInBackground(pid_);
  pid_ = -1;
  ended_ = false;
  exit_code_ = kStillActive;
  terminated_with_.reset();
}

int ShellExecute(const ShellExecuteRequest& request, Process* process) {
  if (process != nullptr)
    *process = Process();
  if (request.verb != L"" && request.verb != L"open" && request.verb != L"runas") {
    return 31;  // SE_ERR_NOASSOC: no such verb here
  }
  const std::string file = WideToUtf8(request.file);
  if (file.empty())
    return 2;

  SpawnSpec plan;
  plan.env = CurrentEnvironment();
  plan.folder = WideToUtf8(request.folder);
  plan.detach = process == nullptr;

  std::string program = LooksLikeAddress(file) ? std::string() : FindInPath(file);
  if (!program.empty() && IsExecutableFile(program)) {
    plan.path = program;
    plan.argv.push_back(program);
    for (const std::wstring& arg : SplitCommandLine(request.parameters)) {
      plan.argv.push_back(WideToUtf8(arg));
    }
  } else {
    struct stat st;
    if (!LooksLikeAddress(file) && ::stat(file.c_str(), &st) != 0)
      return ShellResultOf(errno);
    // A document or an address: the desktop's opener picks the program.
    std::string opener = FindInPath("xdg-open");
    if (opener.empty())
      return 31;
    plan.path = opener;
    plan.argv = {opener, file};
  }
  pid_t pid = -1;
  int err = Spawn(plan, &pid);
  if (err != 0)
    return ShellResultOf(err);
  if (process != nullptr)
    ProcessLauncher::Adopt(process, pid);
  return kShellOk;
}

std::optional<int> RunQuietly(const std::vector<std::string>& argv, std::uint32_t timeout_ms) {
  if (argv.empty())
    return std::nullopt;
  SpawnSpec plan;
  plan.path = FindInPath(argv[0]);
  if (plan.path.empty())
    return std::nullopt;
  plan.argv = argv;
  plan.env = CurrentEnvironment();
  plan.quiet = true;
  pid_t pid = -1;
  if (Spawn(plan, &pid) != 0)
    return std::nullopt;
  Process process;
  ProcessLauncher::Adopt(&process, pid);
  if (!process.Wait(timeout_ms)) {
    process.Terminate(1);
    process.Wait(1000);
    return std::nullopt;
  }
  std::uint32_t code = 0;
  process.GetExitCode(&code);
  return static_cast<int>(code);
}

std::optional<UserIdentity> GetShellUserToken() {
  if (::geteuid() != 0)
    return std::nullopt;
  std::uint32_t uid = 0;
  bool found = false;
  for (const char* name : {"SUDO_UID", "PKEXEC_UID"}) {
    std::optional<std::string> value = GetEnv(name);
    if (value && ParseUnsigned(*value, &uid)) {
      found = true;
      break;
    }
  }
  if (!found) {
    std::string text = ReadSmallFile("/proc/self/loginuid");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
      text.pop_back();
    // 4294967295: no login session recorded.
    found = ParseUnsigned(text, &uid) && uid != 0xFFFFFFFFu;
  }
  if (!found || uid == 0)
    return std::nullopt;

  struct passwd pw;
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(static_cast<uid_t>(uid), &pw, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr) {
    return std::nullopt;
  }
  UserIdentity user;
  user.uid = pw.pw_uid;
  user.gid = pw.pw_gid;
  user.name = pw.pw_name;
  user.home = pw.pw_dir;
  int count = 64;
  for (int attempt = 0; attempt < 4; ++attempt) {
    user.groups.assign(static_cast<std::size_t>(count), 0);
    int want = count;
    if (::getgrouplist(pw.pw_name, pw.pw_gid, user.groups.data(), &want) >= 0) {
      user.groups.resize(static_cast<std::size_t>(want));
      return user;
    }
    count = want > count ? want : count * 2;
  }
  user.groups = {pw.pw_gid};
  return user;
}

bool StartProcessAsUser(const UserIdentity& user, const std::wstring& file,
                        const std::wstring& parameters, const std::wstring& folder) {
  SpawnSpec plan;
  plan.path = WideToUtf8(file);
  if (plan.path.empty())
    return false;
  plan.argv.push_back(plan.path);
  for (const std::wstring& arg : SplitCommandLine(parameters))
    plan.argv.push_back(WideToUtf8(arg));
  plan.env = CurrentEnvironment();
  SetEnv(&plan.env, "HOME", user.home);
  SetEnv(&plan.env, "USER", user.name);
  SetEnv(&plan.env, "LOGNAME", user.name);
  const std::string runtime = "/run/user/" + std::to_string(user.uid);
  struct stat st;
  if (::stat(runtime.c_str(), &st) == 0 && st.st_uid == user.uid) {
    SetEnv(&plan.env, "XDG_RUNTIME_DIR", runtime);
  } else {
    UnsetEnv(&plan.env, "XDG_RUNTIME_DIR");
  }
  if (folder.empty()) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof(cwd)) != nullptr)
      plan.folder = cwd;
  } else {
    plan.folder = WideToUtf8(folder);
  }
  plan.fallback_folder = folder.empty() ? user.home : std::string();
  plan.user = &user;
  plan.detach = true;
  return Spawn(plan, nullptr) == 0;
}

}  // namespace zel::platform
