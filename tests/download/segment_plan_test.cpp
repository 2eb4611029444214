#include "download/segment_plan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "download/md5.h"
#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

TEST(SegmentPlanTest, FiveUrlsMakeTenRangesAndTheLastAbsorbsTheRemainder) {
  const std::uint32_t total = 323361816;
  std::vector<Segment> plan = PlanSegments(total, 5, 2);
  ASSERT_EQ(plan.size(), 10u);
  const std::uint32_t length = total / 10;
  for (std::uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(plan[i].start, i * length);
    EXPECT_EQ(plan[i].url_index, static_cast<int>(i % 5));
  }
  EXPECT_EQ(plan[9].end, total - 1);
  char range[64];
  std::snprintf(range, sizeof(range), "%d-%d", static_cast<int>(plan[0].start),
                static_cast<int>(plan[0].end));
  EXPECT_STREQ(range, "0-32336180");
}

TEST(SegmentPlanTest, ThreadsPerUrlOutsideOneToTenCountsAsTwo) {
  struct Case {
    int threads;
    int urls;
    std::size_t items;
  } cases[] = {{0, 3, 6}, {11, 3, 6}, {-4, 1, 2}, {5, 1, 5}, {10, 2, 20}, {1, 4, 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(PlanSegments(100000000, c.urls, c.threads).size(), c.items) << c.threads;
  }
}

TEST(SegmentPlanTest, TinyFilesGetOneRangePerByteInsteadOfEmptyRanges) {
  std::vector<Segment> plan = PlanSegments(3, 5, 2);
  ASSERT_EQ(plan.size(), 3u);
  for (std::uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(plan[i].start, i);
    EXPECT_EQ(plan[i].end, i);
  }
  EXPECT_TRUE(PlanSegments(0, 5, 2).empty());
  EXPECT_TRUE(PlanSegments(100, 0, 2).empty());
}

TEST(SegmentPlanTest, SplitNeedsHalfAMegabyteRemaining) {
  const EngineTiming timing;  // the product's values
  EXPECT_FALSE(PlanSplit(1000, 1000 + 511999, timing.min_split));
  std::optional<SplitPlan> split = PlanSplit(1000, 1000 + 1000000, timing.min_split);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->successor_start, 1000u + 500000);
  EXPECT_EQ(split->successor_end, 1000u + 1000000);
  EXPECT_EQ(split->kept_end, 1000u + 1000000 - 500000);
  EXPECT_FALSE(PlanSplit(5000, 4000, timing.min_split));  // nothing left
  EXPECT_EQ(Remaining(5000, 4000), 0u);
}

TEST(SegmentPlanTest, StallAndShareRulesUseTheProductConstants) {
  const EngineTiming timing;
  EXPECT_EQ(timing.dispatch_interval_ms, 2000u);
  EXPECT_EQ(timing.stall_ms, 6000u);
  EXPECT_EQ(timing.successor_pause_ms, 20u);
  EXPECT_EQ(timing.low_speed_time_s, 5);
  EXPECT_FALSE(IsStalled(10000 + 5999, 10000, timing.stall_ms));
  EXPECT_TRUE(IsStalled(10000 + 6000, 10000, timing.stall_ms));
  EXPECT_TRUE(IsStalled(5000, 0xFFFFFFFFu - 2000, timing.stall_ms));  // across the tick wrap
  EXPECT_FALSE(PastShare(900, 1000, timing.stall_share));
  EXPECT_TRUE(PastShare(901, 1000, timing.stall_share));
  EXPECT_FALSE(PastShare(5, 0, timing.stall_share));
}

TEST(SegmentPlanTest, BlockSpeed) {
  EXPECT_FALSE(BlockSpeed(16384, 0));  // 0 ms apart: the speed stays as it was
  EXPECT_EQ(*BlockSpeed(16384, 8), 2048000u);
  EXPECT_EQ(*BlockSpeed(524288, 1), 524288000u);
}

TEST(SegmentPlanTest, BadRangesOfAnExactMultipleOfTheChunkSize) {
  std::string data = test::PackageBytes(3 * kChunkSize);
  std::vector<std::string> chunks;
  for (int i = 0; i < 3; ++i)
    chunks.push_back(Md5Hex(data.data() + i * kChunkSize, kChunkSize));
  const std::string file_md5 = Md5Hex(data.data(), data.size());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  EXPECT_TRUE(FindBadRanges(bytes, 3 * kChunkSize, file_md5, chunks).empty());

  std::string damaged = data;
  damaged[2 * kChunkSize + 5] ^= 1;
  damaged[10] ^= 1;
  const auto* damaged_bytes = reinterpret_cast<const std::uint8_t*>(damaged.data());
  std::vector<BadRange> bad = FindBadRanges(damaged_bytes, 3 * kChunkSize, file_md5, chunks);
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(bad[0].index, 0u);
  EXPECT_EQ(bad[0].last, kChunkSize - 1);
  EXPECT_EQ(bad[1].index, 2u);  // the last chunk ends at the last byte
  EXPECT_EQ(bad[1].first, 2 * kChunkSize);
  EXPECT_EQ(bad[1].last, 3 * kChunkSize - 1);
}

TEST(SegmentPlanTest, WholeFileMismatchWithoutChunkEvidenceFetchesEverything) {
  std::string data = test::PackageBytes(kChunkSize + 100);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  std::vector<std::string> chunks = {Md5Hex(data.data(), kChunkSize),
                                     Md5Hex(data.data() + kChunkSize, 100)};
  const std::string wrong(32, 'F');
  for (const auto& list : {std::vector<std::string>{}, chunks}) {
    std::vector<BadRange> bad = FindBadRanges(bytes, kChunkSize + 100, wrong, list);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].index, kWholeFile);
    EXPECT_EQ(bad[0].first, 0u);
    EXPECT_EQ(bad[0].last, kChunkSize + 99);
  }
}

TEST(SegmentPlanTest, BestUrlIsTheStrictlyFastestOtherOne) {
  const char* a = "http://a/download/x";
  const char* b = "http://b/download/x";
  const char* c = "http://c/download/x";
  SegmentTable table;
  auto add = [&table](const char* url, std::uint32_t speed, std::int32_t status) {
    DownloadItem& item = table[static_cast<std::int32_t>(table.size())];
    item.url = url;
    item.speed = speed;
    item.status = status;
  };
  add(a, 500, E_Status_Runing);
  add(b, 700, E_Status_Succeed);
  add(c, 700, E_Status_StopByDispatch);  // tie: the first in id order wins
  add(c, 9000, E_Status_Fail);           // failed items are not considered
  add(a, 9000, Replaced);
  EXPECT_STREQ(PickBestUrl(table, a), b);
  EXPECT_STREQ(PickBestUrl(table, b), c);
  EXPECT_STREQ(PickBestUrl(table, nullptr), b);

  SegmentTable idle;
  DownloadItem& only = idle[0];
  only.url = a;
  DownloadItem& other = idle[1];
  other.url = b;  // speed 0
  EXPECT_EQ(PickBestUrl(idle, a), nullptr);
}

}  // namespace
}  // namespace zel
