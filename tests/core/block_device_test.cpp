#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/core/block_device.h"
#include "platform/core/error.h"

namespace {

TEST(BlockDevice, WindowsStayInsideTheirRange) {
  auto disk = std::make_shared<platform::MemoryBlockDevice>(8192, 512);
  for (size_t i = 0; i < disk->bytes().size(); ++i) disk->bytes()[i] = static_cast<uint8_t>(i / 512);
  platform::WindowBlockDevice part(disk, 1024, 2048);

  uint8_t buf[512];
  ASSERT_TRUE(part.read_at(0, buf, 512));
  EXPECT_EQ(buf[0], 2);
  ASSERT_TRUE(part.read_at(1536, buf, 512));
  EXPECT_EQ(buf[511], 5);

  struct Case {
    uint64_t offset;
    size_t length;
  } outside[] = {{1537, 512}, {2048, 1}, {UINT64_MAX - 10, 20}, {0, 2049}};
  for (auto c : outside) {
    std::vector<uint8_t> big(c.length);
    EXPECT_FALSE(part.read_at(c.offset, big.data(), c.length)) << c.offset;
    EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
    EXPECT_FALSE(part.write_at(c.offset, big.data(), c.length)) << c.offset;
  }
  // Nothing outside the window changed.
  EXPECT_EQ(disk->bytes()[3072], 6);
  EXPECT_EQ(disk->bytes()[1023], 1);
}

TEST(BlockDevice, HostFileRoundTripAndMissingFile) {
  char path[] = "/tmp/drum-blockdev-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 1 << 20), 0);
  close(fd);

  auto dev = platform::FileBlockDevice::open(path, 4096);
  ASSERT_TRUE(dev);
  EXPECT_EQ(dev->size(), 1u << 20);
  EXPECT_EQ(dev->sector_size(), 4096u);
  std::vector<uint8_t> data(4096, 0xA5);
  ASSERT_TRUE(dev->write_at(4096 * 3, data.data(), data.size()));
  ASSERT_TRUE(dev->flush());
  std::vector<uint8_t> back(4096);
  ASSERT_TRUE(dev->read_at(4096 * 3, back.data(), back.size()));
  EXPECT_EQ(back, data);
  EXPECT_FALSE(dev->write_at((1 << 20) - 100, data.data(), 200));
  dev.reset();

  std::ifstream in(path, std::ios::binary);
  in.seekg(4096 * 3);
  EXPECT_EQ(in.get(), 0xA5);
  std::remove(path);

  EXPECT_FALSE(platform::FileBlockDevice::open("/nonexistent/image.img", 512));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
