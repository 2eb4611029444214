#include "report/install_statistics.h"

#include <time.h>

#include <boost/format.hpp>
#include <cstdio>
#include <exception>

#include "platform/clock.h"
#include "platform/locale.h"
#include "report/machine_identity.h"
#include "shell/log.h"
#include "support/json_object.h"

namespace zel {
namespace {

const char* TrueFalse(bool value) {
  return value ? "true" : "false";
}
const char* WinBits(bool is64) {
  return is64 ? "win64" : "win32";
}

// The mirror list members: the array, then its one-line text form. An empty
// list adds neither.
void AddMirrorList(CJsonObject* json, const char* name,
                   const std::vector<MirrorReportEntry>& list) {
  if (list.empty())
    return;
  CJsonObject array;
  std::string text;
  for (const MirrorReportEntry& entry : list) {
    CJsonObject item;
    item.AddMember("invalid", static_cast<std::int32_t>(entry.valid ? 1 : 0));
    item.AddMember("domain", entry.domain);
    item.AddMember("ping_time", entry.ping_time);
    array.AppendElement(item);
    text += (boost::format("(domain-%1%,invalid-%2%,ping_time-%3%)") % entry.domain %
             (entry.valid ? 1 : 0) % entry.ping_time)
                .str();
  }
  json->AddMember(name, array);
  json->AddMember(std::string(name) + "_str", text);
}

}  // namespace

std::string DurationText(std::int32_t seconds) {
  if (seconds < 0)
    return std::string();
  char text[40];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60,
                seconds % 60);
  return text;
}

std::string SizeText(std::int32_t value) {
  char text[40];
  if (value > 1048576) {
    std::snprintf(text, sizeof(text), "%.2fMB", value / 1048576.0);
  } else if (value > 1024) {
    std::snprintf(text, sizeof(text), "%.2fKB", value / 1024.0);
  } else {
    std::snprintf(text, sizeof(text), "%dByte", value);
  }
  return text;
}

std::string LocalTimeText() {
  time_t now = ::time(nullptr);
  struct tm local;
  if (::localtime_r(&now, &local) == nullptr)
    return std::string();
  char text[64];
  std::snprintf(text, sizeof(text), "%d-%02d-%02d_%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

InstallStatistics::InstallStatistics(std::string report_url, std::string run_id, std::string app_id,
                                     std::string option, std::string source,
                                     std::string app_version, bool app_is_64bit,
                                     bool system_is_64bit, std::string log_path,
                                     std::string log_url, std::string language)
    : report_url_(std::move(report_url)),
      run_id_(std::move(run_id)),
      app_id_(std::move(app_id)),
      option_(std::move(option)),
      source_(std::move(source)),
      log_path_(std::move(log_path)),
      app_version_(std::move(app_version)),
      log_url_(std::move(log_url)),
      language_(std::move(language)),
      app_is_64bit_(app_is_64bit),
      system_is_64bit_(system_is_64bit) {
  std::vector<std::string> addresses = ListAdapterAddresses();
  user_id_ = addresses.empty() ? run_id_ : addresses.front();
  system_language_ = platform::UserDefaultLanguageName();
}

std::uint32_t InstallStatistics::Now() const {
  return clock_ ? clock_() : platform::SecondsSinceBoot();
}

void InstallStatistics::SetProgress(std::int32_t progress_rate, std::int32_t speed,
                                    std::int32_t average_speed, bool cdn_download) {
  std::lock_guard<std::mutex> hold(lock_);
  progress_rate_ = progress_rate;
  speed_ = speed;
  average_speed_ = average_speed;
  cdn_download_ = cdn_download;
}

void InstallStatistics::MarkStarted() {
  std::lock_guard<std::mutex> hold(lock_);
  run_started_ = true;
}

void InstallStatistics::MarkDownloadStart() {
  std::lock_guard<std::mutex> hold(lock_);
  download_start_ = Now();
  download_finished_ = false;
}

void InstallStatistics::SetMirrorLists(std::vector<MirrorReportEntry> all,
                                       std::vector<MirrorReportEntry> used) {
  std::lock_guard<std::mutex> hold(lock_);
  all_mirrors_ = std::move(all);
  used_mirrors_ = std::move(used);
}

void InstallStatistics::MarkDownloadEnd(bool succeeded, std::int32_t error_code,
                                        const std::string& error_text, std::int32_t curl_error,
                                        const std::string& last_fail_link,
                                        const std::string& repair_link) {
  std::lock_guard<std::mutex> hold(lock_);
  download_end_ = Now();
  download_succeeded_ = succeeded;
  download_error_code_ = error_code;
  download_error_text_ = error_text;
  curl_error_ = curl_error;
  last_fail_link_ = last_fail_link;
  repair_link_ = repair_link;
  download_finished_ = true;
}

void InstallStatistics::MarkInstallStart() {
  std::lock_guard<std::mutex> hold(lock_);
  install_start_ = Now();
  install_running_ = true;
}

void InstallStatistics::MarkInstallEnd(bool succeeded, std::int32_t system_error,
                                       const std::string& install_error_name, bool show_thankyou) {
  std::lock_guard<std::mutex> hold(lock_);
  install_end_ = Now();
  install_succeeded_ = succeeded;
  install_system_error_ = system_error;
  install_error_name_ = install_error_name;
  show_thankyou_ = show_thankyou;
  install_running_ = false;
}

std::string InstallStatistics::StatusText() {
  std::lock_guard<std::mutex> hold(lock_);
  return StatusTextLocked();
}

std::string InstallStatistics::StatusTextLocked() {
  if (!run_started_)
    return kStatusCancel;
  if (!download_finished_) {
    download_end_ = Now();
    return kStatusDownloadCancel;
  }
  if (install_succeeded_)
    return kStatusSuccess;
  if (install_running_) {
    install_end_ = Now();
    return kStatusInstallCancel;
  }
  if (download_succeeded_)
    return kStatusInstallFail;
  return kStatusDownloadFail;
}

std::string InstallStatistics::FallbackText(const std::string& status) const {
  try {
    return (boost::format(
                "{\"version\":%1%,\"user_id\":\"%2%\",\"uuid\":\"%3%\",\"app_id\":\"%4%\","
                "\"install_status\":\"%5%\"}") %
            kReportVersion % user_id_ % run_id_ % app_id_ % status)
        .str();
  } catch (const std::exception&) {
    return std::string();
  }
}

bool InstallStatistics::SendStartReport() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    start_report_time_ = Now();
  }
  CJsonObject json;
  json.AddMember("version", kReportVersion);
  json.AddMember("user_id", user_id_);
  json.AddMember("system_language", system_language_);
  json.AddMember("language", language_);
  json.AddMember("uuid", run_id_);
  json.AddMember("app_id", app_id_);
  json.AddMember("option", option_);
  json.AddMember("source", source_);
  json.AddMember("app_type", std::string(WinBits(app_is_64bit_)));
  json.AddMember("system_type", std::string(WinBits(system_is_64bit_)));
  json.AddMember("localtime", LocalTimeText());
  json.AddMember("app_version", app_version_);
  json.AddMember("install_status", std::string(kStatusStart));
  std::string text = json.ToCompactText();
  if (text.empty())
    text = FallbackText(kStatusStart);
  return PostJson(report_url_, text, app_id_, post_timeout_seconds_);
}

