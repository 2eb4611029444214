#include "platform/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

extern char** environ;

namespace zel::platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
constexpr std::size_t kAltStackSize = 64 * 1024;
constexpr int kMaxFrames = 64;

// Everything the handler reads, built before any fault can happen and never
// changed or freed afterwards.
struct Prepared {
  CrashHandlerOptions options;
  std::vector<std::string> args;  // mutable copies of options.reporter_argv
  std::vector<char*> argv;        // into args, null-terminated
  char* written_flag = nullptr;
};

std::mutex g_install_lock;  // install and remove only; the handler never takes it
std::atomic<Prepared*> g_prepared{nullptr};
std::vector<std::unique_ptr<Prepared>> g_blocks;  // kept until exit
struct sigaction g_previous[kSignalCount];
bool g_installed = false;
void* g_alt_stack = nullptr;
std::atomic<int> g_handling{0};

bool SameOptions(const CrashHandlerOptions& a, const CrashHandlerOptions& b) {
  return a.image_path == b.image_path && a.reporter_argv == b.reporter_argv &&
         a.image_written_arg == b.image_written_arg && a.reporter_wait_ms == b.reporter_wait_ms;
}

// --- Async-signal-safe output ------------------------------------------------

class Writer {
 public:
  explicit Writer(int fd) : fd_(fd) {}

  void Put(const char* text) {
    while (*text != '\0')
      PutChar(*text++);
  }
  void PutChar(char c) {
    if (used_ == sizeof(buffer_))
      Flush();
    buffer_[used_++] = c;
  }
  void PutHex(unsigned long long value, int digits = 16) {
    char text[17];
    for (int i = digits - 1; i >= 0; --i) {
      text[i] = "0123456789abcdef"[value & 0xf];
      value >>= 4;
    }
    text[digits] = '\0';
    Put("0x");
    Put(text);
  }
  void PutDec(long long value) {
    char text[24];
    int n = 0;
    unsigned long long v = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                     : static_cast<unsigned long long>(value);
    do {
      text[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (value < 0)
      PutChar('-');
    while (n > 0)
      PutChar(text[--n]);
  }
  bool Flush() {
    std::size_t done = 0;
    while (ok_ && done < used_) {
      ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        ok_ = false;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    used_ = 0;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = true;
  std::size_t used_ = 0;
  char buffer_[512];
};

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
  }
  return "signal";
}

void PutRegisters(Writer& out, const void* context) {
  const ucontext_t* uc = static_cast<const ucontext_t*>(context);
  if (uc == nullptr)
    return;
#if defined(__x86_64__)
  static const struct {
    const char* name;
    int index;
  } kRegs[] = {{"rax", REG_RAX}, {"rbx", REG_RBX},   {"rcx", REG_RCX}, {"rdx", REG_RDX},
               {"rsi", REG_RSI}, {"rdi", REG_RDI},   {"rbp", REG_RBP}, {"rsp", REG_RSP},
               {"r8", REG_R8},   {"r9", REG_R9},     {"r10", REG_R10}, {"r11", REG_R11},
               {"r12", REG_R12}, {"r13", REG_R13},   {"r14", REG_R14}, {"r15", REG_R15},
               {"rip", REG_RIP}, {"eflags", REG_EFL}};
  for (const auto& reg : kRegs) {
    out.Put(reg.name);
    out.Put(" ");
    out.PutHex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[reg.index]));
    out.Put("\n");
  }
#elif defined(__aarch64__)
  for (int i = 0; i < 31; ++i) {
    out.Put("x");
    out.PutDec(i);
    out.Put(" ");
    out.PutHex(uc->uc_mcontext.regs[i]);
    out.Put("\n");
  }
  out.Put("sp ");
  out.PutHex(uc->uc_mcontext.sp);
  out.Put("\npc ");
  out.PutHex(uc->uc_mcontext.pc);
  out.Put("\npstate ");
  out.PutHex(uc->uc_mcontext.pstate);
  out.Put("\n");
#else
  out.Put("(registers not recorded on this processor)\n");
#endif
}

bool CopyFileTo(const char* path, Writer& out, int fd) {
  if (!out.Flush())
    return false;
  int in = ::open(path, O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return true;  // no map to copy is not a failed image
  char chunk[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(fd, chunk + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR)
        continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok)
      break;
  }
  ::close(in);
  return ok;
}

bool WriteImage(const char* path, int sig, const siginfo_t* info, const void* context) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return false;
  Writer out(fd);
  out.Put("ZEL CRASH IMAGE 1\nsignal ");
  out.PutDec(sig);
  out.Put(" ");
  out.Put(SignalName(sig));
  out.Put("\ncode ");
  out.PutDec(info != nullptr ? info->si_code : 0);
  out.Put("\naddress ");
  out.PutHex(info != nullptr ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);
  out.Put("\npid ");
  out.PutDec(::getpid());
  out.Put("\nthread ");
  out.PutDec(static_cast<long long>(::syscall(SYS_gettid)));
  out.Put("\n\n[registers]\n");
  PutRegisters(out, context);
  out.Put("\n[backtrace]\n");
  bool ok = out.Flush();
  if (ok) {
    void* frames[kMaxFrames];
    int count = ::backtrace(frames, kMaxFrames);
    ::backtrace_symbols_fd(frames, count, fd);
  }
  out.Put("\n[maps]\n");
  ok = ok && CopyFileTo("/proc/self/maps", out, fd);
  out.Put("\n[end]\n");
  ok = ok && out.Flush();
  ok = (::close(fd) == 0) && ok;
  return ok;
}

