// Starting a run (configuration from text, file or URL) and the segmented
// transfer itself. Supervision and verification are in dispatch.cpp, the
// choice of URLs in check_download.cpp.
#include "download/downloader_curl.h"

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "download/curl_handle.h"
#include "download/download_config.h"
#include "download/http_probe.h"
#include "download/md5.h"
#include "platform/clock.h"
#include "shell/log.h"

namespace zel {

// Per-transfer state only its own thread touches.
struct DownloaderCurl::TransferState {
  DownloaderCurl* engine = nullptr;
  DownloadItem* item = nullptr;
  bool checked = false;           // the response status was looked at
  std::uint64_t body_offset = 0;  // file offset of the next body byte
  std::int64_t range_first = -1;  // from Content-Range of the current response
  long http_status = 0;
  bool timed_out = false;  // aborted by the stop check for receiving nothing
};

namespace {

constexpr int kConfigFetchAttempts = 3;

const char* const kErrorNames[] = {
    "NoError",
    "NoNeedDownload",
    "NeedUpdateDownload",
    "ConfigDownloadError",
    "ConfigLoadError",
    "ConfigLoadVersionError",
    "ConfigLoadFileSizeError",
    "ConfigLoadUrlSizeError",
    "ConfigLoadUrlError",
    "ConfigLoadHashSizeError",
    "ConfigLoadHashError",
    "DownloadCheckUrlError",
    "DownloadMallocError",
    "DownloadUrlCountError",
    "DownloadExeError",
    "DispatchSuccessError",
    "DispatchFailError",
    "DispatchTimeoutError",
    "RepairSuccessError",
    "RepairFailError",
    "RepairTimeoutError",
    "CheckHashError",
};

int OnConfigProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

size_t OnConfigBlock(char* data, size_t size, size_t count, void* user) {
  JFile* file = static_cast<JFile*>(user);
  if (file == nullptr || !file->IsOpen())
    return 0;
  long written = file->Write(data, size * count);
  return written < 0 ? 0 : static_cast<size_t>(written) / (size == 0 ? 1 : size);
}

}  // namespace

std::string DownloadErrorName(std::int32_t code) {
  if (code >= 0 && code < static_cast<std::int32_t>(std::size(kErrorNames))) {
    return kErrorNames[code];
  }
  return std::to_string(code);
}

std::string ItemStatusName(std::int32_t status) {
  switch (status) {
    case E_Status_Runing:
      return "E_Status_Runing";
    case E_Status_StopByDispatch:
      return "E_Status_StopByDispatch";
    case E_Status_Fail:
      return "E_Status_Fail";
    case E_Status_Succeed:
      return "E_Status_Succeed";
    case Replaced:
      return "Replaced";
  }
  return std::to_string(status);
}

DownloadItem& DownloadItem::operator=(const DownloadItem& other) {
  if (this == &other)
    return *this;
  id = other.id;
  start = other.start;
  pos = other.pos.load();
  end = other.end.load();
  url = other.url;
  handle = other.handle.load();
  result = other.result.load();
  owner = other.owner;
  thread = other.thread;
  tick_last = other.tick_last.load();
  tick_start = other.tick_start.load();
  tick_end = other.tick_end.load();
  speed = other.speed.load();
  status = other.status.load();
  return *this;
}

bool CreateDownloader(std::unique_ptr<IDownloader>* out) {
  if (out == nullptr)
    return false;
  out->reset(new (std::nothrow) DownloaderCurl());
  return *out != nullptr;
}

DownloaderCurl::DownloaderCurl() : cdn_markers_(DefaultCdnMarkers()) {
  EnsureCurlGlobalInit();
}

DownloaderCurl::~DownloaderCurl() {
  Stop();
  if (config_thread_.joinable())
    config_thread_.join();
  if (dispatcher_.joinable())
    dispatcher_.join();
  // Transfers abort at their next stop check once Stop has run.
  for (;;) {
    std::vector<Worker> workers;
    {
      std::lock_guard<std::mutex> hold(lock_);
      workers.swap(workers_);
    }
    if (workers.empty())
      break;
    for (Worker& worker : workers)
      worker.thread.join();
  }
}

// --- Starting a run -----------------------------------------------------------

bool DownloaderCurl::ClaimRun() {
  if (run_claimed_.exchange(true)) {
    WriteLog("Download : this engine has already been started; one run per engine.\n");
    return false;
  }
  return true;
}

bool DownloaderCurl::AcceptTarget(const std::string& target, const char* operation) {
  if (TargetPathFits(target))
    return true;
  WriteLog("%s : target path of %d bytes is longer than %d, refused.\n", operation,
           static_cast<int>(target.size()), static_cast<int>(kMaxTargetPath));
  error_ = static_cast<std::int32_t>(DownloadError::ConfigLoadError);
  FailRun(DownloadError::ConfigLoadError);
  return false;
}

HResult DownloaderCurl::BeginDownloadFromText(const char* text, int length, std::string target) {
  if (!ClaimRun())
    return kFail;
  if (!AcceptTarget(target, "Download_BeginDownloadFromText"))
    return kInvalidArg;
  target_ = target;
  // A copy: the caller's text need not outlive this call.
  has_config_text_ = text != nullptr;
  config_text_ = text != nullptr ? std::string(text) : std::string();
  config_text_length_ = length;
  running_ = true;
  config_thread_ = std::thread([this] {
    HResult hr =
        LoadConfigFromText(has_config_text_ ? config_text_.c_str() : nullptr, config_text_length_);
    if (hr == kOk) {
      WriteLog("Download_Thread_Download_Cfg : succeed.\n");
    } else {
      WriteLog("Download_Thread_Download_Cfg : failed.\n");
      WriteLog("Download_Thread_Download_Cfg : error.\n");
    }
  });
  return kOk;
}

HResult DownloaderCurl::LoadConfigFromText(const char* text, int length) {
  HResult hr = kFail;
  if (text != nullptr) {
    std::shared_ptr<IXMLParse> document;
    if (CreateXMLParse(&document) != kOk || !document) {
      error_ = static_cast<std::int32_t>(DownloadError::ConfigLoadError);
      hr = kInvalidArg;
    } else if (!document->ReadFromString(text, length)) {
      WriteLog("Download_LoadConfigFromText : not a readable document (%s).\n",
               document->LastError().c_str());
      error_ = static_cast<std::int32_t>(DownloadError::ConfigLoadError);
      hr = kInvalidArg;
    } else {
      hr = LoadConfig(document, target_);
    }
  }
  if (hr < 0)
    FailRun(static_cast<DownloadError>(error_.load()));
  return hr;
}

HResult DownloaderCurl::BeginDownloadFromFile(std::wstring document_path, std::string target) {
  if (!ClaimRun())
    return kFail;
  if (!AcceptTarget(target, "Download_BeginDownloadFromFile"))
    return kInvalidArg;
  target_ = target;
  HResult hr = LoadFromFile(document_path, target);
  if (hr < 0)
    FailRun(static_cast<DownloadError>(error_.load()));
  return hr;
}

HResult DownloaderCurl::LoadFromFile(const std::wstring& document_path, const std::string& target) {
  std::shared_ptr<IXMLParse> document;
  if (CreateXMLParse(&document) != kOk || !document || !document->ReadFromFile(document_path)) {
    WriteLog("Download_BeginDownloadFromFile : cannot read %s (%s).\n",
             ToNarrow(document_path).c_str(), document ? document->LastError().c_str() : "");
    error_ = static_cast<std::int32_t>(DownloadError::ConfigLoadError);
    return kInvalidArg;
  }
  return LoadConfig(document, target);
}

HResult DownloaderCurl::LoadConfig(std::shared_ptr<IXMLParse> document, std::string target) {
  DownloadConfig config;
  DownloadError error = DownloadError::NoError;
  HResult hr = LoadDownloadConfig(document.get(), target, &config, &error);
  if (hr < 0) {
    error_ = static_cast<std::int32_t>(error);
    return hr;
  }
  // Already complete: nothing to fetch, and no connection is opened.
  std::string digest;
  if (Md5HexOfFile(ToWide(target), &digest) && digest == config.file_md5) {
    WriteLog("Download_LoadConfig : %s is complete already.\n", target.c_str());
    std::lock_guard<std::mutex> hold(lock_);
    if (!stopped_ && !ended_) {
      ended_ = true;
      error_ = static_cast<std::int32_t>(DownloadError::NoNeedDownload);
      status_ = kDownloadFinished;
      running_ = false;
      NotifyLocked(kNotifyFinished, 0, 1);
    }
    return kOk;
  }
  return BeginDownload(config);
}

HResult DownloaderCurl::BeginDownloadFromUrl(std::string url, std::string target) {
  if (!ClaimRun())
    return kFail;
  if (!AcceptTarget(target + ".cfg", "Download_BeginDownloadFromUrl"))
    return kInvalidArg;
  if (url.size() >= sizeof(cfg_url_)) {
    WriteLog("Download_BeginDownloadFromUrl : url of %d bytes is too long, refused.\n",
             static_cast<int>(url.size()));
    FailRun(DownloadError::ConfigDownloadError);
    return kInvalidArg;
  }
  target_ = target;
  std::memcpy(cfg_url_, url.c_str(), url.size() + 1);
  std::uint32_t now = platform::TickCountMs();
  cfg_item_.url = cfg_url_;
  cfg_item_.start = 0;
  cfg_item_.pos = 0;
  cfg_item_.speed = 0;
  cfg_item_.tick_last = now;
  cfg_item_.tick_start = now;
  cfg_item_.owner = this;
  {
    std::lock_guard<std::mutex> hold(lock_);
    cfg_item_.id = static_cast<std::int32_t>(table_.size());
  }
  cfg_path_ = target + ".cfg";
  if (!cfg_file_.Open(ToWide(cfg_path_), JFile::kWrite | JFile::kBinary)) {
    WriteLog("Download_BeginDownloadFromUrl : cannot open %s for writing.\n", cfg_path_.c_str());
    FailRun(DownloadError::ConfigDownloadError);
    return kInvalidArg;
  }
  running_ = true;
  config_thread_ = std::thread(&DownloaderCurl::ConfigDownloadThread, this);
  WriteLog("Download_BeginDownload : Download link id(%d) thread(%d).\n", cfg_item_.id, 1);
  return kOk;
}

bool DownloaderCurl::FetchConfigOnce() {
  CurlEasy curl = NewCurlEasy();
  if (!curl)
    return false;
  CURL* h = curl.get();
  std::string proxy;
  {
    std::lock_guard<std::mutex> hold(lock_);
    proxy = proxy_;
  }
  curl_easy_setopt(h, CURLOPT_URL, cfg_url_);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnConfigBlock);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &cfg_file_);
  // The progress check lets Stop end a slow fetch at once.
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnConfigProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &stopped_);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timing_.low_speed_time_s);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 20000L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Lavf/55.13.102");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  if (!proxy.empty()) {
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYTYPE, 0L);
  }
  cfg_item_.handle = h;
  cfg_item_.status = E_Status_Runing;
  CURLcode result = curl_easy_perform(h);
  cfg_item_.result = result;
  cfg_item_.tick_end = platform::TickCountMs();
  std::int32_t running = E_Status_Runing;
  cfg_item_.status.compare_exchange_strong(running,
                                           result == CURLE_OK ? E_Status_Succeed : E_Status_Fail);
  cfg_item_.handle = nullptr;
  return result == CURLE_OK;
}

