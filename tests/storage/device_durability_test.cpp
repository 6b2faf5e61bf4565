// What disk and volume handles promise about the host's cache: unbuffered
// handles move their data with direct I/O (checked with mincore on the image:
// the pages they touched never enter the page cache, and a second descriptor
// opened with O_DIRECT reads what they wrote), a file system that refuses
// direct I/O (ramfs) still serves them, write-through writes and closes sync
// the device (counted on a device that watches the image).
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "fs/volume_fixture.h"
#include "storage/device_fixture.h"

using namespace platform::storage;
using storage_test::DeviceFixture;
using storage_test::Open;
using storage_test::Pattern;
using storage_test::SeekTo;

namespace {

constexpr uint64_t MiB = 1 << 20;

// A buffer whose data() is (or is deliberately not) 4096-aligned.
class Buffer {
 public:
  Buffer(size_t length, bool aligned) : storage_(length + 8192), length_(length) {
    auto at = reinterpret_cast<uintptr_t>(storage_.data());
    offset_ = (4096 - at % 4096) % 4096 + (aligned ? 0 : 8);
  }
  uint8_t* data() { return storage_.data() + offset_; }
  std::vector<uint8_t> bytes() { return {data(), data() + length_}; }

 private:
  std::vector<uint8_t> storage_;
  size_t length_;
  size_t offset_;
};

// A sparse image in a scratch folder under `parent`, removed with the object.
class Image {
 public:
  Image(const std::string& parent, uint64_t size) {
    std::string pattern = parent + "/durability-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) folder_ = buf.data();
    path_ = folder_ + "/disk.img";
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
      ::close(fd);
    }
  }
  ~Image() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }

  // How many pages of [offset, offset + length) sit in the host's page cache.
  size_t cached_pages(uint64_t offset, size_t length) const {
    int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return SIZE_MAX;
    void* map = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    ::close(fd);
    if (map == MAP_FAILED) return SIZE_MAX;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((length + page - 1) / page);
    size_t count = SIZE_MAX;
    if (mincore(map, length, resident.data()) == 0) {
      count = 0;
      for (unsigned char r : resident) count += r & 1;
    }
    munmap(map, length);
    return count;
  }

  // Reads through a descriptor of its own opened with O_DIRECT.
  std::vector<uint8_t> read_direct(uint64_t offset, size_t length) const {
    int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECT);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    Buffer buffer(length, true);
    EXPECT_EQ(pread(fd, buffer.data(), length, static_cast<off_t>(offset)), static_cast<ssize_t>(length))
        << std::strerror(errno);
    ::close(fd);
    return buffer.bytes();
  }
  void write_direct(uint64_t offset, const std::vector<uint8_t>& bytes) const {
    int fd = ::open(path_.c_str(), O_WRONLY | O_DIRECT);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    Buffer buffer(bytes.size(), true);
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    EXPECT_EQ(pwrite(fd, buffer.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }

 private:
  std::string folder_;
  std::string path_;
};

struct DirectCase {
  uint32_t sector_size;
  bool aligned_buffer;
};

class DirectIo : public ::testing::TestWithParam<DirectCase> {};

// The image lives in the test's working folder (the build tree on the work
// disk), where the host does direct I/O.
TEST_P(DirectIo, UnbufferedTransfersBypassTheHostCache) {
  const auto [ss, aligned] = GetParam();
  Image image(std::filesystem::current_path().string(), 16 * MiB);
  auto backing = std::shared_ptr<platform::FileBlockDevice>(platform::FileBlockDevice::open(image.path(), ss));
  ASSERT_TRUE(backing);
  if (!backing->direct_io()) GTEST_SKIP() << "the work disk's file system refuses direct I/O";
  DeviceFixture f;
  f.add_disk_over(0, backing);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  // A write larger than the bounce buffer, from the program's buffer as it is.
  const size_t length = 2 * MiB + 8 * 4096;
  auto data = Pattern(length, 5);
  Buffer out(length, aligned);
  std::memcpy(out.data(), data.data(), length);
  DWORD done = 0;
  ASSERT_TRUE(SeekTo(h, 1 * MiB));
  ASSERT_TRUE(WriteFile(h, out.data(), static_cast<DWORD>(length), &done, nullptr)) << GetLastError();
  EXPECT_EQ(done, length);
  EXPECT_EQ(image.cached_pages(1 * MiB, length), 0u);
  EXPECT_EQ(image.read_direct(1 * MiB, length), data);

  // What another writer put on the disk reads back without entering the cache.
  auto other = Pattern(64 * 1024, 77);
  image.write_direct(8 * MiB, other);
  Buffer in(other.size(), aligned);
  ASSERT_TRUE(SeekTo(h, 8 * MiB));
  ASSERT_TRUE(ReadFile(h, in.data(), static_cast<DWORD>(other.size()), &done, nullptr)) << GetLastError();
  EXPECT_EQ(in.bytes(), other);
  EXPECT_EQ(image.cached_pages(8 * MiB, other.size()), 0u);
  CloseHandle(h);

  // A buffered handle does go through the cache: the check above can see it.
  h = Open(u"\\\\.\\PhysicalDrive0");
  ASSERT_TRUE(SeekTo(h, 12 * MiB));
  ASSERT_TRUE(WriteFile(h, out.data(), 64 * 1024, &done, nullptr));
  EXPECT_GT(image.cached_pages(12 * MiB, 64 * 1024), 0u);
  CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Sectors, DirectIo,
                         ::testing::Values(DirectCase{512, true}, DirectCase{512, false}, DirectCase{4096, true},
                                           DirectCase{4096, false}),
                         [](const auto& info) {
                           return std::to_string(info.param.sector_size) +
                                  (info.param.aligned_buffer ? "Aligned" : "Misaligned");
                         });

// A volume handle whose offset is a whole number of 512-byte sectors but not
// of the host's direct-I/O block still moves the right bytes (the device
// takes the cached path for such a transfer).
TEST(DirectIoAlignment, TransfersTheHostCannotAlignStillArrive) {
  for (bool aligned : {true, false}) {
    SCOPED_TRACE(aligned ? "aligned buffer" : "misaligned buffer");
    const uint32_t ss = 512;
    Image image(std::filesystem::current_path().string(), 8 * MiB);
    auto backing = std::shared_ptr<platform::FileBlockDevice>(platform::FileBlockDevice::open(image.path(), ss));
    ASSERT_TRUE(backing);
    DeviceFixture f;
    f.add_disk_over(0, backing);
    f.add_volume(0, 1, 63 * 512, 4 * MiB, 'E', "11111111-2222-3333-4444-555555555555");
    HANDLE v = Open(u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(v, INVALID_HANDLE_VALUE);
    auto data = Pattern(3 * 512, 9);
    Buffer out(data.size(), aligned);
    std::memcpy(out.data(), data.data(), data.size());
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(v, out.data(), static_cast<DWORD>(data.size()), &done, nullptr)) << GetLastError();
    Buffer in(data.size(), aligned);
    ASSERT_TRUE(SeekTo(v, 0));
    ASSERT_TRUE(ReadFile(v, in.data(), static_cast<DWORD>(data.size()), &done, nullptr)) << GetLastError();
    EXPECT_EQ(in.bytes(), data);
    CloseHandle(v);
    auto whole = image.read_direct(0, 1 * MiB);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), whole.begin() + 63 * 512));
  }
}


