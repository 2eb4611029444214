// The arithmetic of the transfer, free of threads and sockets: how the file
// is cut into ranges, when a transfer counts as stalled, how a large range is
// split and which chunks fail their digests.
#ifndef ZEL_DOWNLOAD_SEGMENT_PLAN_H_
#define ZEL_DOWNLOAD_SEGMENT_PLAN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/download_types.h"

namespace zel {

// The engine's timing and supervision constants. Tests shorten the times;
// the defaults are the product's values.
struct EngineTiming {
  std::uint32_t dispatch_interval_ms = 2000;
  std::uint32_t stall_ms = 6000;          // since an item's last block
  double stall_share = 0.9;               // past this share stalls are left alone
  std::uint32_t min_split = 512000;       // smallest remaining range that is split
  std::uint32_t successor_pause_ms = 20;  // between a successor and retiring its predecessor
  long low_speed_time_s = 5;              // libcurl: abort below 1 byte/s for this long
  int max_chunk_repairs = 3;              // repair rounds for one chunk before giving up
};

struct Segment {
  std::uint32_t start = 0;
  std::uint32_t end = 0;  // inclusive
  int url_index = 0;
};

// threads_per_url outside 1..10 counts as 2.
int EffectiveThreadsPerUrl(int threads_per_url);

// U x P ranges of total / N bytes, the last one absorbing the remainder;
// range i goes to URL i mod U. A file smaller than U x P gets one range per
// byte instead of empty ranges. Empty when total or url_count is 0.
std::vector<Segment> PlanSegments(std::uint32_t total, int url_count, int threads_per_url);

// Bytes still owed by a range whose next byte is |pos|; 0 once it is done.
inline std::uint32_t Remaining(std::uint32_t pos, std::uint32_t end) {
  return pos > end ? 0 : end - pos;
}

inline bool IsStalled(std::uint32_t now, std::uint32_t tick_last, std::uint32_t stall_ms) {
  return static_cast<std::uint32_t>(now - tick_last) >= stall_ms;
}

// True once downloaded / total is above |share| (stalls are then ignored).
inline bool PastShare(std::uint32_t downloaded, std::uint32_t total, double share) {
  return total != 0 && static_cast<double>(downloaded) / static_cast<double>(total) > share;
}

// Work stealing: the successor takes [pos + half, end], the item keeps
// [pos, end - half]; nothing when fewer than |min_split| bytes remain.
struct SplitPlan {
  std::uint32_t successor_start = 0;
  std::uint32_t successor_end = 0;
  std::uint32_t kept_end = 0;
};
std::optional<SplitPlan> PlanSplit(std::uint32_t pos, std::uint32_t end, std::uint32_t min_split);

// Speed of a block of |bytes| that arrived |dt_ms| after the previous one;
// nothing for dt 0 (the speed is left as it was).
std::optional<std::uint32_t> BlockSpeed(std::uint32_t bytes, std::uint32_t dt_ms);

// A byte range of the file whose digest did not match. index is the chunk
// number, or kWholeFile when the whole file is fetched again.
struct BadRange {
  std::uint32_t index = 0;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};
inline constexpr std::uint32_t kWholeFile = 0xFFFFFFFFu;

// Checks |data| (|total| bytes) against the digests. Empty when the file
// digest matches. Otherwise the chunks whose digest differs; when there are
// no chunk digests, or every chunk matches although the file digest does
// not, the whole file as one range.
std::vector<BadRange> FindBadRanges(const std::uint8_t* data, std::uint32_t total,
                                    const std::string& file_md5,
                                    const std::vector<std::string>& chunk_md5);
// The same with the digest of all |total| bytes already worked out.
std::vector<BadRange> FindBadRanges(const std::uint8_t* data, std::uint32_t total,
                                    const std::string& data_md5, const std::string& file_md5,
                                    const std::vector<std::string>& chunk_md5);

// The fastest other URL: among items running, succeeded or stopped by the
// dispatcher whose URL differs from |excluded|, the one with the strictly
// highest speed (first in id order on ties, never speed 0). Null when none.
const char* PickBestUrl(const SegmentTable& table, const char* excluded);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_SEGMENT_PLAN_H_