void DownloaderCurl::ConfigDownloadThread() {
  std::string proxy;
  {
    std::lock_guard<std::mutex> hold(lock_);
    proxy = proxy_;
  }
  cfg_item_.end = GetDownloadFileLength(cfg_url_, proxy);
  bool fetched = false;
  for (int attempt = 1; attempt <= kConfigFetchAttempts && !stopped_; ++attempt) {
    // A repeat starts from an empty file.
    if (attempt > 1 && !cfg_file_.Open(ToWide(cfg_path_), JFile::kWrite | JFile::kBinary))
      break;
    fetched = FetchConfigOnce();
    if (fetched)
      break;
    WriteLog("Download_Thread_Download_Cfg : attempt %d failed, curl(%d).\n", attempt,
             cfg_item_.result.load());
  }
  if (!fetched) {
    // A failed fetch is not parsed: whatever arrived is not the document.
    cfg_file_.Close();
    WriteLog("Download_Thread_Download_Cfg : failed.\n");
    error_ = static_cast<std::int32_t>(DownloadError::ConfigDownloadError);
    FailRun(DownloadError::ConfigDownloadError);
    WriteLog("Download_Thread_Download_Cfg : error.\n");
    return;
  }
  OnConfigFileDownloaded(&cfg_item_);
  WriteLog("Download_Thread_Download_Cfg : succeed.\n");
}

