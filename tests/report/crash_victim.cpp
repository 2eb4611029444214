// A program that installs the crash filter the way the installer does and
// then crashes on purpose.
//
//   report_crash_victim MODE CRASH_URL REPORTER [CRASH_ID]
//
// MODE: segv (null dereference), abort, thread (null dereference on a second
// thread), removed (filter installed, removed again, then a null
// dereference), exit (no crash).
//
// Built without sanitizers: their own fault handlers would compete with the
// one under test.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "shell/crash_report.h"
#include "shell/log.h"
#include "system/file_util.h"

namespace {

int* volatile g_null = nullptr;

[[noreturn]] void Dereference() {
  std::printf("%d\n", *g_null);
  std::abort();  // not reached
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s MODE CRASH_URL REPORTER [CRASH_ID]\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  zel::CrashFilterSettings settings;
  settings.display_name = L"Telviska";
  settings.crash_url = argv[2];
  settings.app_id = "Telviska";
  settings.language = "German";
  settings.reporter_path = zel::ToWide(argv[3]);
  settings.crash_id = argc > 4 ? argv[4] : "";
  settings.upload_timeout_seconds = 3;
  settings.reporter_wait_ms = 1500;

  zel::ILog::Instance().Init(zel::CrashLogPath(settings.display_name, true));
  zel::WriteLog("Setup Init. Version %s", "1.0.6.0");
  // The window installs the filter on every message.
  for (int i = 0; i < 3; ++i) {
    if (!zel::InstallCrashFilter(settings)) {
      std::fprintf(stderr, "cannot install the crash filter\n");
      return 3;
    }
  }
  zel::WriteLog("crash victim: %s", mode.c_str());

  if (mode == "segv")
    Dereference();
  if (mode == "abort")
    std::abort();
  if (mode == "thread") {
    std::thread worker(Dereference);
    worker.join();
  }
  if (mode == "removed") {
    zel::RemoveCrashFilter();
    Dereference();
  }
  return 0;
}
