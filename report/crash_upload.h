// The crash report: the crash JSON, the upload of the crash image and the
// install log, and the reporter program that sends them after the crashed
// process has written its image.
#ifndef ZEL_REPORT_CRASH_UPLOAD_H_
#define ZEL_REPORT_CRASH_UPLOAD_H_

#include <string>

namespace zel {

inline constexpr char kStatusCrash[] = "crash";
// Crash id sent when none was made.
inline constexpr char kNoCrashId[] = "0000";
// The reporter runs after the crash, unseen: bound what it may take.
inline constexpr long kCrashUploadTimeoutSeconds = 30;
// Largest image or log the reporter sends.
inline constexpr std::size_t kMaxCrashFileBytes = 64u * 1024 * 1024;

// {"version":1015,"user_id":..,"language":..,"uuid":..,"app_id":..,"install_status":"crash"}
std::string BuildCrashJson(const std::string& user_id, const std::string& language,
                           const std::string& crash_id, const std::string& app_id);
// Today's local date, "%d%02d%02d" (eight digits).
std::string CrashDateText();

struct CrashUploadExtras {
  std::string language = "English";
  // False when this crash wrote no image: an image file found at the path
  // then belongs to an earlier crash and is not sent.
  bool image_written = true;
  long timeout_seconds = kCrashUploadTimeoutSeconds;
};

// Posts "json_data", "app_id", "app_version", then "crash_dump" (the image,
// as crash id + ".dmp") and "crash_log" (the log, as crash id + ".log") when
// those files exist. False when the URL, application id or dump path is
// empty, or the transfer does not complete; the answer is not examined.
bool UploadCrash(const std::string& crash_url, const std::string& app_id,
                 const std::string& dump_path, const std::string& log_path,
                 const std::string& crash_id, const CrashUploadExtras& extras = {});

// The reporter program's main: "--url U --app-id A --dump D --log L
// [--crash-id C] [--language N] [--timeout S] [--image-written 0|1]".
// Makes a crash id when none is given. 0 when the report was sent, 1 when
// not, 2 for a bad command line.
int RunCrashReporter(int argc, const char* const* argv);

}  // namespace zel

#endif  // ZEL_REPORT_CRASH_UPLOAD_H_
