// RAII for libcurl easy handles, and the one-time global set-up.
#ifndef ZEL_DOWNLOAD_CURL_HANDLE_H_
#define ZEL_DOWNLOAD_CURL_HANDLE_H_

#include <curl/curl.h>

#include <memory>

namespace zel {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

// curl_global_init once per process, before the first handle.
void EnsureCurlGlobalInit();
CurlEasy NewCurlEasy();

}  // namespace zel

#endif  // ZEL_DOWNLOAD_CURL_HANDLE_H_
