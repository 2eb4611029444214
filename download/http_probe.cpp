#include "download/http_probe.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "download/curl_handle.h"
#include "shell/log.h"

namespace zel {
namespace {

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

size_t AppendBounded(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  size_t n = size * count;
  // Everything is accepted; only the start of the body decides anything.
  if (body->size() < kFetchTextLimit)
    body->append(data, std::min(n, kFetchTextLimit - body->size()));
  return n;
}

__attribute__((format(printf, 2, 3))) void Note(ProbeLog* lines, const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (lines != nullptr)
    lines->emplace_back(buffer);
  else
    WriteLog("%s", buffer);
}

}  // namespace

void EnsureCurlGlobalInit() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)done;
}

CurlEasy NewCurlEasy() {
  EnsureCurlGlobalInit();
  return CurlEasy(curl_easy_init());
}

std::uint32_t GetDownloadFileLength(const char* url, const std::string& proxy, ProbeLog* lines) {
  double length = -1;
  CURLcode result = CURLE_FAILED_INIT;
  CurlEasy curl = NewCurlEasy();
  if (curl && url != nullptr) {
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url);
    curl_easy_setopt(h, CURLOPT_HEADER, 1L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Lavf/55.13.102");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    // A probe that never answers would hold up the whole start.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, kSizeProbeTimeoutS);
    if (!proxy.empty()) {
      curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
      curl_easy_setopt(h, CURLOPT_PROXYTYPE, 0L);
    }
    result = curl_easy_perform(h);
    curl_off_t reported = -1;
    if (result == CURLE_OK &&
        curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &reported) == CURLE_OK) {
      length = static_cast<double>(reported);
    }
  }
  Note(lines, "Download_GetDownloadFileLenth : result(%d), url_err(%d).\n",
       static_cast<int>(length), static_cast<int>(result));
  if (length < 0 || length > 4294967295.0)
    return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(length);
}

std::string FetchText(const std::string& url) {
  std::string body;
  CurlEasy curl = NewCurlEasy();
  if (!curl)
    return "error";
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, kFetchTextTimeoutS);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendBounded);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
  if (curl_easy_perform(h) != CURLE_OK)
    return "error";
  return body;
}

bool GetNetworkNotFull(const std::string& url, const CdnMarkers& markers, ProbeLog* lines) {
  if (IsCdnUrl(url, markers))
    return true;
  const std::string host = UrlHost(url);
  if (host.empty())
    return false;
  const std::string body = FetchText("http://" + host + "/flag.php");
  Note(lines, "Download : GetNetworkNotFull IP(%s), Result(%s).\n", host.c_str(), body.c_str());
  return body.size() >= 2 && body[0] == '1';
}

}  // namespace zel
