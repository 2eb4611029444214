// The download engine's records: the loaded configuration, the segment table
// entries and the error codes.
#ifndef ZEL_DOWNLOAD_DOWNLOAD_TYPES_H_
#define ZEL_DOWNLOAD_DOWNLOAD_TYPES_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zel {

class IDownloader;

inline constexpr int kMaxConfigUrls = 10;
inline constexpr std::size_t kUrlBufferSize = 1040;       // URL text, terminator included
inline constexpr std::size_t kPathBufferSize = 260;       // target path, terminator included
inline constexpr std::size_t kConfigUrlBufferSize = 520;  // configuration document URL
inline constexpr std::uint32_t kChunkSize = 1048576;      // one chunk digest covers this much

// One configured URL and what probing found out about it.
struct UrlCfg {
  char url[kUrlBufferSize] = {};
  bool valid = false;
  std::int32_t ping_time = 0;  // ms
  bool not_full = false;
  std::string domain;
};

// A loaded configuration document.
struct DownloadConfig {
  char path[kPathBufferSize] = {};
  std::int32_t size = 0;
  std::array<UrlCfg, kMaxConfigUrls> urls;
  std::string file_md5;                // hash item 0
  std::vector<std::string> chunk_md5;  // hash items 1..
  std::int32_t threads_per_url = 2;
};

// The engine's last error; GetErrorName() gives the names the statistics use.
enum class DownloadError : std::int32_t {
  NoError = 0,
  NoNeedDownload = 1,
  NeedUpdateDownload = 2,
  ConfigDownloadError = 3,
  ConfigLoadError = 4,
  ConfigLoadVersionError = 5,
  ConfigLoadFileSizeError = 6,
  ConfigLoadUrlSizeError = 7,
  ConfigLoadUrlError = 8,
  ConfigLoadHashSizeError = 9,
  ConfigLoadHashError = 10,
  DownloadCheckUrlError = 11,
  DownloadMallocError = 12,
  DownloadUrlCountError = 13,
  DownloadExeError = 14,
  DispatchSuccessError = 15,
  DispatchFailError = 16,
  DispatchTimeoutError = 17,
  RepairSuccessError = 18,
  RepairFailError = 19,
  RepairTimeoutError = 20,
  CheckHashError = 21,
};

// The name of |code|, or its decimal digits when the table has none.
std::string DownloadErrorName(std::int32_t code);

enum DownloadItemStatus : std::int32_t {
  E_Status_Runing = 0,
  E_Status_StopByDispatch = 1,
  E_Status_Fail = 2,
  E_Status_Succeed = 3,
  Replaced = 4,
};

// "E_Status_Runing" ... for 0 to 3, "Replaced" for 4, digits otherwise.
std::string ItemStatusName(std::int32_t status);

// The engine's state as reported by GetStatus() and notified.
enum DownloadStatus : std::int32_t {
  kDownloadIdle = 0,
  kDownloadFailed = 4,
  kDownloadFinished = 5,
};

// Notification codes: notify(code, a, b).
inline constexpr int kNotifyProgress = 3;   // a bytes of b
inline constexpr int kNotifyFailed = 4;     // a, b: downloaded, total (0, 0 before any transfer)
inline constexpr int kNotifyFinished = 5;   // a, b: downloaded, total; 0, 1: already complete
inline constexpr int kNotifyItemEnded = 7;  // a: item id, b: the item's address

// One transfer of the inclusive byte range [start, end] of the file. Fields
// that transfer threads change while others read them are atomic; the table
// itself is only touched under the engine lock.
struct DownloadItem {
  std::int32_t id = 0;
  std::uint32_t start = 0;
  std::atomic<std::uint32_t> pos{0};
  std::atomic<std::uint32_t> end{0};
  const char* url = nullptr;            // text owned by the engine's URL lists
  std::atomic<void*> handle{nullptr};   // the transfer while it exists
  std::atomic<std::int32_t> result{0};  // libcurl result
  IDownloader* owner = nullptr;
  std::int32_t thread = 0;  // serial number of its transfer thread
  std::atomic<std::uint32_t> tick_last{0};
  std::atomic<std::uint32_t> tick_start{0};
  std::atomic<std::uint32_t> tick_end{0};
  std::atomic<std::uint32_t> speed{0};  // bytes/s of the last block
  std::atomic<std::int32_t> status{E_Status_Runing};

  DownloadItem() = default;
  DownloadItem(const DownloadItem& other) { *this = other; }
  DownloadItem& operator=(const DownloadItem& other);
};

// Node-based: items keep their addresses while the table grows.
using SegmentTable = std::map<std::int32_t, DownloadItem>;

// Snapshot for display.
struct DownloadInfo {
  std::int32_t segment_count = 0;
  std::uint32_t total = 0;
  std::uint32_t downloaded = 0;
  SegmentTable table;
};

}  // namespace zel

#endif  // ZEL_DOWNLOAD_DOWNLOAD_TYPES_H_
