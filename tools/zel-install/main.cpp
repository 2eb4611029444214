// zel-install: the installer's main job without a window.
//
//   zel-install --config CONFIG.xml [--folder DIR] [--desktop-shortcut] [--add-plan]
//               [--stats-url URL --log-url URL]
//
// Opens the install log, downloads the package the configuration document
// describes into the user's Downloads folder, then installs it: header, close
// running copies, extraction, shortcuts, the product's own install step and
// the uninstall entry. With --stats-url and --log-url the run is reported
// (start and final report, the log after a failure). Exits 0 when the
// product is installed, 1 when anything failed, 2 on usage errors.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "download/downloader.h"
#include "platform/clock.h"
#include "profile/package_header.h"
#include "profile/product_info.h"
#include "report/install_statistics.h"
#include "report/machine_identity.h"
#include "shell/app_values.h"
#include "shell/debug_config.h"
#include "shell/language.h"
#include "shell/log.h"
#include "shell/probes.h"
#include "system/file_util.h"
#include "system/package_extract.h"
#include "system/process.h"
#include "system/registry.h"
#include "system/shortcuts.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kReportAttempts = 10;
constexpr auto kReportPause = std::chrono::milliseconds(500);

struct Options {
  std::string config;
  std::wstring folder;  // empty: the product's program folder
  bool desktop_shortcut = false;
  bool add_plan = false;
  std::string stats_url;
  std::string log_url;
};

int Usage(const char* why) {
  std::fprintf(stderr, "zel-install: %s\n", why);
  std::fprintf(stderr,
               "usage: zel-install --config CONFIG.xml [--folder DIR] [--desktop-shortcut] "
               "[--add-plan]\n"
               "                   [--stats-url URL --log-url URL]\n");
  return kExitUsage;
}

bool ParseOptions(int argc, char** argv, Options* out, const char** why) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--desktop-shortcut") {
      out->desktop_shortcut = true;
    } else if (arg == "--add-plan") {
      out->add_plan = true;
    } else if (arg == "--config" && has_value) {
      out->config = argv[++i];
    } else if (arg == "--folder" && has_value) {
      // Registered and linked as given, so it must not depend on where we ran.
      std::error_code ec;
      fs::path folder = fs::absolute(argv[++i], ec).lexically_normal();
      if (!folder.has_filename())
        folder = folder.parent_path();
      if (ec || folder.empty()) {
        *why = "--folder names no usable path";
        return false;
      }
      out->folder = zel::ToWide(folder.string());
    } else if (arg == "--stats-url" && has_value) {
      out->stats_url = argv[++i];
    } else if (arg == "--log-url" && has_value) {
      out->log_url = argv[++i];
    } else {
      *why = "unknown option or missing value";
      return false;
    }
  }
  if (out->config.empty()) {
    *why = "--config is required";
    return false;
  }
  if (out->stats_url.empty() != out->log_url.empty()) {
    *why = "--stats-url and --log-url go together";
    return false;
  }
  return true;
}

bool ReadText(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return !in.bad();
}

bool IsFile(const std::wstring& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::path(zel::ToNarrow(path)), ec);
}

// At most one line a second, so a fast phase does not flood the terminal.
class Throttle {
 public:
  bool Due() {
    std::uint32_t now = zel::platform::TickCountMs();
    if (shown_ && now - last_ < 1000)
      return false;
    shown_ = true;
    last_ = now;
    return true;
  }

 private:
  bool shown_ = false;
  std::uint32_t last_ = 0;
};

// The statistics record and its two report threads' worth of retries.
class Reporter {
 public:
  Reporter(const Options& options, const std::string& log_path,
           const zel::InstallerVersionLabel& label) {
    if (options.stats_url.empty())
      return;
    std::string option, source;
    zel::ParseModuleNameTags(&option, &source);
    stats_ = std::make_unique<zel::InstallStatistics>(
        options.stats_url, zel::NewRunGuid(), zel::ProductDisplayName(), option, source, label.text,
        zel::GetProductInfo()->IsX64Edition(), zel::IsOs64Bit(), log_path, options.log_url,
        zel::GetLanguageName());
    start_thread_ = std::thread([this] {
      for (int i = 0; i < kReportAttempts && !stats_->SendStartReport(); ++i)
        std::this_thread::sleep_for(kReportPause);
    });
  }
  ~Reporter() {
    if (start_thread_.joinable())
      start_thread_.join();
  }

  zel::InstallStatistics* stats() { return stats_.get(); }

