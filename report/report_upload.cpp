#include "report/report_upload.h"

#include <vector>

#include "report/http_form.h"
#include "shell/log.h"
#include "support/json_object.h"

namespace zel {
namespace {

// Longest answer PostJson reads; the expected one is a few dozen bytes.
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;

bool IsSuccessAnswer(const std::string& body) {
  CJsonObject answer;
  if (!answer.LoadText(body))
    return false;
  CJsonObject result;
  if (!answer.GetMember("result", &result))
    return false;
  bool res = false;
  // GetBool fails for anything but a literal; 1 or "true" do not count.
  return result.GetBool("res", &res) && res;
}

}  // namespace

bool PostJson(const std::string& url, const std::string& json, const std::string& app_id,
              long timeout_seconds) {
  PostLimits limits;
  limits.timeout_seconds = timeout_seconds;
  limits.connect_timeout_seconds = kReportConnectTimeoutSeconds;
  limits.max_response_bytes = kMaxAnswerBytes;
  PostResult result =
      PostForm(url, {TextPart("json_data", json), TextPart("app_id", app_id)}, limits);
  if (!result.ok()) {
    WriteLog("PostJson failed: %s (curl error %d).", result.error.c_str(), result.curl_code);
    return false;
  }
  if (!IsSuccessAnswer(result.body)) {
    WriteLog("PostJson refused: HTTP %ld, answer \"%s\".", result.http_status,
             PrintableExcerpt(result.body, 200).c_str());
    return false;
  }
  return true;
}

bool UploadLog(const std::string& url, const std::string& upload_name, const std::string& file_path,
               const std::string& app_id, const std::string& log_type, long timeout_seconds) {
  if (upload_name.empty() || file_path.empty())
    return false;
  // One read both checks the file and takes what is sent, so a log that
  // vanishes or grows meanwhile cannot make the form inconsistent.
  std::string content;
  if (!ReadWholeFile(file_path, kMaxUploadLogBytes, &content)) {
    WriteLog("UploadLog skipped: cannot read %s.", file_path.c_str());
    return false;
  }
  PostLimits limits;
  limits.timeout_seconds = timeout_seconds;
  limits.connect_timeout_seconds = kReportConnectTimeoutSeconds;
  limits.keep_response = false;
  PostResult result = PostForm(url,
                               {TextPart("app_id", app_id), TextPart("log_type", log_type),
                                FilePart("install_log", std::move(content), upload_name)},
                               limits);
  if (!result.ok()) {
    WriteLog("UploadLog failed: %s (curl error %d).", result.error.c_str(), result.curl_code);
    return false;
  }
  return true;
}

}  // namespace zel
