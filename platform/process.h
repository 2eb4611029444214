// Processes: the list of running programs, ending them, and starting
// programs the way the Windows shell and CreateProcessWithTokenW do.
//
// On POSIX the list comes from /proc. A process's executable name is the
// file name of its executable (/proc/PID/exe), else of its argv[0], else its
// kernel name. Ended processes that are not yet reaped (zombies) are not
// listed: on Windows an ended process leaves the snapshot at once.
#ifndef ZEL_PLATFORM_PROCESS_H_
#define ZEL_PLATFORM_PROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zel::platform {

struct ProcessEntry {
  std::uint32_t pid = 0;
  std::uint32_t parent_pid = 0;
  std::wstring exe_name;  // file name only, e.g. L"Brondex.exe"
};

// Every running process in the system's order (ascending ids).
std::vector<ProcessEntry> ListProcesses();

// Test hook: when on, ListProcesses and TerminateProcessById see only the
// descendants of the calling process, so a test never touches programs it
// did not start.
void LimitProcessesToDescendantsForTesting(bool on);

// Ends process |pid| at once (TerminateProcess) and waits up to a second for
// it to be gone. With a non-empty |expected_exe_name| the process must still
// run that executable (compared without regard to case) when it is signalled,
// so a reused id is never hit. False when there was nothing to end or it
// could not be signalled.
bool TerminateProcessById(std::uint32_t pid, const std::wstring& expected_exe_name);

// Windows command-line splitting (CommandLineToArgvW's rules for arguments):
// blanks separate, double quotes group, 2n backslashes before a quote give n
// and the quote groups, 2n+1 give n and a literal quote.
std::vector<std::wstring> SplitCommandLine(const std::wstring& command_line);

// A started child process. Move-only; the destructor releases it (like
// CloseHandle: the process itself keeps running).
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process();

  bool IsValid() const { return pid_ > 0; }
  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }

  // GetExitCodeProcess: true with |*code| once the process has ended; its
  // exit status, 128 + the signal when a signal ended it, or the code given
  // to Terminate. kStillActive while it runs.
  static constexpr std::uint32_t kStillActive = 259;
  bool GetExitCode(std::uint32_t* code);
  // Waits up to |timeout_ms| for the end; true when it has ended.
  bool Wait(std::uint32_t timeout_ms);
  // TerminateProcess: ends it at once; later exit codes read |exit_code|.
  bool Terminate(std::uint32_t exit_code);
  // Forgets the process; one still running is reaped in the background
  // when it ends.
  void Release();

 private:
  friend class ProcessLauncher;
  bool Poll(bool block);

  pid_t pid_ = -1;
  bool ended_ = false;
  std::uint32_t exit_code_ = kStillActive;
  std::optional<std::uint32_t> terminated_with_;
};

// Show commands of ShellExecute.
inline constexpr int kShowHide = 0;
inline constexpr int kShowNormal = 1;

struct ShellExecuteRequest {
  std::wstring verb;        // L"open", L"runas" or empty (open)
  std::wstring file;        // a program, a document or a web address
  std::wstring parameters;  // Windows command-line text
  std::wstring folder;      // working folder; empty keeps the caller's
  int show = kShowNormal;   // no meaning for POSIX programs; kept for callers
};

// ShellExecute(Ex). An executable file runs directly with |parameters| split
// into its arguments; anything else (a document, an address such as
// "https://...") goes to xdg-open when it is installed. "runas" starts the
// program with the caller's own rights: elevation is decided by whoever ran
// the installer. Returns the shell's result: greater than 32 on success; else
// 2 (file not found), 3 (path not found), 5 (access denied), 8 (out of
// memory), 11 (bad format) or 31 (no program for it).
// With |process| the started program is kept there (SEE_MASK_NOCLOSEPROCESS);
// without it the program is detached and never becomes our zombie.
int ShellExecute(const ShellExecuteRequest& request, Process* process);

// Runs |argv| (argv[0] a path, or a name looked up along PATH) with no input
// and its output discarded, waiting up to |timeout_ms| and ending it when it
// takes longer. Its exit code; nothing when it could not start or was ended.
std::optional<int> RunQuietly(const std::vector<std::string>& argv, std::uint32_t timeout_ms);

// The signed-in desktop user (the owner of Explorer's token on Windows).
struct UserIdentity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
  std::string name;
  std::string home;
};

// The desktop user whose session started this process, when this
// process runs as root for them: SUDO_UID, else PKEXEC_UID, else the login
// user of the session (/proc/self/loginuid). Nothing when there is none, when
// that user is root itself, or when this process is not root (there are no
// rights to drop then).
std::optional<UserIdentity> GetShellUserToken();

// CreateProcessWithTokenW: starts |file| as |user| (groups, gid and uid
// switched, HOME/USER/LOGNAME/XDG_RUNTIME_DIR theirs, the rest of the
// environment the caller's), arguments from |parameters|, in |folder| (empty:
// the caller's folder, else the user's home when they cannot enter it). The
// program is detached. False when it cannot be started.
bool StartProcessAsUser(const UserIdentity& user, const std::wstring& file,
                        const std::wstring& parameters, const std::wstring& folder);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_PROCESS_H_