  // The start report goes first, as it would from a wizard that opened
  // before the run began.
  void SendFinal(const Options& options) {
    if (!stats_)
      return;
    if (start_thread_.joinable())
      start_thread_.join();
    bool sent = false;
    for (int i = 0; i < kReportAttempts && !sent; ++i) {
      sent = stats_->SendFinalReport(false, false, !options.folder.empty(), options.add_plan,
                                     options.desktop_shortcut);
      if (!sent)
        std::this_thread::sleep_for(kReportPause);
    }
    std::printf("final report (%s): %s\n", stats_->StatusText().c_str(),
                sent ? "sent" : "not accepted by the server");
  }

 private:
  std::unique_ptr<zel::InstallStatistics> stats_;
  std::thread start_thread_;
};

std::vector<zel::MirrorReportEntry> MirrorEntries(const std::vector<zel::UrlCfg>& urls) {
  std::vector<zel::MirrorReportEntry> entries;
  for (const zel::UrlCfg& url : urls)
    entries.push_back({url.url, url.valid, url.ping_time, url.domain});
  return entries;
}

// Prints the engine's progress and feeds it to the statistics record.
void ShowProgress(zel::IDownloader& engine, std::uint32_t start_tick,
                  zel::InstallStatistics* stats) {
  zel::DownloadInfo info;
  engine.GetInfo(info);
  if (info.total == 0)
    return;
  std::int32_t speed = 0;
  for (const auto& [id, item] : info.table) {
    if (item.status.load() == zel::E_Status_Runing)
      speed += static_cast<std::int32_t>(item.speed.load());
  }
  const std::uint32_t elapsed_s = (zel::platform::TickCountMs() - start_tick) / 1000;
  const auto average =
      static_cast<std::int32_t>(elapsed_s == 0 ? info.downloaded : info.downloaded / elapsed_s);
  const auto percent = static_cast<std::int32_t>(100.0 * info.downloaded / info.total);
  if (stats != nullptr)
    stats->SetProgress(percent, speed, average, engine.IsUsingCdn());
  std::printf("download: %3d%%  %u of %u bytes  %s/s  %zu transfers\n", percent, info.downloaded,
              info.total, zel::SizeText(speed).c_str(), info.table.size());
  std::fflush(stdout);
}

struct DownloadOutcome {
  bool succeeded = false;
  int seconds = 0;
};

