// zel-fetch: drives the download engine without a window.
//
//   zel-fetch CONFIG.xml TARGET [--proxy HOST:PORT] [--cdn-marker TEXT] [--log PATH]
//
// Starts the engine from the configuration document, prints a progress line
// at most once a second and, at the end, the engine's verdict. Exits 0 when
// the file was downloaded and verified (status 5), 1 otherwise, 2 on usage
// errors.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "download/downloader_curl.h"
#include "shell/log.h"
#include "system/file_util.h"

namespace {

struct Outcome {
  std::mutex lock;
  std::condition_variable done;
  bool ended = false;
};

int Usage() {
  std::fprintf(stderr,
               "usage: zel-fetch CONFIG.xml TARGET [--proxy HOST:PORT] [--cdn-marker TEXT] "
               "[--log PATH]\n");
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
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--proxy") == 0 && i + 1 < argc) {
      proxy = argv[++i];
    } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      zel::ILog::Instance().Init(zel::ToWide(argv[++i]));
    } else if (std::strcmp(argv[i], "--cdn-marker") == 0 && i + 1 < argc) {
      markers = zel::CdnMarkers{argv[++i], ""};
    } else {
      return Usage();
    }
  }

  Outcome outcome;
  zel::DownloaderCurl engine;
  engine.SetCdnMarkers(markers);
  engine.SetProxy(proxy);
  engine.SetNotify([&outcome](int code, unsigned, long) {
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
  std::fflush(stdout);
  engine.Stop();
  return status == zel::kDownloadFinished ? 0 : 1;
}
