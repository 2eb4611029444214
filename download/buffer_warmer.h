// Faults the whole-file buffer in ahead of the transfers, on a thread of its
// own. A fresh page costs a fault (on a virtual machine often a trip to the
// host as well); without this, the transfer that first writes to a page
// takes that fault while it holds the engine lock, and every other transfer
// waits for it.
#ifndef ZEL_DOWNLOAD_BUFFER_WARMER_H_
#define ZEL_DOWNLOAD_BUFFER_WARMER_H_

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "download/segment_plan.h"
#include "platform/memory.h"

namespace zel {

class BufferWarmer {
 public:
  // Prepares |block| in steps of |step| bytes, taking the fronts of
  // |ranges| in turn, since their transfers all start writing at once.
  // |block| must outlive the warmer.
  BufferWarmer(const platform::LargeBlock& block, std::vector<Segment> ranges,
               std::uint32_t step = kDefaultStep);
  // Stops after the current step.
  ~BufferWarmer();
  BufferWarmer(const BufferWarmer&) = delete;
  BufferWarmer& operator=(const BufferWarmer&) = delete;

  // Bytes prepared so far (for tests).
  std::uint64_t prepared() const { return prepared_.load(); }

  static constexpr std::uint32_t kDefaultStep = 2u << 20;

 private:
  void Run();

  const platform::LargeBlock& block_;
  const std::vector<Segment> ranges_;
  const std::uint32_t step_;
  std::atomic<bool> quit_{false};
  std::atomic<std::uint64_t> prepared_{0};
  std::thread thread_;
};

}  // namespace zel

#endif  // ZEL_DOWNLOAD_BUFFER_WARMER_H_
