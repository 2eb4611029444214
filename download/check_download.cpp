// Which configured URLs a run uses: mirrors are pinged, size-checked and
// asked for capacity, ranked by round trip; the CDN is the reserve.
//
// The probes of different URLs run side by side (a silent mirror costs two
// 2 s echoes), but everything they report is collected per entry and
// applied afterwards in document order, so the log, the lists and the
// ranking are those of probing one URL after the other.
#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "download/downloader_curl.h"
#include "download/http_probe.h"
#include "download/icmp_pinger.h"
#include "shell/log.h"

namespace zel {
namespace {

constexpr std::size_t kMaxUsedUrls = 5;
constexpr std::int32_t kCdnOnlyThreadsPerUrl = 5;

const char* TrueFalse(bool value) {
  return value ? "true" : "false";
}

// What probing one configured entry found; written by one thread only.
struct EntryProbe {
  bool as_reserve = false;  // probed as the CDN reserve: size only
  bool ping_ok = false;
  std::int32_t ping_time = 0;
  std::string why_not;  // why the echo failed, for the log
  bool size_ok = false;
  bool not_full = false;
  ProbeLog lines;  // size and capacity lines, in the order they were made
};

struct ProbeInputs {
  const DownloadConfig* config;
  std::function<bool(const std::string&, std::int32_t*)> ping;
  std::string proxy;
  CdnMarkers markers;
};

bool SizeMatches(const ProbeInputs& in, const char* url, ProbeLog* lines) {
  return GetDownloadFileLength(url, in.proxy, lines) == static_cast<std::uint32_t>(in.config->size);
}

void ProbeMirror(const ProbeInputs& in, int i, EntryProbe* out) {
  const UrlCfg& entry = in.config->urls[static_cast<std::size_t>(i)];
  out->ping_time = entry.ping_time;  // kept as it was when the echo fails
  out->ping_ok = in.ping && in.ping(entry.url, &out->ping_time);
  if (!out->ping_ok) {
    std::string host = UrlHost(entry.url);
    if (host.empty()) {
      out->why_not = "no host in the url";
    } else {
      host.resize(std::min(host.rfind(':'), host.size()));
      out->why_not = ResolveHost(host).empty() ? "host " + host + " does not resolve"
                                               : "no echo reply from " + host;
    }
    return;
  }
  out->size_ok = SizeMatches(in, entry.url, &out->lines);
  if (out->size_ok && !IsCdnUrl(entry.url, in.markers))
    out->not_full = GetNetworkNotFull(entry.url, in.markers, &out->lines);
}

// CDN URLs in document order: which one is the reserve depends only on the
// CDN URLs before it, so they are probed one after the other.
class CdnChain {
 public:
  CdnChain(const ProbeInputs& in, std::vector<EntryProbe>* results) : in_(in), results_(results) {}

  void Step(int i) {
    EntryProbe& out = (*results_)[static_cast<std::size_t>(i)];
    if (found_) {
      ProbeMirror(in_, i, &out);  // a further CDN URL is probed like a mirror
      return;
    }
    out.as_reserve = true;
    out.size_ok = SizeMatches(in_, in_.config->urls[static_cast<std::size_t>(i)].url, &out.lines);
    found_ = out.size_ok;
  }

