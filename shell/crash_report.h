// Crash reporting inside the installer: where the crash image and the log
// are, and the process-wide crash filter that writes the image and hands the
// upload to the reporter program.
#ifndef ZEL_SHELL_CRASH_REPORT_H_
#define ZEL_SHELL_CRASH_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// File name of the reporter program, installed beside the installer.
inline constexpr char kCrashReporterProgram[] = "zel-crash-reporter";

struct CrashFilterSettings {
  std::wstring display_name;  // the product's: names the folder of image and log
  std::string crash_url;
  std::string app_id;
  std::string language = "English";
  std::string crash_id;        // empty: the reporter makes one
  std::wstring reporter_path;  // empty: kCrashReporterProgram beside the running program
  long upload_timeout_seconds = 30;
  std::uint32_t reporter_wait_ms = 2000;
};

// Documents/<display name>/install.dmp; with |create| the folders are made.
std::wstring CrashDumpPath(const std::wstring& display_name, bool create);
// Documents/<display name>/Log/install.log, the install log's own path.
std::wstring CrashLogPath(const std::wstring& display_name, bool create);

// The reporter's command line for |settings|; |image_written_arg| receives
// the index of the "0" the crash handler turns into "1".
std::vector<std::string> CrashReporterCommandLine(const CrashFilterSettings& settings,
                                                  const std::wstring& dump_path,
                                                  const std::wstring& log_path,
                                                  int* image_written_arg);

// Installs the crash filter (again: cheap when nothing changed). The folders
// of image and log are made now, not in the handler. False when the settings
// cannot be used.
bool InstallCrashFilter(const CrashFilterSettings& settings);
void RemoveCrashFilter();

}  // namespace zel

#endif  // ZEL_SHELL_CRASH_REPORT_H_