// --- The reporter --------------------------------------------------------------

long long NowMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void CloseInheritedFds() {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0)
    return;
#endif
  for (int fd = 3; fd < 1024; ++fd)
    ::close(fd);
}

void RunReporter(Prepared* prepared) {
  if (prepared->argv.size() < 2)
    return;
  char** argv = prepared->argv.data();
  // vfork, not fork: no fork handlers run, nothing is copied, and the child
  // does nothing but exec.
  pid_t pid = ::vfork();
  if (pid == 0) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    CloseInheritedFds();
    ::execve(argv[0], argv, environ);
    ::_exit(127);
  }
  if (pid < 0)
    return;
  const long long deadline = NowMs() + prepared->options.reporter_wait_ms;
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR))
      return;
    if (NowMs() >= deadline)
      return;  // it finishes on its own
    struct timespec step = {0, 20 * 1000 * 1000};
    ::nanosleep(&step, nullptr);
  }
}

void OnFatalSignal(int sig, siginfo_t* info, void* context) {
  int expected = 0;
  if (!g_handling.compare_exchange_strong(expected, 1)) {
    // Another thread is already reporting and will end the process.
    for (;;)
      ::pause();
  }
  if (Prepared* prepared = g_prepared.load()) {
    const char* path = prepared->options.image_path.c_str();
    if (WriteImage(path, sig, info, context)) {
      if (prepared->written_flag != nullptr)
        *prepared->written_flag = '1';
    } else {
      ::unlink(path);  // a partial image must not pass for this crash's
    }
    RunReporter(prepared);
  }
  ::_exit(128 + sig);
}

void RegisterHandlers(struct sigaction* previous) {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int sig : kSignals)
    sigaddset(&action.sa_mask, sig);
  for (int i = 0; i < kSignalCount; ++i) {
    ::sigaction(kSignals[i], &action, previous != nullptr ? &previous[i] : nullptr);
  }
}

void InstallAltStack() {
  stack_t current;
  if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
    return;
  if (g_alt_stack == nullptr) {
    void* memory =
        ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
      return;
    g_alt_stack = memory;
  }
  stack_t stack;
  std::memset(&stack, 0, sizeof(stack));
  stack.ss_sp = g_alt_stack;
  stack.ss_size = kAltStackSize;
  ::sigaltstack(&stack, nullptr);
}

void RemoveAltStack() {
  stack_t current;
  if (g_alt_stack == nullptr || ::sigaltstack(nullptr, &current) != 0)
    return;
  if (current.ss_sp != g_alt_stack || (current.ss_flags & SS_ONSTACK))
    return;
  stack_t off;
  std::memset(&off, 0, sizeof(off));
  off.ss_flags = SS_DISABLE;
  ::sigaltstack(&off, nullptr);
  // The block stays mapped: another thread may have been given it too.
}

}  // namespace

bool InstallCrashHandler(const CrashHandlerOptions& options) {
  if (options.image_path.empty())
    return false;
  if (options.image_written_arg >= 0 &&
      (static_cast<std::size_t>(options.image_written_arg) >= options.reporter_argv.size() ||
       options.reporter_argv[static_cast<std::size_t>(options.image_written_arg)] != "0")) {
    return false;
  }
  std::lock_guard<std::mutex> hold(g_install_lock);
  Prepared* current = g_prepared.load();
  if (current == nullptr || !SameOptions(current->options, options)) {
    auto block = std::make_unique<Prepared>();
    block->options = options;
    block->args = options.reporter_argv;
    for (std::string& arg : block->args)
      block->argv.push_back(arg.data());
    block->argv.push_back(nullptr);
    if (options.image_written_arg >= 0) {
      block->written_flag = block->args[static_cast<std::size_t>(options.image_written_arg)].data();
    }
    g_prepared.store(block.get());
    g_blocks.push_back(std::move(block));
  }
  if (!g_installed) {
    // backtrace() loads its unwinder on first use, which allocates: do that
    // now rather than inside the handler.
    void* frames[2];
    ::backtrace(frames, 2);
    InstallAltStack();
    RegisterHandlers(g_previous);
    g_installed = true;
  } else {
    InstallAltStack();
    RegisterHandlers(nullptr);
  }
  return true;
}

void RemoveCrashHandler() {
  std::lock_guard<std::mutex> hold(g_install_lock);
  if (!g_installed)
    return;
  for (int i = 0; i < kSignalCount; ++i)
    ::sigaction(kSignals[i], &g_previous[i], nullptr);
  g_prepared.store(nullptr);
  RemoveAltStack();
  g_installed = false;
}

bool CrashHandlerInstalled() {
  std::lock_guard<std::mutex> hold(g_install_lock);
  return g_installed;
}

}  // namespace zel::platform