 private:
  const ProbeInputs& in_;
  std::vector<EntryProbe>* results_;
  bool found_ = false;
};

// Runs |job| on a thread of its own; inline when no thread can be had.
void Launch(std::vector<std::thread>* threads, std::function<void()> job) {
  try {
    threads->emplace_back(job);
  } catch (const std::exception&) {
    WriteLog("Download_CheckDownload: no thread for a probe, probing in line.\n");
    job();
  }
}

void WriteLines(const ProbeLog& lines) {
  for (const std::string& line : lines)
    WriteLog("%s", line.c_str());
}

}  // namespace

HResult DownloaderCurl::CheckDownload(DownloadConfig& config) {
  using_cdn_ = false;
  ProbeInputs in{&config, probe_.ping, "", cdn_markers_};
  {
    std::lock_guard<std::mutex> hold(lock_);
    in.proxy = proxy_;
    all_urls_.clear();
    used_urls_.clear();
  }

  std::vector<EntryProbe> results(kMaxConfigUrls);
  CdnChain chain(in, &results);
  std::vector<int> cdn_order;
  std::vector<std::thread> threads;
  for (int i = 0; i < kMaxConfigUrls; ++i) {
    const UrlCfg& entry = config.urls[static_cast<std::size_t>(i)];
    if (!entry.valid)
      continue;
    const bool is_cdn = IsCdnUrl(entry.url, cdn_markers_);
    EntryProbe* out = &results[static_cast<std::size_t>(i)];
    if (!probe_.concurrent) {
      if (is_cdn)
        chain.Step(i);
      else
        ProbeMirror(in, i, out);
    } else if (is_cdn) {
      cdn_order.push_back(i);
    } else {
      Launch(&threads, [&in, i, out] { ProbeMirror(in, i, out); });
    }
  }
  if (!cdn_order.empty()) {
    Launch(&threads, [&chain, &cdn_order] {
      for (int i : cdn_order)
        chain.Step(i);
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  // Apply and log in document order.
  std::vector<UrlCfg> all;
  std::vector<UrlCfg> candidates;
  UrlCfg cdn;
  for (int i = 0; i < kMaxConfigUrls; ++i) {
    UrlCfg& entry = config.urls[static_cast<std::size_t>(i)];
    if (!entry.valid)
      continue;
    const EntryProbe& r = results[static_cast<std::size_t>(i)];
    if (r.as_reserve) {
      WriteLines(r.lines);
      entry.valid = r.size_ok;
      entry.domain = cdn_markers_.first;
      all.push_back(entry);
      if (entry.valid && !cdn.valid)
        cdn = entry;
      continue;
    }
    entry.ping_time = r.ping_time;
    WriteLog("Download_CheckPing: ID(%d), Invalid(%s), time(%d).\n", i, TrueFalse(r.ping_ok),
             entry.ping_time);
    std::string host = UrlHost(entry.url);
    if (!host.empty())
      entry.domain = host;
    all.push_back(entry);
    if (!r.ping_ok) {
      WriteLog("Download_CheckPing: ID(%d), unusable: %s.\n", i, r.why_not.c_str());
      entry.valid = false;
      continue;
    }
    WriteLines(r.lines);
    entry.valid = r.size_ok;
    if (entry.valid && !IsCdnUrl(entry.url, cdn_markers_)) {
      entry.not_full = r.not_full;
      candidates.push_back(entry);
    }
    WriteLog("Download_CheckDownload: ID(%d), FileSizeConsistent(%s) NetworkNotFull(%s).\n", i,
             TrueFalse(entry.valid), TrueFalse(entry.not_full));
  }

  // Equal times keep document order.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const UrlCfg& a, const UrlCfg& b) { return a.ping_time < b.ping_time; });
  std::vector<UrlCfg> used;
  for (const UrlCfg& candidate : candidates) {
    if (candidate.not_full)
      used.push_back(candidate);
  }

  if (used.empty()) {
    WriteLog("Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 0.\n");
    WriteLog("Download_CheckDownload: Using Ama now.\n");
    if (cdn.valid) {
      used.push_back(cdn);
      config.threads_per_url = kCdnOnlyThreadsPerUrl;
    } else {
      WriteLog("Download_CheckDownload: ERROR : con't find Ama now.\n");
    }
  } else if (used.size() <= 2) {
    WriteLog("Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 2.\n");
    if (cdn.valid) {
      used.push_back(cdn);
      WriteLog("Download_CheckDownload: Add Ama now.\n");
    } else {
      WriteLog("Download_CheckDownload: Add Ama fail.\n");
    }
  }
  if (used.size() > kMaxUsedUrls)
    used.resize(kMaxUsedUrls);

  std::lock_guard<std::mutex> hold(lock_);
  all_urls_ = std::move(all);
  used_urls_ = std::move(used);
  if (cdn.valid)
    cdn_ = cdn;
  config_.threads_per_url = config.threads_per_url;
  return used_urls_.empty() ? kFail : kOk;
}

}  // namespace zel