HResult DownloaderCurl::OnConfigFileDownloaded(DownloadItem* item) {
  if (item == nullptr || !cfg_file_.IsOpen())
    return kPointer;
  cfg_file_.Close();
  HResult hr = kFail;
  JFile probe;
  if (probe.Open(ToWide(cfg_path_), JFile::kRead | JFile::kBinary)) {
    probe.Close();
    hr = LoadFromFile(ToWide(cfg_path_), target_);
  }
  if (hr < 0)
    FailRun(static_cast<DownloadError>(error_.load()));
  return hr;
}

// --- The transfer ---------------------------------------------------------------

namespace {

constexpr long kReceiveBufferBytes = 256L * 1024;

}  // namespace

HResult DownloaderCurl::BeginDownload(DownloadConfig& config) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    config_ = config;
  }
  total_ = static_cast<std::uint32_t>(config.size);
  if (CheckDownload(config_) != kOk) {
    WriteLog("Error : BeginDownload (CheckDownload(siItem) != S_OK).\n");
    error_ = static_cast<std::int32_t>(DownloadError::DownloadCheckUrlError);
    return kFail;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (stopped_)
    return kAbort;
  CloseFileLocked();
  total_ = 0;
  downloaded_ = 0;
  std::uint32_t total = static_cast<std::uint32_t>(config_.size);
  buffer_ = platform::LargeBlock::Allocate(total);
  if (!buffer_) {
    WriteLog("Download_BeginDownload : no memory for %u bytes.\n", total);
    error_ = static_cast<std::int32_t>(DownloadError::DownloadMallocError);
    return kPointer;
  }
  total_ = total;
  if (!file_.Open(ToWide(target_), JFile::kWrite | JFile::kBinary)) {
    // Without a file every transfer would end after its first block and be
    // replaced forever.
    WriteLog("Download_BeginDownload : cannot open %s for writing, errno(%d).\n", target_.c_str(),
             file_.LastError());
    error_ = static_cast<std::int32_t>(DownloadError::DownloadExeError);
    buffer_.reset();
    return kFail;
  }
  hasher_ = std::make_unique<PrefixHasher>(buffer_.get(), total);
  WriteLog("Download_BeginDownload : OpenFile(%d), FileSize(%d), Mutex(%d), File(%s).\n", 1,
           static_cast<int>(total), 1, target_.c_str());
  return InitDownloadLocked();
}