bool InstallStatistics::SendFinalReport(bool auto_install, bool run_app, bool change_install_path,
                                        bool add_plan, bool create_desktop) {
  CJsonObject json;
  std::string status;
  bool upload_log = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    status = StatusTextLocked();
    upload_log = !log_uploaded_ && (status == kStatusInstallFail || status == kStatusDownloadFail);
    if (download_end_ == 0)
      download_end_ = Now();
    final_time_ = Now();
    const std::int32_t download_seconds =
        static_cast<std::int32_t>(download_end_ - download_start_);
    const std::int32_t install_seconds = static_cast<std::int32_t>(install_end_ - install_start_);
    const std::int32_t run_seconds = static_cast<std::int32_t>(final_time_ - start_report_time_);

    json.AddMember("version", kReportVersion);
    json.AddMember("user_id", user_id_);
    json.AddMember("system_language", system_language_);
    json.AddMember("language", language_);
    json.AddMember("uuid", run_id_);
    json.AddMember("app_id", app_id_);
    json.AddMember("option", option_);
    json.AddMember("source", source_);
    json.AddMember("app_type", std::string(WinBits(app_is_64bit_)));
    json.AddMember("system_type", std::string(WinBits(system_is_64bit_)));
    json.AddMember("install_status", status);
    json.AddMember("localtime", LocalTimeText());
    json.AddMember("amazon_download", std::string(TrueFalse(cdn_download_)));
    json.AddMember("show_thankyou", std::string(TrueFalse(show_thankyou_)));
    json.AddMember("download_last_error", download_error_text_);
    json.AddMember("install_last_error", install_error_name_);
    json.AddMember("download_second", download_seconds);
    json.AddMember("download_time_string", DurationText(download_seconds));
    json.AddMember("install_second", install_seconds);
    json.AddMember("install_time_string", DurationText(install_seconds));
    json.AddMember("app_run_second", run_seconds);
    json.AddMember("app_run_time_string", DurationText(run_seconds));
    json.AddMember("progress_rate", progress_rate_);
    json.AddMember("speed_string", SizeText(speed_));
    json.AddMember("average_speed_string", SizeText(average_speed_));
    json.AddMember("speed", speed_);
    json.AddMember("average_speed", average_speed_);
    json.AddMember("auto_install", std::string(TrueFalse(auto_install)));
    json.AddMember("run_app", std::string(TrueFalse(run_app)));
    json.AddMember("change_install_path", std::string(TrueFalse(change_install_path)));
    json.AddMember("add_plan", std::string(TrueFalse(add_plan)));
    json.AddMember("create_desktop", std::string(TrueFalse(create_desktop)));
    json.AddMember("app_version", app_version_);
    if (status == kStatusDownloadFail) {
      json.AddMember("curl_error", curl_error_);
      json.AddMember("last_fail_link", last_fail_link_);
      json.AddMember("repair_link", repair_link_);
    }
    AddMirrorList(&json, "all_url_info", all_mirrors_);
    AddMirrorList(&json, "used_url_info", used_mirrors_);
  }
  std::string text = json.ToCompactText();
  if (text.empty())
    text = FallbackText(status);
  const bool sent = PostJson(report_url_, text, app_id_, post_timeout_seconds_);
  // Retried reports must not send the log again once it has arrived.
  if (upload_log && UploadLog(log_url_, run_id_, log_path_, app_id_, status)) {
    std::lock_guard<std::mutex> hold(lock_);
    log_uploaded_ = true;
  }
  return sent;
}

}  // namespace zel
