// One multipart form POST through libcurl's MIME interface: the transport
// under the statistics, log and crash uploads.
#ifndef ZEL_REPORT_HTTP_FORM_H_
#define ZEL_REPORT_HTTP_FORM_H_

#include <cstddef>
#include <string>
#include <vector>

namespace zel {

struct FormPart {
  std::string name;
  std::string data;       // the text, or the file's content
  std::string file_name;  // sent as the part's file name when is_file
  bool is_file = false;
};

inline FormPart TextPart(std::string name, std::string data) {
  return FormPart{std::move(name), std::move(data), std::string(), false};
}
inline FormPart FilePart(std::string name, std::string content, std::string file_name) {
  return FormPart{std::move(name), std::move(content), std::move(file_name), true};
}

struct PostLimits {
  long timeout_seconds = 0;                    // whole transfer; 0: none
  long connect_timeout_seconds = 10;           // 0: libcurl's default
  std::size_t max_response_bytes = 64 * 1024;  // a longer answer fails the transfer
  bool keep_response = true;                   // false: the answer is read and dropped, any length
};

struct PostResult {
  int curl_code = -1;  // CURLcode; 0 when the transfer completed
  long http_status = 0;
  std::string body;
  std::string error;  // libcurl's text for a failed transfer
  bool ok() const { return curl_code == 0; }
};

// Posts |parts| in order to |url|. Never throws; every failure shows in the
// result.
PostResult PostForm(const std::string& url, const std::vector<FormPart>& parts,
                    const PostLimits& limits);

// The whole file at |path| (narrow); false when it cannot be opened or read,
// or is larger than |max_bytes|.
bool ReadWholeFile(const std::string& path, std::size_t max_bytes, std::string* out);

// |text| cut to |max| bytes with control bytes shown as '.', for log lines
// that quote what a server sent.
std::string PrintableExcerpt(const std::string& text, std::size_t max);

}  // namespace zel

#endif  // ZEL_REPORT_HTTP_FORM_H_
