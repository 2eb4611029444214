#include "shell/crash_report.h"

#include <mutex>

#include "platform/crash_handler.h"
#include "platform/paths.h"
#include "system/file_util.h"

namespace zel {

std::wstring CrashDumpPath(const std::wstring& display_name, bool create) {
  std::wstring path;
  DocumentsPath(&path, display_name, L"install.dmp", create);
  return path;
}

std::wstring CrashLogPath(const std::wstring& display_name, bool create) {
  std::wstring path;
  DocumentsPath(&path, PathJoin(display_name, L"Log"), L"install.log", create);
  return path;
}

std::vector<std::string> CrashReporterCommandLine(const CrashFilterSettings& settings,
                                                  const std::wstring& dump_path,
                                                  const std::wstring& log_path,
                                                  int* image_written_arg) {
  std::wstring program = settings.reporter_path;
  if (program.empty()) {
    std::wstring self = platform::ModuleFileName();
    std::size_t slash = self.find_last_of(platform::kPathSeparator);
    if (slash != std::wstring::npos) {
      program = self.substr(0, slash + 1) + ToWide(kCrashReporterProgram);
    }
  }
  std::vector<std::string> argv = {ToNarrow(program),
                                   "--url",
                                   settings.crash_url,
                                   "--app-id",
                                   settings.app_id,
                                   "--dump",
                                   ToNarrow(dump_path),
                                   "--log",
                                   ToNarrow(log_path),
                                   "--crash-id",
                                   settings.crash_id,
                                   "--language",
                                   settings.language,
                                   "--timeout",
                                   std::to_string(settings.upload_timeout_seconds),
                                   "--image-written",
                                   "0"};
  if (image_written_arg != nullptr)
    *image_written_arg = static_cast<int>(argv.size()) - 1;
  return argv;
}

namespace {

bool SameSettings(const CrashFilterSettings& a, const CrashFilterSettings& b) {
  return a.display_name == b.display_name && a.crash_url == b.crash_url && a.app_id == b.app_id &&
         a.language == b.language && a.crash_id == b.crash_id &&
         a.reporter_path == b.reporter_path &&
         a.upload_timeout_seconds == b.upload_timeout_seconds &&
         a.reporter_wait_ms == b.reporter_wait_ms;
}

std::mutex g_lock;
CrashFilterSettings g_installed;
platform::CrashHandlerOptions g_options;
bool g_have_installed = false;

}  // namespace

bool InstallCrashFilter(const CrashFilterSettings& settings) {
  if (settings.crash_url.empty() || settings.app_id.empty() || settings.display_name.empty() ||
      settings.upload_timeout_seconds <= 0) {
    return false;
  }
  std::lock_guard<std::mutex> hold(g_lock);
  // The window installs the filter on every message: only the first call,
  // or one with new settings, needs to prepare anything.
  if (g_have_installed && SameSettings(g_installed, settings)) {
    return platform::InstallCrashHandler(g_options);  // takes the signals back if need be
  }
  const std::wstring log_path = CrashLogPath(settings.display_name, true);
  const std::wstring dump_path = CrashDumpPath(settings.display_name, true);
  if (dump_path.empty())
    return false;
  platform::CrashHandlerOptions options;
  options.image_path = ToNarrow(dump_path);
  options.reporter_argv =
      CrashReporterCommandLine(settings, dump_path, log_path, &options.image_written_arg);
  if (options.reporter_argv.front().empty()) {
    // No reporter to start: the image is still written for a later look.
    options.reporter_argv.clear();
    options.image_written_arg = -1;
  }
  options.reporter_wait_ms = settings.reporter_wait_ms;
  if (!platform::InstallCrashHandler(options))
    return false;
  g_installed = settings;
  g_options = options;
  g_have_installed = true;
  return true;
}

void RemoveCrashFilter() {
  std::lock_guard<std::mutex> hold(g_lock);
  platform::RemoveCrashHandler();
  g_have_installed = false;
}

}  // namespace zel
