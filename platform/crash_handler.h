// The process-wide handler for fatal faults (SetUnhandledExceptionFilter and
// MiniDumpWriteDump's role).
//
// When a fault reaches it the handler writes a crash image to a prepared
// path, starts a prepared reporter program, waits a bounded time for it and
// ends the process without a core dump or a system prompt. Everything it
// needs is prepared when it is installed, so the handler itself does no
// allocation and takes no lock: a fault inside the allocator or inside a
// network library cannot deadlock it, and the upload happens in the
// reporter, a process of its own.
//
// On POSIX the faults are SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT,
// handled on an alternate stack for the installing thread (other threads run
// the handler on their own stacks). The crash image is text: the signal, the
// faulting address, the registers, the crashing thread's backtrace and the
// memory map. The process ends with exit status 128 + signal number.
#ifndef ZEL_PLATFORM_CRASH_HANDLER_H_
#define ZEL_PLATFORM_CRASH_HANDLER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zel::platform {

struct CrashHandlerOptions {
  // Where the crash image goes; created or truncated. Its folder must exist.
  std::string image_path;
  // The reporter's command line; argv[0] is the program's full path. Empty:
  // no reporter is started.
  std::vector<std::string> reporter_argv;
  // Index in reporter_argv of an argument that reads "0"; the handler turns
  // it into "1" once the crash image has been written completely, so the
  // reporter never mistakes an older image for this crash's. -1: none.
  int image_written_arg = -1;
  // How long the handler waits for the reporter before the process ends;
  // the reporter keeps running on its own after that.
  std::uint32_t reporter_wait_ms = 2000;
};

// Installs the handler, or replaces the options of the installed one. Also
// re-registers the handler in case something else took the signals since.
// False when the options are unusable (empty image path).
bool InstallCrashHandler(const CrashHandlerOptions& options);
// Gives the signals back to what handled them before InstallCrashHandler.
void RemoveCrashHandler();
bool CrashHandlerInstalled();

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_CRASH_HANDLER_H_
