#include "platform/memory.h"

#include <gtest/gtest.h>

#include <utility>

namespace zel::platform {
namespace {

TEST(LargeBlockTest, ComesZeroedAndWritable) {
  const std::size_t size = (5u << 20) + 123;
  LargeBlock block = LargeBlock::Allocate(size);
  ASSERT_TRUE(block);
  ASSERT_EQ(block.size(), size);
  for (std::size_t i = 0; i < size; i += 4093)
    ASSERT_EQ(block.get()[i], 0) << i;
  block.get()[size - 1] = 7;
  EXPECT_EQ(block.get()[size - 1], 7);
}

TEST(LargeBlockTest, EmptyWhenNothingOrTooMuchIsAsked) {
  EXPECT_FALSE(LargeBlock::Allocate(0));
  EXPECT_FALSE(LargeBlock::Allocate(~std::size_t{0} / 2));
}

TEST(LargeBlockTest, MovesOwnershipAndResets) {
  LargeBlock a = LargeBlock::Allocate(4096);
  std::uint8_t* data = a.get();
  LargeBlock b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), data);
  b.reset();
  EXPECT_FALSE(b);
  EXPECT_EQ(b.size(), 0u);
}

TEST(LargeBlockTest, PrefaultKeepsWhatTheBlockHolds) {
  const std::size_t size = (4u << 20) + 5;
  LargeBlock block = LargeBlock::Allocate(size);
  ASSERT_TRUE(block);
  block.get()[4097] = 9;
  block.get()[size - 1] = 3;
  // An unaligned start and a length past the end are fine.
  EXPECT_TRUE(block.Prefault(4097, size));
  EXPECT_TRUE(block.Prefault(0, 1));
  EXPECT_EQ(block.get()[4097], 9);
  EXPECT_EQ(block.get()[size - 1], 3);
  EXPECT_EQ(block.get()[0], 0);
  EXPECT_FALSE(block.Prefault(size, 1));
  EXPECT_FALSE(LargeBlock().Prefault(0, 1));
}

}  // namespace
}  // namespace zel::platform
