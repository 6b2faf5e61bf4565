#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
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

// The host blocks under each 4 KiB block of a file, as filefrag (FIEMAP)
// reports them: logical block -> physical block. Empty when the host file
// system cannot say.
std::map<uint64_t, uint64_t> PhysicalBlocks(const char* path) {
  std::map<uint64_t, uint64_t> blocks;
  FILE* out = popen(("filefrag -e -b4096 '" + std::string(path) + "' 2>/dev/null").c_str(), "r");
  if (!out) return blocks;
  char line[512];
  while (fgets(line, sizeof line, out)) {
    unsigned long long ext, first, last, physical, physical_last;
    if (sscanf(line, " %llu: %llu.. %llu: %llu.. %llu:", &ext, &first, &last, &physical, &physical_last) == 5) {
      for (unsigned long long b = first; b <= last; ++b) blocks[b] = physical + (b - first);
    }
  }
  pclose(out);
  return blocks;
}

// Zeros written over stored bytes of an image file reach the host's medium:
// the very blocks that held the old bytes hold the zeros (filefrag shows the
// same physical blocks before and after, the file keeps its space), read by
// the host as zeros; zeros written into a hole keep the hole; a run that is
// not whole 4 KiB pages is an ordinary write. Buffered and direct writes alike.
TEST(BlockDevice, ZerosOverDataAreWrittenInPlaceAndHolesStayHoles) {
  constexpr size_t kMiB = 1 << 20, kPiece = 256 * 1024;
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "write_direct" : "write_at");
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
    auto data = aligned(4 * kMiB, 0xC3);
    ASSERT_TRUE(dev->write_at(0, data.get(), 4 * kMiB));  // [4, 8) MiB stays a hole
    ASSERT_TRUE(dev->flush());
    const auto full = image.blocks();
    const auto before = PhysicalBlocks(image.path());
    auto zeros = aligned(kPiece, 0);
    auto write = [&](uint64_t at, const uint8_t* p, size_t n) {
      return direct ? dev->write_direct(at, p, n) : dev->write_at(at, p, n);
    };
    for (size_t at = kMiB; at < 3 * kMiB; at += kPiece) ASSERT_TRUE(write(at, zeros.get(), kPiece));
    for (size_t at = 5 * kMiB; at < 6 * kMiB; at += kPiece) ASSERT_TRUE(write(at, zeros.get(), kPiece));
    ASSERT_TRUE(dev->write_at(512, zeros.get(), 512));  // not page-sized
    ASSERT_TRUE(dev->flush());
    EXPECT_EQ(image.blocks(), full);  // nothing given back, nothing allocated
    const auto after = PhysicalBlocks(image.path());
    if (!before.empty()) {
      for (uint64_t b = kMiB / 4096; b < 3 * kMiB / 4096; ++b) {
        ASSERT_TRUE(before.count(b) && after.count(b)) << "block " << b << " is no longer stored";
        ASSERT_EQ(after.at(b), before.at(b)) << "block " << b << " moved: its old bytes stay on the medium";
      }
      for (uint64_t b = 5 * kMiB / 4096; b < 6 * kMiB / 4096; ++b) EXPECT_EQ(after.count(b), 0u) << b;
    }
    std::ifstream in(image.path(), std::ios::binary);
    std::vector<char> file(8 * kMiB);
    ASSERT_TRUE(in.read(file.data(), static_cast<std::streamsize>(file.size())));
    for (size_t i = 0; i < file.size(); ++i) {
      const bool old = i < 4 * kMiB && !(i >= 512 && i < 1024) && !(i >= kMiB && i < 3 * kMiB);
      ASSERT_EQ(static_cast<uint8_t>(file[i]), old ? 0xC3 : 0) << i;
    }
    // The device reads what the host reads.
    auto back = aligned(4096, 0xEE);
    ASSERT_TRUE(dev->read_direct(kMiB + kPiece, back.get(), 4096));
    EXPECT_EQ(back.get()[0], 0);
    EXPECT_EQ(back.get()[4095], 0);
  }
}

}  // namespace