HResult DownloaderCurl::InitDownload() {
  std::lock_guard<std::mutex> hold(lock_);
  return InitDownloadLocked();
}

HResult DownloaderCurl::InitDownloadLocked() {
  if (used_urls_.empty()) {
    error_ = static_cast<std::int32_t>(DownloadError::DownloadUrlCountError);
    return kInvalidArg;
  }
  if (stopped_)
    return kAbort;
  downloaded_ = 0;
  std::vector<Segment> plan =
      PlanSegments(total_, static_cast<int>(used_urls_.size()), config_.threads_per_url);
  segment_count_ = static_cast<std::int32_t>(plan.size());
  if (buffer_)
    warmer_ = std::make_unique<BufferWarmer>(buffer_, plan);
  table_.clear();
  running_ = true;
  std::uint32_t now = platform::TickCountMs();
  for (std::size_t i = 0; i < plan.size(); ++i) {
    DownloadItem& item = table_[static_cast<std::int32_t>(i)];
    item.id = static_cast<std::int32_t>(i);
    item.start = plan[i].start;
    item.pos = plan[i].start;
    item.end = plan[i].end;
    item.url = used_urls_[static_cast<std::size_t>(plan[i].url_index)].url;
    item.speed = 0;
    item.tick_last = now;
    item.tick_start = now;
    BeginDownloadItemLocked(&item);
  }
  dispatcher_ = std::thread(&DownloaderCurl::Dispatch, this);
  WriteLog("Download_InitDownload : start download dispatch, thread(%d).\n", 0);
  return kOk;
}

HResult DownloaderCurl::BeginDownloadItem(DownloadItem* item) {
  std::lock_guard<std::mutex> hold(lock_);
  return BeginDownloadItemLocked(item);
}

