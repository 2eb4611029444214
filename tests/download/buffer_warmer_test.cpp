#include "download/buffer_warmer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace zel {
namespace {

bool WaitForPrepared(const BufferWarmer& warmer, std::uint64_t bytes) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (warmer.prepared() < bytes) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Three ranges written from their starts while the warmer works through
// them: every range is prepared in full and no written byte is lost.
TEST(BufferWarmerTest, PreparesEveryRangeWhileTransfersWrite) {
  const std::uint32_t size = (6u << 20) + 77;
  platform::LargeBlock block = platform::LargeBlock::Allocate(size);
  ASSERT_TRUE(block);
  if (!block.Prefault(0, 1))
    GTEST_SKIP() << "this system cannot fault memory in ahead";
  const std::vector<Segment> ranges = PlanSegments(size, 3, 1);
  ASSERT_EQ(ranges.size(), 3u);
  {
    BufferWarmer warmer(block, ranges, 64 * 1024);
    std::vector<std::thread> writers;
    for (const Segment& range : ranges) {
      writers.emplace_back([&block, range] {
        for (std::uint32_t at = range.start; at <= range.end; at += 4096) {
          block.get()[at] = static_cast<std::uint8_t>(1 + at / 4096 % 250);
        }
      });
    }
    for (std::thread& writer : writers)
      writer.join();
    EXPECT_TRUE(WaitForPrepared(warmer, size)) << warmer.prepared();
    EXPECT_EQ(warmer.prepared(), size);
  }
  for (const Segment& range : ranges) {
    for (std::uint32_t at = range.start; at <= range.end; at += 4096) {
      ASSERT_EQ(block.get()[at], static_cast<std::uint8_t>(1 + at / 4096 % 250)) << at;
    }
  }
}

// Destroyed at once (the engine stops before the warmer is through), it
// stops after its current step; a warmer that did not would hang here.
TEST(BufferWarmerTest, StopsWhenDestroyed) {
  const std::uint32_t size = 64u << 20;
  platform::LargeBlock block = platform::LargeBlock::Allocate(size);
  ASSERT_TRUE(block);
  { BufferWarmer warmer(block, PlanSegments(size, 5, 2), 4096); }
  block.reset();
  EXPECT_FALSE(block);
}

}  // namespace
}  // namespace zel