// ramfs refuses O_DIRECT at open. The test mounts one in a mount namespace of
// its own (nothing outside this process sees it).
TEST(DirectIoFallback, AFileSystemThatRefusesDirectIoStillServesUnbufferedHandles) {
  char pattern[] = "/tmp/durability-ramfs-XXXXXX";
  ASSERT_TRUE(mkdtemp(pattern));
  const std::string mount_point = pattern;
  bool mounted = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                 mount("ramfs", mount_point.c_str(), "ramfs", 0, nullptr) == 0;
  if (!mounted) {
    rmdir(mount_point.c_str());
    GTEST_SKIP() << "cannot mount a ramfs here: " << std::strerror(errno);
  }
  {
    Image image(mount_point, 4 * MiB);
    auto backing = std::shared_ptr<platform::FileBlockDevice>(platform::FileBlockDevice::open(image.path(), 512));
    ASSERT_TRUE(backing);
    EXPECT_FALSE(backing->direct_io());
    DeviceFixture f;
    f.add_disk_over(0, backing);
    HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    auto data = Pattern(8 * 512, 3);
    Buffer out(data.size(), false);
    std::memcpy(out.data(), data.data(), data.size());
    DWORD done = 0;
    ASSERT_TRUE(SeekTo(h, 1536));
    ASSERT_TRUE(WriteFile(h, out.data(), static_cast<DWORD>(data.size()), &done, nullptr)) << GetLastError();
    Buffer in(data.size(), false);
    ASSERT_TRUE(SeekTo(h, 1536));
    ASSERT_TRUE(ReadFile(h, in.data(), static_cast<DWORD>(data.size()), &done, nullptr)) << GetLastError();
    EXPECT_EQ(in.bytes(), data);
    CloseHandle(h);
    // The image file itself, through a descriptor of the test's own.
    std::vector<uint8_t> bytes(data.size());
    int fd = ::open(image.path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pread(fd, bytes.data(), bytes.size(), 1536), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    EXPECT_EQ(bytes, data);
  }
  umount(mount_point.c_str());
  rmdir(mount_point.c_str());
}

// Watches what reaches the image: syncs, and which kind of transfer.
class WatchingDevice : public fstest::PassThroughDevice {
 public:
  using PassThroughDevice::PassThroughDevice;
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    ++cached_writes;
    return PassThroughDevice::write_at(offset, buffer, length);
  }
  bool write_direct(uint64_t offset, const void* buffer, size_t length) override {
    ++direct_writes;
    return PassThroughDevice::write_direct(offset, buffer, length);
  }
  bool flush() override {
    ++syncs;
    if (fail_syncs) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    return PassThroughDevice::flush();
  }
  std::atomic<int> syncs{0}, cached_writes{0}, direct_writes{0};
  bool fail_syncs = false;
};

