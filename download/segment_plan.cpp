#include "download/segment_plan.h"

#include <cstring>

#include "download/md5.h"

namespace zel {

int EffectiveThreadsPerUrl(int threads_per_url) {
  return threads_per_url >= 1 && threads_per_url <= 10 ? threads_per_url : 2;
}

std::vector<Segment> PlanSegments(std::uint32_t total, int url_count, int threads_per_url) {
  std::vector<Segment> segments;
  if (total == 0 || url_count <= 0)
    return segments;
  std::uint32_t n = static_cast<std::uint32_t>(url_count) *
                    static_cast<std::uint32_t>(EffectiveThreadsPerUrl(threads_per_url));
  if (n > total)
    n = total;
  std::uint32_t length = total / n;
  for (std::uint32_t i = 0; i < n; ++i) {
    Segment segment;
    segment.start = i * length;
    segment.end = i + 1 == n ? total - 1 : i * length + length - 1;
    segment.url_index = static_cast<int>(i % static_cast<std::uint32_t>(url_count));
    segments.push_back(segment);
  }
  return segments;
}

std::optional<SplitPlan> PlanSplit(std::uint32_t pos, std::uint32_t end, std::uint32_t min_split) {
  std::uint32_t remaining = Remaining(pos, end);
  if (remaining == 0 || remaining < min_split)
    return std::nullopt;
  std::uint32_t half = remaining / 2;
  return SplitPlan{pos + half, end, end - half};
}

std::optional<std::uint32_t> BlockSpeed(std::uint32_t bytes, std::uint32_t dt_ms) {
  if (dt_ms == 0)
    return std::nullopt;
  std::uint64_t speed = static_cast<std::uint64_t>(bytes) * 1000u / dt_ms;
  return static_cast<std::uint32_t>(speed > 0xFFFFFFFFu ? 0xFFFFFFFFu : speed);
}

std::vector<BadRange> FindBadRanges(const std::uint8_t* data, std::uint32_t total,
                                    const std::string& file_md5,
                                    const std::vector<std::string>& chunk_md5) {
  return FindBadRanges(data, total, total == 0 ? "" : Md5Hex(data, total), file_md5, chunk_md5);
}

std::vector<BadRange> FindBadRanges(const std::uint8_t* data, std::uint32_t total,
                                    const std::string& data_md5, const std::string& file_md5,
                                    const std::vector<std::string>& chunk_md5) {
  std::vector<BadRange> bad;
  if (total == 0 || data_md5 == file_md5)
    return bad;
  bool walked_to_end = false;
  for (std::size_t i = 0; i < chunk_md5.size(); ++i) {
    std::uint64_t offset = static_cast<std::uint64_t>(i) * kChunkSize;
    if (offset >= total)
      break;
    bool last = offset + kChunkSize >= total;
    std::uint32_t first = static_cast<std::uint32_t>(offset);
    std::uint32_t final_byte = last ? total - 1 : first + kChunkSize - 1;
    if (Md5Hex(data + first, final_byte - first + 1) != chunk_md5[i]) {
      bad.push_back(BadRange{static_cast<std::uint32_t>(i), first, final_byte});
    }
    if (last) {
      walked_to_end = true;
      break;
    }
  }
  // No chunk says where the damage is (or the chunk list does not reach the
  // end of the file): the file digest decides, so fetch it all again.
  if (bad.empty() || !walked_to_end) {
    bad.assign(1, BadRange{kWholeFile, 0, total - 1});
  }
  return bad;
}

const char* PickBestUrl(const SegmentTable& table, const char* excluded) {
  const char* best = nullptr;
  std::uint32_t best_speed = 0;
  for (const auto& [id, item] : table) {
    std::int32_t status = item.status.load();
    if (status != E_Status_Runing && status != E_Status_Succeed &&
        status != E_Status_StopByDispatch) {
      continue;
    }
    if (item.url == nullptr)
      continue;
    if (excluded != nullptr && std::strcmp(item.url, excluded) == 0)
      continue;
    std::uint32_t speed = item.speed.load();
    if (speed > best_speed) {
      best_speed = speed;
      best = item.url;
    }
  }
  return best;
}

}  // namespace zel
