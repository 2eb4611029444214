// IDownloader: fetches one package file of known size from several HTTP
// mirrors at once, verifies it against MD5 digests and repairs bad chunks.
//
// Use: SetNotify, one BeginDownloadFrom*, then poll IsRunning/GetStatus until
// the callback has reported 4 (failed) or 5 (finished); read the results;
// Stop; destroy (destruction waits for every engine thread). An engine serves
// one run.
//
// The callback runs on engine threads, some of them holding the engine lock:
// it must be quick and must not call back into the engine, except the
// lock-free IsRunning, GetStatus, GetErrorCode, GetCurlError and IsUsingCdn.
#ifndef ZEL_DOWNLOAD_DOWNLOADER_H_
#define ZEL_DOWNLOAD_DOWNLOADER_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/download_types.h"
#include "support/hresult.h"
#include "support/xml_parse.h"

namespace zel {

// notify(code, a, b); see the kNotify* codes. The result is ignored.
using DownloadNotify = std::function<int(int code, unsigned a, long b)>;

class IDownloader {
 public:
  virtual ~IDownloader() = default;

  // Starts from a configuration document in memory (NUL-terminated; copied
  // before the call returns). Loading, probing and the transfer start run on
  // a thread of the engine; 0 once that thread runs.
  virtual HResult BeginDownloadFromText(const char* text, int length, std::string target) = 0;
  // Fetches the document from |url| into |target| + ".cfg" first.
  virtual HResult BeginDownloadFromUrl(std::string url, std::string target) = 0;
  // Loads the document file and starts, on the caller's thread.
  virtual HResult BeginDownloadFromFile(std::wstring document_path, std::string target) = 0;
  virtual HResult BeginDownload(DownloadConfig& config) = 0;
  // Stops every transfer; afterwards nothing is written to the target.
  virtual HResult Stop() = 0;
  virtual bool IsRunning() = 0;
  virtual HResult SetNotify(DownloadNotify notify) = 0;
  virtual HResult GetInfo(DownloadInfo& info) = 0;
  virtual std::int32_t GetStatus() = 0;
  // "host:port" of an HTTP proxy for every later transfer; "" for none.
  virtual void SetProxy(std::string proxy) = 0;
  virtual bool IsUsingCdn() = 0;
  virtual std::int32_t GetErrorCode() = 0;
  virtual std::string GetErrorName() = 0;
  virtual std::string GetLastFailLink() = 0;
  virtual std::string GetRepairLink() = 0;
  virtual std::int32_t GetCurlError() = 0;
  virtual std::vector<UrlCfg> GetAllUrlInfo() = 0;
  virtual std::vector<UrlCfg> GetUsedUrlInfo() = 0;
  virtual HResult OnConfigFileDownloaded(DownloadItem* item) = 0;
  virtual HResult LoadConfigFromText(const char* text, int length) = 0;
  virtual HResult LoadConfig(std::shared_ptr<IXMLParse> document, std::string target) = 0;
  virtual HResult CheckDownload(DownloadConfig& config) = 0;
  virtual HResult InitDownload() = 0;
  virtual HResult BeginDownloadItem(DownloadItem* item) = 0;
};

// Makes a DownloaderCurl; false (and |out| reset) when it could not be made.
bool CreateDownloader(std::unique_ptr<IDownloader>* out);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_DOWNLOADER_H_
