// Which configured URLs a run uses. For now every configured URL counts as
// usable, in document order; mirror probing and ranking replace this unit.
#include <cstring>

#include "download/downloader_curl.h"
#include "shell/log.h"

namespace zel {
namespace {

constexpr std::size_t kMaxUsedUrls = 5;

}  // namespace

HResult DownloaderCurl::CheckDownload(DownloadConfig& config) {
  std::vector<UrlCfg> all;
  std::vector<UrlCfg> used;
  UrlCfg cdn;
  using_cdn_ = false;
  for (int i = 0; i < kMaxConfigUrls; ++i) {
    UrlCfg& entry = config.urls[static_cast<std::size_t>(i)];
    if (!entry.valid)
      continue;
    bool is_cdn = IsCdnUrl(entry.url, cdn_markers_);
    if (is_cdn) {
      entry.domain = cdn_markers_.first;
      if (!cdn.valid)
        cdn = entry;
    } else {
      entry.domain = UrlHost(entry.url);
    }
    entry.not_full = true;
    all.push_back(entry);
    if (used.size() < kMaxUsedUrls)
      used.push_back(entry);
    WriteLog("Download_CheckDownload: ID(%d), FileSizeConsistent(%s) NetworkNotFull(%s).\n", i,
             "true", "true");
  }
  // The CDN alone gets more transfers.
  if (used.size() == 1 && cdn.valid && std::strcmp(used[0].url, cdn.url) == 0) {
    config.threads_per_url = 5;
  }
  std::lock_guard<std::mutex> hold(lock_);
  all_urls_ = std::move(all);
  used_urls_ = std::move(used);
  cdn_ = cdn;
  config_.threads_per_url = config.threads_per_url;
  return used_urls_.empty() ? kFail : kOk;
}

}  // namespace zel