HResult DownloaderCurl::BeginDownloadItemLocked(DownloadItem* item) {
  if (item == nullptr)
    return kPointer;
  CURL* h = NewCurlEasy().release();  // owned by the item's thread from here on
  if (h == nullptr) {
    WriteLog("Download_BeginDownloadItem : id(%d) no transfer handle.\n", item->id);
    return kFail;
  }
  item->handle = h;
  item->result = 0;
  item->owner = this;
  curl_easy_setopt(h, CURLOPT_URL, item->url);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBlock);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_PROGRESSFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timing_.low_speed_time_s);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 20000L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Downloader");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  if (item->end.load() <= static_cast<std::uint32_t>(config_.size)) {
    char range[64];
    std::snprintf(range, sizeof(range), "%d-%d", static_cast<int>(item->start),
                  static_cast<int>(item->end.load()));
    curl_easy_setopt(h, CURLOPT_RANGE, range);  // libcurl keeps its own copy
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  }
  if (!proxy_.empty()) {
    curl_easy_setopt(h, CURLOPT_PROXY, proxy_.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYTYPE, 0L);
  }
  // Bigger blocks than libcurl's 16 KiB: every block costs the engine lock,
  // a seek, a write and a notification.
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  StartWorkerLocked(item);
  WriteLog("Download_BeginDownloadItem : id(%d) thread(%d).\n", item->id, item->thread);
  return kOk;
}

void DownloaderCurl::StartWorkerLocked(DownloadItem* item) {
  std::vector<std::thread> finished;
  ReapWorkersLocked(&finished);
  Worker worker;
  worker.done = std::make_shared<std::atomic<bool>>(false);
  item->thread = ++thread_serial_;
  ++unchecked_transfers_;
  worker.thread = std::thread([this, item, done = worker.done] {
    TransferThread(item);
    *done = true;
  });
  workers_.push_back(std::move(worker));
  // Threads that have returned join at once.
  for (std::thread& thread : finished)
    thread.join();
}

void DownloaderCurl::ReapWorkersLocked(std::vector<std::thread>* finished) {
  auto done = std::partition(workers_.begin(), workers_.end(),
                             [](const Worker& worker) { return !worker.done->load(); });
  for (auto it = done; it != workers_.end(); ++it)
    finished->push_back(std::move(it->thread));
  workers_.erase(done, workers_.end());
}

void DownloaderCurl::TransferThread(DownloadItem* item) {
  if (item == nullptr) {
    WriteLog("Download_Internal Error : pItem == NULL.\n");
    return;
  }
  CURL* h = static_cast<CURL*>(item->handle.load());
  if (h == nullptr) {
    WriteLog("Download_Internal Error : pItem curl == NULL.\n");
    std::lock_guard<std::mutex> hold(lock_);
    --unchecked_transfers_;
    return;
  }
  TransferState state;
  state.engine = this;
  state.item = item;
  state.body_offset = item->start;
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(h, CURLOPT_PROGRESSDATA, &state);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &state);
  CURLcode code = curl_easy_perform(h);
  if (code == CURLE_ABORTED_BY_CALLBACK && state.timed_out)
    code = CURLE_OPERATION_TIMEDOUT;
  std::int32_t result = code;
  // A body that ended before the range did is a failure to continue from,
  // not a success (an error page without a body, a short answer).
  if (code == CURLE_OK && item->pos.load() <= item->end.load()) {
    WriteLog("Download_Internal : ID(%d) answer ended early at %u, HTTP(%ld).\n", item->id,
             item->pos.load(), state.http_status);
    result = CURLE_PARTIAL_FILE;
  }
  item->result = result;
  item->tick_end = platform::TickCountMs();
  std::int32_t running = E_Status_Runing;
  item->status.compare_exchange_strong(running, result == 0 ? E_Status_Succeed : E_Status_Fail);
  curl_easy_cleanup(h);
  item->handle = nullptr;
  CheckFinish(item);
  if (result != 0 && item->status.load() != E_Status_StopByDispatch) {
    WriteLog("Download_Internal ERROR ID(%d), Result(%d).\n", item->id, result);
  } else {
    WriteLog("Download_Internal Finish (%d).\n", item->id);
  }
}

