#include "download/prefix_hasher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "download/md5.h"

namespace zel {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(n);
  for (std::uint8_t& b : bytes)
    b = static_cast<std::uint8_t>(random());
  return bytes;
}

struct Block {
  std::uint32_t offset;
  std::uint32_t length;
};

// |pieces| parallel streams, each written front to back in |block| steps and
// interleaved round-robin, the way ranged transfers arrive.
std::vector<Block> ParallelStreams(std::uint32_t size, std::uint32_t pieces, std::uint32_t block) {
  std::vector<std::uint32_t> pos(pieces), end(pieces);
  for (std::uint32_t i = 0; i < pieces; ++i) {
    pos[i] = i * (size / pieces);
    end[i] = i + 1 == pieces ? size : (i + 1) * (size / pieces);
  }
  std::vector<Block> blocks;
  for (bool any = true; any;) {
    any = false;
    for (std::uint32_t i = 0; i < pieces; ++i) {
      if (pos[i] >= end[i])
        continue;
      std::uint32_t n = std::min(block, end[i] - pos[i]);
      blocks.push_back({pos[i], n});
      pos[i] += n;
      any = true;
    }
  }
  return blocks;
}

TEST(PrefixHasherTest, DigestMatchesWhateverOrderTheBlocksCameIn) {
  const std::uint32_t size = 9 * 1048576 + 4321;
  const std::vector<std::uint8_t> file = RandomBytes(size, 1);
  struct Case {
    const char* name;
    std::vector<Block> blocks;
  };
  std::vector<Block> in_order = ParallelStreams(size, 1, 65536);
  std::vector<Block> reversed = in_order;
  std::reverse(reversed.begin(), reversed.end());
  std::vector<Block> shuffled = ParallelStreams(size, 7, 10000);
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(2));
  // Split ranges overlap by a byte or two and repeat blocks.
  std::vector<Block> overlapping = ParallelStreams(size, 10, 16384);
  for (std::uint32_t at = 1048576; at < size; at += 1048576)
    overlapping.push_back({at - 2, 4});
  const Case cases[] = {{"in order", in_order},
                        {"reversed", reversed},
                        {"ten parallel streams, overlaps", overlapping},
                        {"shuffled", shuffled}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> buffer(size);
    PrefixHasher hasher(buffer.data(), size);
    for (const Block& b : c.blocks)
      hasher.Write(b.offset, file.data() + b.offset, b.length);
    EXPECT_EQ(hasher.PrefixEnd(), size) << c.name;
    EXPECT_EQ(hasher.DigestHex(), Md5Hex(file.data(), size)) << c.name;
    EXPECT_EQ(buffer, file) << c.name;
  }
}

TEST(PrefixHasherTest, PrefixStopsAtTheFirstHole) {
  const std::uint32_t size = 1000;
  std::vector<std::uint8_t> file = RandomBytes(size, 3);
  std::vector<std::uint8_t> buffer(size);
  PrefixHasher hasher(buffer.data(), size);
  hasher.Write(500, file.data() + 500, 500);
  EXPECT_EQ(hasher.PrefixEnd(), 0u);
  hasher.Write(0, file.data(), 200);
  EXPECT_EQ(hasher.PrefixEnd(), 200u);
  hasher.Write(200, file.data() + 200, 300);
  EXPECT_EQ(hasher.PrefixEnd(), size);
}

TEST(PrefixHasherTest, UnwrittenBytesCountAsTheBufferHoldsThemUntilWritten) {
  const std::uint32_t size = 3 * 1048576;
  std::vector<std::uint8_t> file = RandomBytes(size, 4);
  std::vector<std::uint8_t> buffer(size);
  PrefixHasher hasher(buffer.data(), size);
  hasher.Write(0, file.data(), 1048576);
  hasher.Write(2 * 1048576, file.data() + 2 * 1048576, 1048576);
  std::vector<std::uint8_t> with_hole = file;
  std::fill(with_hole.begin() + 1048576, with_hole.begin() + 2 * 1048576, 0);
  EXPECT_EQ(hasher.DigestHex(), Md5Hex(with_hole.data(), size));
  // The repair that fills the hole comes after a digest of the whole buffer.
  hasher.Write(1048576, file.data() + 1048576, 1048576);
  EXPECT_EQ(hasher.DigestHex(), Md5Hex(file.data(), size));
}

TEST(PrefixHasherTest, RewritingHashedBytesStartsTheDigestOver) {
  // Large enough that the thread is still hashing when the damage is mended.
  const std::uint32_t size = 48 * 1048576;
  std::vector<std::uint8_t> file = RandomBytes(size, 5);
  std::vector<std::uint8_t> damaged = file;
  for (std::uint32_t i = 1048576; i < 1048576 + 4096; ++i)
    damaged[i] ^= 0x5A;
  std::vector<std::uint8_t> buffer(size);
  PrefixHasher hasher(buffer.data(), size);
  for (const Block& b : ParallelStreams(size, 1, 262144))
    hasher.Write(b.offset, damaged.data() + b.offset, b.length);
  EXPECT_EQ(hasher.DigestHex(), Md5Hex(damaged.data(), size));
  hasher.Write(1048576, file.data() + 1048576, 1048576);
  EXPECT_EQ(hasher.DigestHex(), Md5Hex(file.data(), size));

  // The same mend while the thread is busy with the prefix.
  std::vector<std::uint8_t> again(size);
  PrefixHasher busy(again.data(), size);
  for (const Block& b : ParallelStreams(size, 1, 262144))
    busy.Write(b.offset, damaged.data() + b.offset, b.length);
  busy.Write(1048576, file.data() + 1048576, 1048576);
  EXPECT_EQ(busy.DigestHex(), Md5Hex(file.data(), size));
}

}  // namespace
}  // namespace zel
