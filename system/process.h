// Process control around an installation: closing the product's running
// programs, running its own install step, and starting it as the desktop
// user from the finish page.
#ifndef ZEL_SYSTEM_PROCESS_H_
#define ZEL_SYSTEM_PROCESS_H_

#include <cstdint>
#include <string>

namespace zel {

// True when a running process's executable file name equals |exe_name|
// (without regard to case); |*pid| is the first such process in the system's
// list. |pid| may be null.
bool FindProcessByName(const std::wstring& exe_name, std::uint32_t* pid);
// Ends the first such process with exit code 0; true when one was found,
// even when it could not be ended.
bool TerminateProcessByName(const std::wstring& exe_name);
// TerminateProcessByName for every name of the profile's process list, in
// order (the main executable is listed twice, so two copies are closed).
void TerminateProductProcesses();

// Starts |file| with |parameters| as the ordinary desktop user. Without
// administrator rights or before Vista: a plain "open" through the shell.
// Otherwise as the user whose session started the installer
// (platform::GetShellUserToken), or a plain start when there is no such user.
// |folder| may be null. True when the program started.
bool LaunchUnelevated(const std::wstring& file, const std::wstring& parameters,
                      const wchar_t* folder, int show_command);

// 32 lower-case hexadecimal digits: the MD5 of 1024 random bytes (256
// values of 0 to 32767 in memory order). Different for every call.
std::string MakeInstallId();

// The parameters of the install step: "/install", " /add_plan" when the
// "Join" box is checked, " /ID:" + |install_id| when it is not empty,
// " /new " for a new installation, " /time:%d " for a download of more than
// 0 seconds.
std::string InstallStepParameters(bool join_checked, const std::string& install_id,
                                  bool is_new_install, int download_seconds);

struct InstallStepResult {
  bool started = false;
  std::uint32_t exit_code = 0;  // 0 unless it was read
  int wait_count = 100;         // 100: ended before the first check; -2: ran out
  bool terminated = false;
};

// Runs the product's own install step: starts |main_exe_path| elevated and
// hidden with InstallStepParameters, waits while a process named
// |main_exe_name| runs (at most 102 sleeps of 100 ms), logs the exit code
// and the counter, and ends the started process when the wait ran out. A
// missing executable is logged and skipped; a refused start is skipped.
InstallStepResult RunProductInstallStep(const std::wstring& main_exe_path,
                                        const std::wstring& main_exe_name, bool join_checked,
                                        const std::string& install_id, bool is_new_install,
                                        int download_seconds);

}  // namespace zel

#endif  // ZEL_SYSTEM_PROCESS_H_