namespace {

bool StartsWithNoCase(const char* data, std::size_t n, const char* prefix) {
  std::size_t length = std::strlen(prefix);
  return n >= length && strncasecmp(data, prefix, length) == 0;
}

}  // namespace

size_t DownloaderCurl::OnBlock(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<TransferState*>(user);
  return state->engine->ReceiveBlock(state, data, size * count);
}

size_t DownloaderCurl::OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<TransferState*>(user);
  std::size_t n = size * count;
  if (StartsWithNoCase(data, n, "HTTP/")) {
    state->range_first = -1;  // a new response (after a redirect, say)
  } else if (StartsWithNoCase(data, n, "Content-Range:")) {
    std::string line(data, n);
    unsigned long long first = 0, last = 0;
    if (std::sscanf(line.c_str() + 14, " bytes %llu-%llu", &first, &last) == 2) {
      state->range_first = static_cast<std::int64_t>(first);
    }
  }
  return n;
}

int DownloaderCurl::OnProgress(void* user, double, double, double, double) {
  auto* state = static_cast<TransferState*>(user);
  std::int32_t status = state->item->status.load();
  bool stop = status == E_Status_StopByDispatch || status == E_Status_Fail ||
              !state->engine->running_.load();
  // libcurl's own low-speed check averages over a window and fires several
  // seconds late; nothing at all for the low-speed time is the same verdict.
  std::uint32_t quiet = platform::TickCountMs() - state->item->tick_last.load();
  if (!stop &&
      quiet >= static_cast<std::uint32_t>(state->engine->timing_.low_speed_time_s) * 1000u) {
    state->timed_out = true;
    stop = true;
  }
  return stop ? 1 : 0;
}

std::size_t DownloaderCurl::ReceiveBlock(TransferState* state, const char* data,
                                         std::size_t offered) {
  DownloadItem* item = state->item;
  if (!state->checked) {
    state->checked = true;
    curl_easy_getinfo(static_cast<CURL*>(item->handle.load()), CURLINFO_RESPONSE_CODE,
                      &state->http_status);
    if (state->http_status == 206) {
      if (state->range_first >= 0)
        state->body_offset = static_cast<std::uint64_t>(state->range_first);
    } else if (state->http_status == 200) {
      state->body_offset = 0;  // the server ignored the range: the body is the whole file
    } else {
      WriteLog("Download_Internal : ID(%d) HTTP status %ld, answer refused.\n", item->id,
               state->http_status);
      return 0;
    }
  }
  std::lock_guard<std::mutex> hold(lock_);
  std::uint64_t pos = item->pos.load();
  std::uint64_t end = item->end.load();
  std::uint64_t body_first = state->body_offset;
  state->body_offset += offered;
  if (body_first > pos)
    return 0;  // a gap before our bytes: nothing sound to write
  std::uint64_t skip = pos - body_first;
  if (skip >= offered)
    return offered;  // still before our range
  std::uint64_t n = offered - skip;
  if (pos + n > end + 1)
    n = pos >= end + 1 ? 0 : end + 1 - pos;
  if (n == 0)
    return 0;  // the range is done (or was shortened): end the transfer
  std::size_t written =
      WriteDataLocked(data + skip, static_cast<std::size_t>(n), static_cast<std::uint32_t>(pos));
  if (written != n)
    return 0;
  item->pos = static_cast<std::uint32_t>(pos + n);
  std::uint32_t now = platform::TickCountMs();
  if (std::optional<std::uint32_t> speed =
          BlockSpeed(static_cast<std::uint32_t>(n), now - item->tick_last.load())) {
    item->speed = *speed;
    item->tick_last = now;
  }
  return skip + n == offered ? offered : 0;  // cut at the range end: end the transfer
}

std::size_t DownloaderCurl::WriteDataLocked(const char* data, std::size_t n, std::uint32_t offset) {
  if (!running_ || !buffer_ || !hasher_ || !file_.IsOpen())
    return 0;
  if (static_cast<std::uint64_t>(offset) + n > total_)
    return 0;
  if (file_.WriteAt(offset, data, n) != static_cast<long>(n)) {
    // Another mirror would not help a full or failing disk.
    WriteLog("Download_WriteData : writing %u bytes at %u to the target failed, errno(%d).\n",
             static_cast<unsigned>(n), offset, errno);
    FailRunLocked(DownloadError::DownloadExeError, downloaded_, static_cast<long>(total_));
    return 0;
  }
  hasher_->Write(offset, reinterpret_cast<const std::uint8_t*>(data),
                 static_cast<std::uint32_t>(n));
  std::uint32_t total = total_;
  std::uint64_t downloaded = static_cast<std::uint64_t>(downloaded_) + n;
  downloaded_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(downloaded, total));
  NotifyLocked(kNotifyProgress, downloaded_, static_cast<long>(total));
  return n;
}

