#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

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

// A scratch image file of `size` bytes (a hole), removed at the end.
class ScratchImage {
 public:
  explicit ScratchImage(off_t size) {
    int fd = mkstemp(path_);
    ok_ = fd >= 0 && ftruncate(fd, size) == 0;
    if (fd >= 0) close(fd);
  }
  ~ScratchImage() { std::remove(path_); }
  bool ok() const { return ok_; }
  const char* path() const { return path_; }
  // The 512-byte blocks the file occupies on the host.
  blkcnt_t blocks() const {
    struct stat st {};
    stat(path_, &st);
    return st.st_blocks;
  }

 private:
  char path_[32] = "/tmp/drum-blockdev-XXXXXX";
  bool ok_ = false;
};

// Zeros written over data in an image file read back as zeros and give the
// space back; a zero run that is not whole 4 KiB pages, or bytes next to it,
// are written as they are.
TEST(BlockDevice, ZeroWritesKeepImagesSparse) {
  ScratchImage image(4 << 20);
  ASSERT_TRUE(image.ok());
  auto dev = platform::FileBlockDevice::open(image.path(), 512);
  ASSERT_TRUE(dev);
  std::vector<uint8_t> data(2 << 20, 0xC3);
  ASSERT_TRUE(dev->write_at(0, data.data(), data.size()));
  ASSERT_TRUE(dev->flush());
  const auto full = image.blocks();
  std::vector<uint8_t> zeros(1 << 20, 0);
  ASSERT_TRUE(dev->write_at(512 * 1024, zeros.data(), zeros.size()));
  ASSERT_TRUE(dev->write_at(512, zeros.data(), 512));  // not page-sized: an ordinary write
  ASSERT_TRUE(dev->flush());
  EXPECT_LT(image.blocks(), full - 1800);  // about 1 MiB (2048 blocks of 512 bytes) given back
  std::vector<uint8_t> back(2 << 20);
  ASSERT_TRUE(dev->read_at(0, back.data(), back.size()));
  for (size_t i = 0; i < back.size(); ++i) {
    const bool zero = (i >= 512 && i < 1024) || (i >= 512 * 1024 && i < 512 * 1024 + (1 << 20));
    ASSERT_EQ(back[i], zero ? 0 : 0xC3) << i;
  }
  dev.reset();
}

// Zero runs written through the direct path, one after another, are punched
// as one hole later: a read of the device in between already sees zeros, a
// data write beside them lands, and after flush() the image file itself (read
// by the host, not by the device) holds the zeros and has given their space
// back; a zero run elsewhere starts its own hole.
TEST(BlockDevice, DirectZeroRunsReadAsZerosAndLandInTheFileByTheFlush) {
  constexpr size_t kMiB = 1 << 20, kPiece = 256 * 1024;
  ScratchImage image(8 * kMiB);
  ASSERT_TRUE(image.ok());
  auto dev = platform::FileBlockDevice::open(image.path(), 512);
  ASSERT_TRUE(dev);
  // Page-aligned buffers, as unbuffered handles pass them.
  auto aligned = [](size_t n, uint8_t value) {
    std::shared_ptr<uint8_t> p(static_cast<uint8_t*>(std::aligned_alloc(4096, n)), std::free);
    std::memset(p.get(), value, n);
    return p;
  };
  auto data = aligned(8 * kMiB, 0xC3);
  ASSERT_TRUE(dev->write_at(0, data.get(), 8 * kMiB));
  ASSERT_TRUE(dev->flush());
  const auto full = image.blocks();
  auto zeros = aligned(kPiece, 0);
  for (size_t at = kMiB; at < 3 * kMiB; at += kPiece) ASSERT_TRUE(dev->write_direct(at, zeros.get(), kPiece));
  auto back = aligned(4096, 0xEE);
  ASSERT_TRUE(dev->read_direct(kMiB + kPiece + 4096, back.get(), 4096));
  EXPECT_EQ(back.get()[0], 0);
  EXPECT_EQ(back.get()[4095], 0);
  ASSERT_TRUE(dev->write_direct(kMiB + 8192, zeros.get(), 4096));  // inside the run already written
  auto marks = aligned(4096, 0xA5);
  ASSERT_TRUE(dev->write_direct(3 * kMiB, marks.get(), 4096));
  ASSERT_TRUE(dev->write_direct(5 * kMiB, zeros.get(), kPiece));
  ASSERT_TRUE(dev->flush());
  EXPECT_LT(image.blocks(), full - 4000);  // about 2.25 MiB (4608 blocks of 512 bytes) given back

  std::ifstream in(image.path(), std::ios::binary);
  std::vector<char> file(8 * kMiB);
  ASSERT_TRUE(in.read(file.data(), static_cast<std::streamsize>(file.size())));
  for (size_t i = 0; i < file.size(); ++i) {
    const bool zero = (i >= kMiB && i < 3 * kMiB) || (i >= 5 * kMiB && i < 5 * kMiB + kPiece);
    const bool mark = i >= 3 * kMiB && i < 3 * kMiB + 4096;
    ASSERT_EQ(static_cast<uint8_t>(file[i]), zero ? 0 : mark ? 0xA5 : 0xC3) << i;
  }
  dev.reset();
}

}  // namespace
