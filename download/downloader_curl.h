// DownloaderCurl: IDownloader over libcurl's easy interface, one thread per
// byte range plus a dispatcher that supervises them.
//
// Locking: |lock_| is the engine lock. It is held for every received block
// (file write, buffer copy, counters, progress notification), for every
// end-of-transfer check, and for every scan or change of the segment table,
// the URL lists, the file and the buffer. Flags and counters read without it
// are atomic. Transfer threads hold pointers to table entries, which a
// std::map keeps stable.
#ifndef ZEL_DOWNLOAD_DOWNLOADER_CURL_H_
#define ZEL_DOWNLOAD_DOWNLOADER_CURL_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/buffer_warmer.h"
#include "download/downloader.h"
#include "download/mirror_probe.h"
#include "download/prefix_hasher.h"
#include "download/segment_plan.h"
#include "download/url_util.h"
#include "platform/memory.h"
#include "system/file_util.h"

namespace zel {

class DownloaderCurl : public IDownloader {
 public:
  DownloaderCurl();
  DownloaderCurl(const DownloaderCurl&) = delete;
  DownloaderCurl& operator=(const DownloaderCurl&) = delete;
  // Stops, then waits for every engine thread.
  ~DownloaderCurl() override;

  HResult BeginDownloadFromText(const char* text, int length, std::string target) override;
  HResult BeginDownloadFromUrl(std::string url, std::string target) override;
  HResult BeginDownloadFromFile(std::wstring document_path, std::string target) override;
  HResult BeginDownload(DownloadConfig& config) override;
  HResult Stop() override;
  bool IsRunning() override { return running_.load(); }
  HResult SetNotify(DownloadNotify notify) override;
  HResult GetInfo(DownloadInfo& info) override;
  std::int32_t GetStatus() override { return status_.load(); }
  void SetProxy(std::string proxy) override;
  bool IsUsingCdn() override { return using_cdn_.load(); }
  std::int32_t GetErrorCode() override { return error_.load(); }
  std::string GetErrorName() override { return DownloadErrorName(error_.load()); }
  std::string GetLastFailLink() override;
  std::string GetRepairLink() override;
  std::int32_t GetCurlError() override { return curl_error_.load(); }
  std::vector<UrlCfg> GetAllUrlInfo() override;
  std::vector<UrlCfg> GetUsedUrlInfo() override;
  HResult OnConfigFileDownloaded(DownloadItem* item) override;
  HResult LoadConfigFromText(const char* text, int length) override;
  HResult LoadConfig(std::shared_ptr<IXMLParse> document, std::string target) override;
  HResult CheckDownload(DownloadConfig& config) override;
  HResult InitDownload() override;
  HResult BeginDownloadItem(DownloadItem* item) override;

  // Not part of IDownloader: tests and tools tune these before a start.
  void SetTiming(const EngineTiming& timing) { timing_ = timing; }
  const EngineTiming& timing() const { return timing_; }
  void SetCdnMarkers(CdnMarkers markers) { cdn_markers_ = std::move(markers); }
  void SetMirrorProbe(MirrorProbe probe) { probe_ = std::move(probe); }

 private:
  struct TransferState;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  enum class Verdict { kPass, kRepairing, kFailed };
  enum class Visit { kNext, kLeaveLoop };

  // libcurl callbacks of the range transfers.
  static size_t OnBlock(char* data, size_t size, size_t count, void* user);
  static size_t OnHeader(char* data, size_t size, size_t count, void* user);
  static int OnProgress(void* user, double, double, double, double);

  // One run per engine: false (and a log line) for a second start.
  bool ClaimRun();
  // Refuses a target that does not fit the fixed path field.
  bool AcceptTarget(const std::string& target, const char* operation);
  HResult LoadFromFile(const std::wstring& document_path, const std::string& target);
  void ConfigDownloadThread();
  bool FetchConfigOnce();

  HResult InitDownloadLocked();
  HResult BeginDownloadItemLocked(DownloadItem* item);
  void StartWorkerLocked(DownloadItem* item);
  void TransferThread(DownloadItem* item);
  std::size_t ReceiveBlock(TransferState* state, const char* data, std::size_t offered);
  std::size_t WriteDataLocked(const char* data, std::size_t n, std::uint32_t offset);
  void CloseFileLocked();

  void Dispatch();
  Visit VisitItem(std::int32_t id);
  void CheckFinish(DownloadItem* item);
  // Verifies (and finishes or repairs) once no transfer is left.
  void TryFinishLocked();
  bool HasHandleLocked() const;
  Verdict CheckHashLocked(bool repair);
  HResult RepairDataLocked(std::uint32_t first, std::uint32_t last);
  const char* GetBestURLLocked(const char* excluded);
  DownloadItem* StoreSuccessorLocked(const DownloadItem& from, const char* url, std::uint32_t start,
                                     std::uint32_t end);

  // Ends the run exactly once (unless it was stopped): status, running flag,
  // notification.
  void FinishRunLocked();
  void FailRunLocked(DownloadError error, unsigned a, long b);
  void FailRun(DownloadError error);
  void NotifyLocked(int code, unsigned a, long b);
  void WakeDispatcher();
  void ReapWorkersLocked(std::vector<std::thread>* finished);

  std::mutex lock_;  // the engine lock ("Download_File")
  std::mutex wake_lock_;
  std::condition_variable wake_;

  EngineTiming timing_;
  CdnMarkers cdn_markers_;
  MirrorProbe probe_;
  DownloadNotify notify_;
  std::string proxy_;

  SegmentTable table_;
  DownloadConfig config_;
  std::vector<UrlCfg> used_urls_;  // m_vecUrlCfg: items point into it; fixed once items exist
  std::vector<UrlCfg> all_urls_;
  UrlCfg cdn_;  // the CDN entry; valid says whether there is one

  JFile file_;
  // The in-memory copy of the file; zero pages until written.
  platform::LargeBlock buffer_;
  // Every block reaches buffer_ through it; gone before buffer_ is.
  std::unique_ptr<PrefixHasher> hasher_;
  // Faults buffer_ in ahead of the transfers; gone before buffer_ is.
  std::unique_ptr<BufferWarmer> warmer_;
  std::atomic<std::uint32_t> total_{0};
  std::atomic<std::uint32_t> downloaded_{0};
  std::atomic<std::int32_t> segment_count_{0};

  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> run_claimed_{false};
  bool ended_ = false;  // the run's final notification went out
  std::atomic<std::int32_t> status_{kDownloadIdle};
  std::atomic<std::int32_t> error_{0};
  std::atomic<std::int32_t> curl_error_{0};
  std::atomic<bool> repaired_{false};
  std::atomic<bool> using_cdn_{false};
  std::string last_fail_link_;
  std::string repair_link_;
  std::map<std::uint32_t, int> repair_rounds_;  // chunk index (or kWholeFile) -> repairs

  std::string target_;
  std::string cfg_path_;
  std::string config_text_;
  bool has_config_text_ = false;
  int config_text_length_ = 0;
  char cfg_url_[kConfigUrlBufferSize] = {};
  DownloadItem cfg_item_;
  JFile cfg_file_;

  std::thread config_thread_;
  std::thread dispatcher_;
  std::vector<Worker> workers_;
  std::int32_t thread_serial_ = 0;
  // Transfer threads started whose end-of-transfer check has not run yet.
  std::int32_t unchecked_transfers_ = 0;
};

}  // namespace zel

#endif  // ZEL_DOWNLOAD_DOWNLOADER_CURL_H_