// Runs the engine on |config_text| into |target| and waits for its verdict.
DownloadOutcome Download(const std::string& config_text, const std::string& target,
                         zel::InstallStatistics* stats) {
  DownloadOutcome outcome;
  std::unique_ptr<zel::IDownloader> engine;
  if (!zel::CreateDownloader(&engine)) {
    zel::WriteLog("SetupDlg::DoInstall pDownload = NULL.\n");
    std::fprintf(stderr, "zel-install: the download engine could not be created\n");
    return outcome;
  }
  if (stats != nullptr)
    stats->MarkDownloadStart();

  std::mutex lock;
  std::condition_variable changed;
  bool ended = false;
  std::atomic<bool> already_complete{false};
  // Runs on engine threads, some holding the engine lock: record and return.
  engine->SetNotify([&](int code, unsigned, long b) {
    if (code == zel::kNotifyFailed || code == zel::kNotifyFinished) {
      if (code == zel::kNotifyFinished && b == 1)
        already_complete = true;
      std::lock_guard<std::mutex> hold(lock);
      ended = true;
      changed.notify_all();
    }
    return 1;
  });

  const std::uint32_t start_tick = zel::platform::TickCountMs();
  if (engine->BeginDownloadFromText(config_text.c_str(), static_cast<int>(config_text.size()),
                                    target) < 0) {
    std::fprintf(stderr, "zel-install: the download engine did not start\n");
  } else {
    // Only logged: the document came from the command line.
    std::string config_url = zel::GetProductInfo()->GetConfigUrl();
    if (zel::IsTestMode())
      config_url += ".test";
    zel::WriteLog("Url : %s\n", config_url.c_str());
    Throttle throttle;
    for (;;) {
      std::unique_lock<std::mutex> wait(lock);
      changed.wait_for(wait, std::chrono::seconds(1), [&] { return ended; });
      const bool done = ended;
      wait.unlock();
      if (done && !engine->IsRunning())
        break;
      if (done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      if (throttle.Due())
        ShowProgress(*engine, start_tick, stats);
    }
  }
  // The last figures, as a progress page would show them at the end.
  ShowProgress(*engine, start_tick, stats);

  outcome.seconds = static_cast<int>((zel::platform::TickCountMs() - start_tick) / 1000);
  if (already_complete)
    outcome.seconds = 1;
  const std::int32_t status = engine->GetStatus();
  outcome.succeeded = status == zel::kDownloadFinished;
  zel::WriteLog("Download Finish Result : %s(%d).\n", outcome.succeeded ? "succeed" : "failed",
                status);
  if (stats != nullptr) {
    stats->SetMirrorLists(MirrorEntries(engine->GetAllUrlInfo()),
                          MirrorEntries(engine->GetUsedUrlInfo()));
    stats->MarkDownloadEnd(outcome.succeeded, engine->GetErrorCode(), engine->GetErrorName(),
                           engine->GetCurlError(), engine->GetLastFailLink(),
                           engine->GetRepairLink());
  }
  if (!outcome.succeeded) {
    std::fprintf(stderr, "zel-install: download failed: %s (curl error %d, last failed link %s)\n",
                 engine->GetErrorName().c_str(), engine->GetCurlError(),
                 engine->GetLastFailLink().empty() ? "-" : engine->GetLastFailLink().c_str());
  }
  engine->Stop();
  engine.reset();

  std::error_code ec;
  fs::remove(target + ".cfg", ec);
  if (outcome.succeeded && !fs::is_regular_file(target, ec)) {
    std::fprintf(stderr, "zel-install: the engine reported success but %s is missing\n",
                 target.c_str());
    outcome.succeeded = false;
  }
  return outcome;
}

// A product is new to this machine when nothing of an earlier installation
// is found: no uninstaller in the folder, no registered install location
// that still exists, no product data folder.
bool IsNewInstallation(bool has_old_uninstaller, const std::string& key_name) {
  if (has_old_uninstaller)
    return false;
  std::error_code ec;
  std::string location;
  if (zel::ReadInstallLocation(key_name, &location) && fs::is_directory(location, ec))
    return false;
  std::wstring app_data;
  if (zel::AppDataPath(&app_data) &&
      fs::is_directory(zel::ToNarrow(zel::PathJoin(app_data, zel::VendorFolderW())), ec)) {
    return false;
  }
  return true;
}

zel::PackageHeader HeaderFromProfile() {
  auto profile = zel::GetProductInfo();
  zel::PackageHeader header = zel::NewPackageHeader();
  zel::SetHeaderText(header.product_name, profile->GetInstallName());
  zel::SetHeaderText(header.display_name, profile->GetDisplayTitle());
  zel::SetHeaderText(header.version, profile->GetVersion());
  zel::SetHeaderText(header.short_name, profile->GetProductName());
  zel::SetHeaderText(header.publisher, profile->GetLegalNotice());
  header.is_x64 = profile->IsX64Edition() ? 1 : 0;
  return header;
}

// The install phase, in the install worker's order.
bool Install(const std::wstring& package, const Options& options, int download_seconds,
             zel::InstallStatistics* stats) {
  if (stats != nullptr)
    stats->MarkInstallStart();
  zel::WriteLog("Do Install File : %s", zel::ToNarrow(package).c_str());

  zel::PackageHeader header = HeaderFromProfile();
  if (zel::ReadPackageHeader(package.c_str(), &header) < 0)
    zel::WriteLog("Package header unreadable; the extraction will say why.");
  zel::TerminateProductProcesses();

  std::wstring folder = options.folder;
  if (folder.empty()) {
    zel::DefaultInstallFolder(&folder, zel::ToWide(zel::HeaderText(header.product_name)), false,
                              header.is_x64 != 0);
  }
  zel::WriteLog("Install Path : %s", zel::ToNarrow(folder).c_str());
  const bool has_old = IsFile(zel::PathJoin(folder, zel::kUninstallerName));
  const std::string key_name =
      zel::UninstallKeyName(zel::HeaderText(header.product_name), header.is_x64 != 0);
  const bool is_new = IsNewInstallation(has_old, key_name);
  zel::TerminateProductProcesses();

  // The extraction moves an earlier installation aside and brings it back
  // on failure, so the folder is not emptied here.
  zel::WriteLog("Begin depack file.\n");
  std::printf("install: extracting into %s\n", zel::ToNarrow(folder).c_str());
  Throttle throttle;
  zel::ProgressSink sink = [&throttle](int kind, int value, int) {
    if (kind == zel::kSinkEngineProgress && throttle.Due())
      std::printf("install: %d%%\n", value);
    else if (kind == zel::kSinkFailure)
      std::fprintf(stderr, "zel-install: Install Failed!\n");
    return 1;
  };
  const zel::HResult result =
      zel::InstallFromPackage(package.c_str(), sink, folder.c_str(), true, true);
  zel::WriteLog("Install File Result %0X", static_cast<unsigned>(result));
  if (result < 0) {
    zel::WriteLog("Install File FAILED error code = %0X, last error = %d.\n",
                  static_cast<unsigned>(result), zel::GetInstallErrorCode());
    std::fprintf(stderr, "zel-install: extraction failed: %s\n",
                 zel::GetInstallErrorName().c_str());
    if (stats != nullptr)
      stats->MarkInstallEnd(false, zel::GetInstallErrorCode(), zel::GetInstallErrorName(), false);
    return false;
  }

  zel::CreateProductShortcuts(header, options.desktop_shortcut);
  const std::string install_id = zel::MakeInstallId();
  // Headless: no finish page is opened, so none is reported as shown.
  const bool show_thankyou = false;
  zel::WriteLog("New : %d, Has old version : %d, MiniMode : %d\n", is_new ? 1 : 0, has_old ? 1 : 0,
                0);
  const std::wstring main_exe = zel::PathJoin(zel::GetInstallPath(), zel::MainExeNameW());
  zel::InstallStepResult step = zel::RunProductInstallStep(
      main_exe, zel::MainExeNameW(), options.add_plan, install_id, is_new, download_seconds);
  if (!step.started)
    std::fprintf(stderr, "zel-install: the product's install step did not run (see the log)\n");

  const std::int32_t flags = (options.desktop_shortcut ? 1 : 0) | (options.add_plan ? 2 : 0);
  zel::WriteUninstallEntry(header, flags);
  if (stats != nullptr) {
    stats->MarkInstallEnd(true, zel::GetInstallErrorCode(), zel::GetInstallErrorName(),
                          show_thankyou);
  }
  std::printf("install: done, %s in %s\n", zel::ProductDisplayName().c_str(),
              zel::ToNarrow(zel::GetInstallPath()).c_str());
  return true;
}

int Run(const Options& options) {
  std::wstring log_path;
  zel::DocumentsPath(&log_path, zel::PathJoin(zel::ProductDisplayNameW(), L"Log"), L"install.log",
                     true);
  zel::ILog::Instance().Init(log_path);
  zel::WriteLog("Setup Init. Version %s", zel::kInstallerVersion);
  zel::WriteLog("System Mode : %s", zel::IsOs64Bit() ? "x64" : "x86");
  std::printf("log: %s\n", zel::ToNarrow(log_path).c_str());
  // The shortcut names come from the language tables.
  zel::SelectLanguage(zel::ProductDisplayNameW().c_str(), 0);

  auto profile = zel::GetProductInfo();
  if (profile->IsX64Edition() && !zel::IsOs64Bit()) {
    std::fprintf(stderr, "zel-install: this edition needs 64-bit Windows\n");
    return kExitFailed;
  }
  if (!zel::IsWin7OrLater()) {
    std::fprintf(stderr, "zel-install: Windows 7 or later is needed\n");
    return kExitFailed;
  }
  zel::InstallerVersionLabel label;
  if (!zel::LoadInstallerVersionLabel(profile->IsX64Edition(), L"official", &label)) {
    std::fprintf(stderr, "zel-install: the installer's version label is missing\n");
    return kExitFailed;
  }
  std::string config_text;
  if (!ReadText(options.config, &config_text) || config_text.empty()) {
    zel::WriteLog("Download configuration unreadable: %s", options.config.c_str());
    std::fprintf(stderr, "zel-install: cannot read the configuration %s\n", options.config.c_str());
    return kExitFailed;
  }

  Reporter reporter(options, zel::ToNarrow(log_path), label);
  zel::InstallStatistics* stats = reporter.stats();
  if (stats != nullptr)
    stats->MarkStarted();

  std::wstring target;
  const std::wstring file_name =
      zel::ToWide(profile->GetRegistryName()) + zel::ToWide(label.file_infix) + L".exe";
  zel::DownloadsPath(&target, zel::ProductDisplayNameW(), file_name.c_str(), true);
  const std::string narrow_target = zel::ToNarrow(target);
  bool ok = false;
  if (narrow_target.size() >= zel::kPathBufferSize) {
    zel::WriteLog("Download target too long (%zu bytes): %s", narrow_target.size(),
                  narrow_target.c_str());
    std::fprintf(stderr, "zel-install: the download target path is too long: %s\n",
                 narrow_target.c_str());
  } else {
    std::printf("download: into %s\n", narrow_target.c_str());
    DownloadOutcome download = Download(config_text, narrow_target, stats);
    if (!download.succeeded) {
      zel::WriteLog("Download Failed. Show retry.\n");
    } else {
      zel::WriteLog("Begin install...\n");
      ok = Install(target, options, download.seconds, stats);
    }
  }
  reporter.SendFinal(options);
  return ok ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line, so the product's own output cannot overtake ours.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options options;
  const char* why = nullptr;
  if (!ParseOptions(argc, argv, &options, &why))
    return Usage(why);
  return Run(options);
}
