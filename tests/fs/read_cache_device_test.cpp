// The NTFS driver's read cache against a plain model of the device: a seeded
// mix of small and large reads and writes (across block edges and at the
// device's ragged end) always reads what was last written; small rereads
// inside a block cost one device read; a bad sector fails only the reads that
// cover it; a write the device refused leaves no stale bytes behind.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/ntfs/read_cache_device.h"

namespace {

using platform::fs::ntfs::ReadCacheDevice;

// A device in memory that counts its reads and can refuse reads of a range
// (a bad sector) or every write.
class FaultyDevice : public platform::MemoryBlockDevice {
 public:
  using MemoryBlockDevice::MemoryBlockDevice;
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    ++reads;
    if (offset < bad_end && bad_start < offset + length) return false;
    return MemoryBlockDevice::read_at(offset, buffer, length);
  }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    if (refuse_writes) {
      // A torn write: the first half lands.
      MemoryBlockDevice::write_at(offset, buffer, length / 2);
      return false;
    }
    return MemoryBlockDevice::write_at(offset, buffer, length);
  }
  int reads = 0;
  uint64_t bad_start = 0, bad_end = 0;
  bool refuse_writes = false;
};

constexpr uint64_t kBlock = ReadCacheDevice::kBlockBytes;
// Not a whole number of blocks: the last block is short.
constexpr uint64_t kSize = 40 * kBlock + 3 * 512;

TEST(ReadCacheDevice, ReadsWhatWasLastWrittenThroughAnyMixOfTransfers) {
  auto inner = std::make_shared<FaultyDevice>(kSize, 512);
  std::mt19937_64 random(20261211);
  for (auto& b : inner->bytes()) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> model = inner->bytes();
  // Few blocks, so that blocks are evicted and loaded again.
  ReadCacheDevice cache(inner, 6);
  const size_t sizes[] = {1, 512, 1024, 4096, 3 * 512 + 7, kBlock - 1, kBlock, kBlock + 512, 3 * kBlock};
  std::vector<uint8_t> buffer, expect;
  for (int step = 0; step < 4000; ++step) {
    const size_t length = sizes[random() % std::size(sizes)];
    const uint64_t offset = random() % (kSize - length + 1);
    buffer.resize(length);
    if (random() % 3 == 0) {
      for (auto& b : buffer) b = static_cast<uint8_t>(random());
      ASSERT_TRUE(cache.write_at(offset, buffer.data(), length));
      std::memcpy(model.data() + offset, buffer.data(), length);
    } else {
      ASSERT_TRUE(cache.read_at(offset, buffer.data(), length));
      ASSERT_EQ(std::memcmp(buffer.data(), model.data() + offset, length), 0)
          << "step " << step << ": " << length << " bytes at " << offset;
    }
  }
  EXPECT_EQ(inner->bytes(), model) << "every write reached the device";
  // Past the end: refused whole, as the device refuses it.
  buffer.resize(1024);
  EXPECT_FALSE(cache.read_at(kSize - 512, buffer.data(), 1024));
}

TEST(ReadCacheDevice, SmallRereadsOfABlockCostOneDeviceRead) {
  auto inner = std::make_shared<FaultyDevice>(kSize, 512);
  ReadCacheDevice cache(inner);
  std::vector<uint8_t> record(1024);
  for (int pass = 0; pass < 3; ++pass)
    for (uint64_t at = 2 * kBlock; at < 3 * kBlock; at += record.size())
      ASSERT_TRUE(cache.read_at(at, record.data(), record.size()));
  EXPECT_EQ(inner->reads, 1);
  // Large reads go to the device as they are.
  std::vector<uint8_t> large(2 * kBlock);
  ASSERT_TRUE(cache.read_at(0, large.data(), large.size()));
  EXPECT_EQ(inner->reads, 2);
}

TEST(ReadCacheDevice, ABadSectorFailsOnlyTheReadsThatCoverIt) {
  auto inner = std::make_shared<FaultyDevice>(kSize, 512);
  for (size_t i = 0; i < inner->bytes().size(); ++i) inner->bytes()[i] = static_cast<uint8_t>(i / 512);
  inner->bad_start = 5 * kBlock + 4096;
  inner->bad_end = inner->bad_start + 512;
  ReadCacheDevice cache(inner);
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(cache.read_at(5 * kBlock, sector.data(), 512)) << "a good sector in the bad sector's block";
  EXPECT_EQ(sector[0], static_cast<uint8_t>(5 * kBlock / 512));
  EXPECT_FALSE(cache.read_at(inner->bad_start, sector.data(), 512));
  EXPECT_FALSE(cache.read_at(inner->bad_start - 256, sector.data(), 512));
  ASSERT_TRUE(cache.read_at(inner->bad_end, sector.data(), 512));
  EXPECT_EQ(sector[0], static_cast<uint8_t>(inner->bad_end / 512));
}

TEST(ReadCacheDevice, ARefusedWriteLeavesNoStaleBytes) {
  auto inner = std::make_shared<FaultyDevice>(kSize, 512);
  ReadCacheDevice cache(inner);
  std::vector<uint8_t> bytes(4096), back(4096);
  ASSERT_TRUE(cache.read_at(kBlock, back.data(), back.size()));  // the block is cached
  inner->refuse_writes = true;
  std::fill(bytes.begin(), bytes.end(), 0xA5);
  EXPECT_FALSE(cache.write_at(kBlock, bytes.data(), bytes.size()));
  ASSERT_TRUE(cache.read_at(kBlock, back.data(), back.size()));
  EXPECT_EQ(std::memcmp(back.data(), inner->bytes().data() + kBlock, back.size()), 0)
      << "the cache shows what the device holds after the torn write";
}

}  // namespace
