#include "download/buffer_warmer.h"

#include <algorithm>
#include <utility>

namespace zel {

BufferWarmer::BufferWarmer(const platform::LargeBlock& block, std::vector<Segment> ranges,
                           std::uint32_t step)
    : block_(block), ranges_(std::move(ranges)), step_(std::max<std::uint32_t>(step, 1)) {
  thread_ = std::thread([this] { Run(); });
}

BufferWarmer::~BufferWarmer() {
  quit_ = true;
  thread_.join();
}

void BufferWarmer::Run() {
  // Each range's next step to prepare, as an offset into the block.
  std::vector<std::uint64_t> fronts;
  for (const Segment& range : ranges_)
    fronts.push_back(range.start);
  for (bool more = true; more && !quit_;) {
    more = false;
    for (std::size_t i = 0; i < ranges_.size() && !quit_; ++i) {
      const std::uint64_t end = static_cast<std::uint64_t>(ranges_[i].end) + 1;
      if (fronts[i] >= end)
        continue;
      const std::uint64_t length = std::min<std::uint64_t>(step_, end - fronts[i]);
      // A system without the call prepares nothing; the writes fault as before.
      if (!block_.Prefault(fronts[i], length))
        return;
      fronts[i] += length;
      prepared_ += length;
      more = more || fronts[i] < end;
    }
  }
}

}  // namespace zel