TEST(Durability, SyncsFollowTheHandleFlags) {
  struct Case {
    const char* name;
    const char16_t* path;
    DWORD access;
    DWORD flags;
    int writes;
    bool flush_call;      // FlushFileBuffers before the close
    int syncs_open;       // syncs seen before the close
    int syncs_closed;     // after it
    bool direct;          // the writes took the direct path
  };
  constexpr DWORD RW = GENERIC_READ | GENERIC_WRITE;
  const Case cases[] = {
      {"cached writes sync at the close", u"\\\\.\\PhysicalDrive0", RW, 0, 3, false, 0, 1, false},
      {"unbuffered writes sync at the close", u"\\\\.\\PhysicalDrive0", RW, FILE_FLAG_NO_BUFFERING, 3, false, 0, 1, true},
      {"write-through syncs every write", u"\\\\.\\PhysicalDrive0", RW, FILE_FLAG_WRITE_THROUGH, 3, false, 3, 3, false},
      {"the disk layer's flags", u"\\\\.\\PhysicalDrive0", RW, FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, 3,
       false, 3, 3, true},
      {"a volume handle", u"\\\\.\\E:", RW, FILE_FLAG_NO_BUFFERING, 2, false, 0, 1, true},
      {"a flushed handle owes nothing", u"\\\\.\\PhysicalDrive0", RW, 0, 2, true, 1, 1, false},
      {"a handle that only read", u"\\\\.\\PhysicalDrive0", RW, FILE_FLAG_NO_BUFFERING, 0, false, 0, 0, false},
      {"a read-only handle", u"\\\\.\\E:", GENERIC_READ, 0, 0, false, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    storage_test::ScratchImage image(8 * MiB);
    auto watch = std::make_shared<WatchingDevice>(image.open(512));
    DeviceFixture f;
    f.add_disk_over(0, watch);
    f.add_volume(0, 1, 1 * MiB, 4 * MiB, 'E', "11111111-2222-3333-4444-555555555555");
    HANDLE h = Open(c.path, c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, c.flags);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Buffer buffer(4096, true);
    std::memset(buffer.data(), 0x5A, 4096);
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(h, buffer.data(), 4096, &done, nullptr));
    for (int i = 0; i < c.writes; ++i) {
      ASSERT_TRUE(WriteFile(h, buffer.data(), 4096, &done, nullptr)) << GetLastError();
    }
    if (c.flush_call) {
      ASSERT_TRUE(FlushFileBuffers(h));
    }
    EXPECT_EQ(watch->syncs, c.syncs_open);
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_EQ(watch->syncs, c.syncs_closed);
    EXPECT_EQ(watch->direct_writes, c.direct ? c.writes : 0);
    EXPECT_EQ(watch->cached_writes, c.direct ? 0 : c.writes);
  }
}

TEST(Durability, AWriteThroughWriteWhoseSyncFailsReportsIt) {
  storage_test::ScratchImage image(4 * MiB);
  auto watch = std::make_shared<WatchingDevice>(image.open(512));
  DeviceFixture f;
  f.add_disk_over(0, watch);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buffer(512, 1);
  DWORD done = 0;
  watch->fail_syncs = true;
  EXPECT_FALSE(WriteFile(h, buffer.data(), 512, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(FlushFileBuffers(h));
  // The close tries again once the device can sync.
  watch->fail_syncs = false;
  const int before = watch->syncs;
  CloseHandle(h);
  EXPECT_EQ(watch->syncs, before + 1);
}

TEST(Durability, ACloseWhoseSyncFailsReportsIt) {
  storage_test::ScratchImage image(4 * MiB);
  auto watch = std::make_shared<WatchingDevice>(image.open(512));
  DeviceFixture f;
  f.add_disk_over(0, watch);
  HANDLE h = Open(u"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> buffer(512, 1);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, buffer.data(), 512, &done, nullptr));
  watch->fail_syncs = true;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_EQ(watch->syncs, 1);
}

}  // namespace
