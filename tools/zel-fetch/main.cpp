// zel-fetch: drives the download engine without a window.
//
//   zel-fetch CONFIG.xml TARGET [--proxy HOST:PORT] [--cdn-marker TEXT] [--log PATH]
//             [--probe concurrent|sequential]
//
// Starts the engine from the configuration document, prints a progress line
// at most once a second and, at the end, the engine's verdict, the time to
// the first received byte and the mirrors it probed and ranked. Exits 0 when
// the file was downloaded and verified (status 5), 1 otherwise, 2 on usage
// errors.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "download/downloader_curl.h"
#include "shell/log.h"
#include "system/file_util.h"

namespace {

struct Outcome {
  std::mutex lock;
  std::condition_variable done;
  bool ended = false;
  std::atomic<long long> first_byte_ms{-1};
  std::atomic<long long> last_byte_ms{-1};
};

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

// The URLs in use in ranking order, then every URL probed in document order.
void PrintUrls(zel::DownloaderCurl& engine) {
  std::vector<zel::UrlCfg> used = engine.GetUsedUrlInfo();
  for (std::size_t k = 0; k < used.size(); ++k) {
    std::printf("ranked %zu: %s rtt=%dms size_ok=%s capacity=%s\n", k, used[k].url,
                used[k].ping_time, YesNo(used[k].valid), YesNo(used[k].not_full));
  }
  for (const zel::UrlCfg& entry : engine.GetAllUrlInfo()) {
    bool in_use = false;
    for (const zel::UrlCfg& u : used)
      in_use = in_use || std::strcmp(u.url, entry.url) == 0;
    std::printf("probed: %s rtt=%dms host=%s used=%s\n", entry.url, entry.ping_time,
                entry.domain.c_str(), YesNo(in_use));
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: zel-fetch CONFIG.xml TARGET [--proxy HOST:PORT] [--cdn-marker TEXT] "
               "[--log PATH] [--probe concurrent|sequential]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3)
    return Usage();
  std::string config_path = argv[1];
  std::string target = argv[2];
  std::string proxy;
  zel::CdnMarkers markers = zel::DefaultCdnMarkers();
  zel::MirrorProbe probe;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--proxy") == 0 && i + 1 < argc) {
      proxy = argv[++i];
    } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      zel::ILog::Instance().Init(zel::ToWide(argv[++i]));
    } else if (std::strcmp(argv[i], "--cdn-marker") == 0 && i + 1 < argc) {
      markers = zel::CdnMarkers{argv[++i], ""};
    } else if (std::strcmp(argv[i], "--probe") == 0 && i + 1 < argc) {
      std::string mode = argv[++i];
      if (mode != "concurrent" && mode != "sequential")
        return Usage();
      probe.concurrent = mode == "concurrent";
    } else {
      return Usage();
    }
  }

  Outcome outcome;
  zel::DownloaderCurl engine;
  engine.SetCdnMarkers(markers);
  engine.SetMirrorProbe(probe);
  engine.SetProxy(proxy);
  const auto started = std::chrono::steady_clock::now();
  auto elapsed_ms = [started] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started)
        .count();
  };
  engine.SetNotify([&outcome, elapsed_ms](int code, unsigned a, long b) {
    if (code == zel::kNotifyProgress && outcome.first_byte_ms.load() < 0)
      outcome.first_byte_ms = elapsed_ms();
    // The first time every byte is counted: what follows is verification.
    if (code == zel::kNotifyProgress && b > 0 && a == static_cast<unsigned long>(b) &&
        outcome.last_byte_ms.load() < 0) {
      outcome.last_byte_ms = elapsed_ms();
    }
    if (code == zel::kNotifyFailed || code == zel::kNotifyFinished) {
      std::lock_guard<std::mutex> hold(outcome.lock);
      outcome.ended = true;
      outcome.done.notify_all();
    }
    return 1;
  });
  engine.BeginDownloadFromFile(zel::ToWide(config_path), target);

  std::uint32_t last_shown = ~0u;
  for (;;) {
    std::unique_lock<std::mutex> wait(outcome.lock);
    if (outcome.done.wait_for(wait, std::chrono::seconds(1), [&] { return outcome.ended; }))
      break;
    wait.unlock();
    zel::DownloadInfo info;
    engine.GetInfo(info);
    if (info.downloaded != last_shown && info.total != 0) {
      last_shown = info.downloaded;
      std::printf("progress: %u of %u bytes (%.1f%%), %zu items\n", info.downloaded, info.total,
                  100.0 * info.downloaded / info.total, info.table.size());
      std::fflush(stdout);
    }
  }

  zel::DownloadInfo info;
  engine.GetInfo(info);
  int status = engine.GetStatus();
  std::printf("status: %d\n", status);
  std::printf("error: %s (%d)\n", engine.GetErrorName().c_str(), engine.GetErrorCode());
  std::printf("curl_error: %d\n", engine.GetCurlError());
  std::printf("last_fail_link: %s\n", engine.GetLastFailLink().c_str());
  std::printf("repair_link: %s\n", engine.GetRepairLink().c_str());
  std::printf("items: %zu\n", info.table.size());
  std::printf("first_byte_ms: %lld\n", outcome.first_byte_ms.load());
  std::printf("last_byte_ms: %lld\n", outcome.last_byte_ms.load());
  std::printf("end_ms: %lld\n", static_cast<long long>(elapsed_ms()));
  PrintUrls(engine);
  std::fflush(stdout);
  engine.Stop();
  return status == zel::kDownloadFinished ? 0 : 1;
}
