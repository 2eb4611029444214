#include "report/crash_upload.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "report/http_form.h"
#include "report/install_statistics.h"
#include "report/machine_identity.h"
#include "support/json_object.h"

namespace zel {

std::string BuildCrashJson(const std::string& user_id, const std::string& language,
                           const std::string& crash_id, const std::string& app_id) {
  CJsonObject json;
  json.AddMember("version", kReportVersion);
  json.AddMember("user_id", user_id);
  json.AddMember("language", language);
  json.AddMember("uuid", crash_id);
  json.AddMember("app_id", app_id);
  json.AddMember("install_status", std::string(kStatusCrash));
  return json.ToCompactText();
}

std::string CrashDateText() {
  time_t now = ::time(nullptr);
  struct tm local;
  if (::localtime_r(&now, &local) == nullptr)
    return std::string();
  char text[32];
  std::snprintf(text, sizeof(text), "%d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

bool UploadCrash(const std::string& crash_url, const std::string& app_id,
                 const std::string& dump_path, const std::string& log_path,
                 const std::string& crash_id, const CrashUploadExtras& extras) {
  if (app_id.empty() || crash_url.empty() || dump_path.empty())
    return false;
  const std::string id = crash_id.empty() ? std::string(kNoCrashId) : crash_id;
  std::vector<std::string> addresses = ListAdapterAddresses();
  const std::string user_id = addresses.empty() ? std::string() : addresses.front();

  std::vector<FormPart> parts;
  parts.push_back(TextPart("json_data", BuildCrashJson(user_id, extras.language, id, app_id)));
  parts.push_back(TextPart("app_id", app_id));
  parts.push_back(TextPart("app_version", CrashDateText()));
  std::string content;
  if (extras.image_written && ReadWholeFile(dump_path, kMaxCrashFileBytes, &content)) {
    parts.push_back(FilePart("crash_dump", std::move(content), id + ".dmp"));
  }
  if (!log_path.empty() && ReadWholeFile(log_path, kMaxCrashFileBytes, &content)) {
    parts.push_back(FilePart("crash_log", std::move(content), id + ".log"));
  }
  PostLimits limits;
  limits.timeout_seconds = extras.timeout_seconds;
  limits.connect_timeout_seconds = 5;
  limits.keep_response = false;
  PostResult result = PostForm(crash_url, parts, limits);
  if (!result.ok()) {
    std::fprintf(stderr, "crash report not sent: %s (curl error %d)\n", result.error.c_str(),
                 result.curl_code);
  }
  return result.ok();
}

int RunCrashReporter(int argc, const char* const* argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i < argc; i += 2) {
    std::string key = argv[i];
    if (key.rfind("--", 0) != 0 || i + 1 >= argc) {
      std::fprintf(stderr, "crash reporter: bad argument %s\n", argv[i]);
      return 2;
    }
    args[key.substr(2)] = argv[i + 1];
  }
  for (const char* required : {"url", "app-id", "dump"}) {
    if (args[required].empty()) {
      std::fprintf(stderr, "crash reporter: --%s is required\n", required);
      return 2;
    }
  }
  CrashUploadExtras extras;
  if (args.count("language"))
    extras.language = args["language"];
  extras.image_written = args["image-written"] != "0";
  if (args.count("timeout")) {
    char* end = nullptr;
    long seconds = std::strtol(args["timeout"].c_str(), &end, 10);
    if (end == args["timeout"].c_str() || *end != '\0' || seconds <= 0) {
      std::fprintf(stderr, "crash reporter: bad --timeout %s\n", args["timeout"].c_str());
      return 2;
    }
    extras.timeout_seconds = seconds;
  }
  std::string crash_id = args["crash-id"];
  if (crash_id.empty())
    crash_id = NewRunGuid();
  return UploadCrash(args["url"], args["app-id"], args["dump"], args["log"], crash_id, extras) ? 0
                                                                                               : 1;
}

}  // namespace zel