void DownloaderCurl::CloseFileLocked() {
  WriteLog("Download_CloseFile.\n");
  if (file_.IsOpen()) {
    // Blocks went straight to the file; this only reports a stream gone bad.
    int result = file_.Seek(0, SEEK_END);
    file_.Close();
    WriteLog("CloseFile %d.\n", result);
  }
  warmer_.reset();
  hasher_.reset();
  buffer_.reset();
}

HResult DownloaderCurl::Stop() {
  stopped_ = true;
  {
    std::lock_guard<std::mutex> hold(lock_);
    running_ = false;
    CloseFileLocked();
    for (auto& [id, item] : table_)
      item.status = E_Status_StopByDispatch;
    total_ = 0;
    downloaded_ = 0;
  }
  WakeDispatcher();
  return kOk;
}

HResult DownloaderCurl::SetNotify(DownloadNotify notify) {
  if (!notify)
    return kPointer;
  std::lock_guard<std::mutex> hold(lock_);
  notify_ = std::move(notify);
  return kOk;
}

void DownloaderCurl::NotifyLocked(int code, unsigned a, long b) {
  if (notify_)
    notify_(code, a, b);
}

HResult DownloaderCurl::GetInfo(DownloadInfo& info) {
  std::lock_guard<std::mutex> hold(lock_);
  info.segment_count = segment_count_;
  info.total = total_;
  info.downloaded = downloaded_;
  info.table = table_;
  return kOk;
}

void DownloaderCurl::SetProxy(std::string proxy) {
  std::lock_guard<std::mutex> hold(lock_);
  proxy_ = std::move(proxy);
}

std::string DownloaderCurl::GetLastFailLink() {
  std::lock_guard<std::mutex> hold(lock_);
  return last_fail_link_;
}

std::string DownloaderCurl::GetRepairLink() {
  std::lock_guard<std::mutex> hold(lock_);
  return repair_link_;
}

std::vector<UrlCfg> DownloaderCurl::GetAllUrlInfo() {
  std::lock_guard<std::mutex> hold(lock_);
  return all_urls_;
}

std::vector<UrlCfg> DownloaderCurl::GetUsedUrlInfo() {
  std::lock_guard<std::mutex> hold(lock_);
  return used_urls_;
}

// --- Ending a run -----------------------------------------------------------

void DownloaderCurl::FinishRunLocked() {
  if (ended_ || stopped_)
    return;
  // The data is verified; make sure it reached the file too.
  if (!file_.IsOpen() || file_.Seek(0, SEEK_END) != 0) {
    WriteLog("Download_CheckFinish : flushing the target failed, errno(%d).\n", errno);
    FailRunLocked(DownloadError::DownloadExeError, downloaded_, static_cast<long>(total_));
    return;
  }
  WriteLog("Download_CheckFinish : Finish download.\n");
  unsigned downloaded = downloaded_;
  long total = static_cast<long>(total_.load());
  CloseFileLocked();
  ended_ = true;
  status_ = kDownloadFinished;
  running_ = false;
  NotifyLocked(kNotifyFinished, downloaded, total);
  WakeDispatcher();
}

void DownloaderCurl::FailRunLocked(DownloadError error, unsigned a, long b) {
  if (ended_ || stopped_)
    return;
  ended_ = true;
  error_ = static_cast<std::int32_t>(error);
  status_ = kDownloadFailed;
  running_ = false;
  NotifyLocked(kNotifyFailed, a, b);
  WakeDispatcher();
}

void DownloaderCurl::FailRun(DownloadError error) {
  std::lock_guard<std::mutex> hold(lock_);
  FailRunLocked(error, 0, 0);
}

void DownloaderCurl::WakeDispatcher() {
  { std::lock_guard<std::mutex> hold(wake_lock_); }
  wake_.notify_all();
}

}  // namespace zel
