#include "report/http_form.h"

#include <curl/curl.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

namespace zel {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MimeDeleter {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};

struct Sink {
  std::string* body;
  std::size_t limit;
  bool keep;
  bool overflow = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const std::size_t n = size * count;
  if (!sink->keep)
    return n;
  if (sink->body->size() + n > sink->limit) {
    sink->overflow = true;
    return 0;  // stops the transfer
  }
  sink->body->append(data, n);
  return n;
}

}  // namespace

PostResult PostForm(const std::string& url, const std::vector<FormPart>& parts,
                    const PostLimits& limits) {
  PostResult result;
  GlobalInit();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    result.curl_code = CURLE_FAILED_INIT;
    result.error = "cannot create a transfer handle";
    return result;
  }
  CURL* h = curl.get();
  std::unique_ptr<curl_mime, MimeDeleter> mime(curl_mime_init(h));
  if (!mime) {
    result.curl_code = CURLE_OUT_OF_MEMORY;
    result.error = "cannot create a form";
    return result;
  }
  for (const FormPart& part : parts) {
    curl_mimepart* field = curl_mime_addpart(mime.get());
    if (field == nullptr || curl_mime_name(field, part.name.c_str()) != CURLE_OK ||
        curl_mime_data(field, part.data.data(), part.data.size()) != CURLE_OK ||
        (part.is_file && (curl_mime_filename(field, part.file_name.c_str()) != CURLE_OK ||
                          curl_mime_type(field, "application/octet-stream") != CURLE_OK))) {
      result.curl_code = CURLE_OUT_OF_MEMORY;
      result.error = "cannot build form part " + part.name;
      return result;
    }
  }

  char error[CURL_ERROR_SIZE] = {0};
  Sink sink{&result.body, limits.max_response_bytes, limits.keep_response};
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  // Reports go to the vendor's own host; no redirects elsewhere, plain HTTP.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_TIMEOUT, limits.timeout_seconds);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, limits.connect_timeout_seconds);
  // libcurl asks for "100 continue" before larger bodies; the vendor's server
  // never needed it and some proxies stall on it.
  struct curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

  CURLcode code = curl_easy_perform(h);
  curl_slist_free_all(headers);
  result.curl_code = static_cast<int>(code);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.http_status);
  if (code != CURLE_OK) {
    result.error = sink.overflow ? "answer longer than " + std::to_string(sink.limit) + " bytes"
                                 : (error[0] != '\0' ? error : curl_easy_strerror(code));
  }
  return result;
}

bool ReadWholeFile(const std::string& path, std::size_t max_bytes, std::string* out) {
  out->clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return false;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  char chunk[64 * 1024];
  while (in) {
    in.read(chunk, sizeof(chunk));
    std::streamsize n = in.gcount();
    if (n <= 0)
      break;
    if (out->size() + static_cast<std::size_t>(n) > max_bytes) {
      out->clear();
      return false;
    }
    out->append(chunk, static_cast<std::size_t>(n));
  }
  return !in.bad();
}

std::string PrintableExcerpt(const std::string& text, std::size_t max) {
  std::string out = text.substr(0, max);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f)
      c = '.';
  }
  if (text.size() > max)
    out += "...";
  return out;
}

}  // namespace zel
