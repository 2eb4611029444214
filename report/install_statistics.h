// The per-run statistics record: facts collected while the wizard runs, sent
// to the vendor's statistics server as a start report and a final report,
// with the install log after a failed run.
#ifndef ZEL_REPORT_INSTALL_STATISTICS_H_
#define ZEL_REPORT_INSTALL_STATISTICS_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "report/report_upload.h"

namespace zel {

// The "version" member of every report.
inline constexpr std::int32_t kReportVersion = 1015;

// Status values ("install_status"). The misspellings are what the server
// expects.
inline constexpr char kStatusStart[] = "start";
inline constexpr char kStatusSuccess[] = "success";
inline constexpr char kStatusCancel[] = "cancel";
inline constexpr char kStatusDownloadCancel[] = "donwload_cancel";
inline constexpr char kStatusInstallCancel[] = "install_cancel";
inline constexpr char kStatusInstallFail[] = "install_fail";
inline constexpr char kStatusDownloadFail[] = "downLoad_fail";

// One mirror as the engine saw it (its UrlCfg record).
struct MirrorReportEntry {
  std::string url;  // kept, not reported
  bool valid = false;
  std::int32_t ping_time = 0;  // milliseconds
  std::string domain;
};

// "%02d:%02d:%02d" of hours, minutes, seconds; empty for a negative value.
std::string DurationText(std::int32_t seconds);
// "%.2fMB" above 1048576, "%.2fKB" above 1024, else "%dByte".
std::string SizeText(std::int32_t value);
// "%d-%02d-%02d_%02d:%02d:%02d" of the local time now.
std::string LocalTimeText();

class InstallStatistics {
 public:
  using Clock = std::function<std::uint32_t()>;  // whole seconds since system start

  // |language| is the English name of the selected interface language; the
  // user id and the system language are found here.
  InstallStatistics(std::string report_url, std::string run_id, std::string app_id,
                    std::string option, std::string source, std::string app_version,
                    bool app_is_64bit, bool system_is_64bit, std::string log_path,
                    std::string log_url, std::string language = "English");
  InstallStatistics(const InstallStatistics&) = delete;
  InstallStatistics& operator=(const InstallStatistics&) = delete;

  // Feeding, from the window, the install worker and the progress page.
  void SetProgress(std::int32_t progress_rate, std::int32_t speed, std::int32_t average_speed,
                   bool cdn_download);
  void MarkStarted();
  void MarkDownloadStart();
  void SetMirrorLists(std::vector<MirrorReportEntry> all, std::vector<MirrorReportEntry> used);
  void MarkDownloadEnd(bool succeeded, std::int32_t error_code, const std::string& error_text,
                       std::int32_t curl_error, const std::string& last_fail_link,
                       const std::string& repair_link);
  void MarkInstallStart();
  void MarkInstallEnd(bool succeeded, std::int32_t system_error,
                      const std::string& install_error_name, bool show_thankyou);

  // One attempt each; the callers retry up to ten times, 500 ms apart.
  bool SendStartReport();
  bool SendFinalReport(bool auto_install, bool run_app, bool change_install_path, bool add_plan,
                       bool create_desktop);

  // The outcome as the flags stand now (first matching rule wins). A run
  // closed during the download or the installation ends that phase now.
  std::string StatusText();

  const std::string& user_id() const { return user_id_; }
  const std::string& run_id() const { return run_id_; }
  const std::string& system_language() const { return system_language_; }

  // Test hooks.
  void SetClockForTesting(Clock clock) { clock_ = std::move(clock); }
  void SetPostTimeoutForTesting(long seconds) { post_timeout_seconds_ = seconds; }

 private:
  std::uint32_t Now() const;
  std::string StatusTextLocked();
  std::string FallbackText(const std::string& status) const;

  // Set at construction, read by both report threads without the lock.
  const std::string report_url_;
  const std::string run_id_;
  const std::string app_id_;
  const std::string option_;
  const std::string source_;
  const std::string log_path_;
  const std::string app_version_;
  const std::string log_url_;
  const std::string language_;
  const bool app_is_64bit_;
  const bool system_is_64bit_;
  std::string user_id_;
  std::string system_language_;
  Clock clock_;
  long post_timeout_seconds_ = kPostJsonTimeoutSeconds;

  // Fed by other threads while a report is built: one lock for all of it.
  std::mutex lock_;
  std::string last_fail_link_;
  std::string repair_link_;
  std::string download_error_text_;
  std::string install_error_name_;
  std::int32_t curl_error_ = 0;
  std::int32_t download_error_code_ = 0;
  std::int32_t install_system_error_ = 0;
  bool cdn_download_ = false;
  bool show_thankyou_ = false;
  bool download_succeeded_ = false;
  bool install_succeeded_ = false;
  bool run_started_ = false;
  bool install_running_ = false;
  bool download_finished_ = false;
  bool log_uploaded_ = false;
  std::int32_t progress_rate_ = 0;
  std::int32_t speed_ = 0;
  std::int32_t average_speed_ = 0;
  std::uint32_t start_report_time_ = 0;
  std::uint32_t final_time_ = 0;
  std::uint32_t download_start_ = 0;
  std::uint32_t download_end_ = 0;
  std::uint32_t install_start_ = 0;
  std::uint32_t install_end_ = 0;
  std::vector<MirrorReportEntry> all_mirrors_;
  std::vector<MirrorReportEntry> used_mirrors_;
};

}  // namespace zel

#endif  // ZEL_REPORT_INSTALL_STATISTICS_H_
