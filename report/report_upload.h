// The two requests of the statistics record: the JSON report and the install
// log upload to the vendor's API server.
#ifndef ZEL_REPORT_REPORT_UPLOAD_H_
#define ZEL_REPORT_REPORT_UPLOAD_H_

#include <string>

namespace zel {

// Whole-transfer limits. The callers retry ten times, and the final report
// runs while the closed window waits, so one attempt must stay short.
inline constexpr long kPostJsonTimeoutSeconds = 10;
inline constexpr long kUploadLogTimeoutSeconds = 30;
inline constexpr long kReportConnectTimeoutSeconds = 5;
// Longest log the upload sends.
inline constexpr std::size_t kMaxUploadLogBytes = 32u * 1024 * 1024;

// Multipart POST of "json_data" and "app_id". True only when the answer is a
// JSON object whose "result" member is an object whose "res" member is the
// literal true.
bool PostJson(const std::string& url, const std::string& json, const std::string& app_id,
              long timeout_seconds = kPostJsonTimeoutSeconds);

// Multipart POST of "app_id", "log_type" and the file part "install_log",
// sent under |upload_name|. False when the name or path is empty, the file
// is missing or unreadable, or the transfer does not complete; the answer is
// not read.
bool UploadLog(const std::string& url, const std::string& upload_name, const std::string& file_path,
               const std::string& app_id, const std::string& log_type,
               long timeout_seconds = kUploadLogTimeoutSeconds);

}  // namespace zel

#endif  // ZEL_REPORT_REPORT_UPLOAD_H_
