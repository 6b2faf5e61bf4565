// Closing a written file leaves its bytes and the file system's own
// structures in the image without syncing the device; FlushFileBuffers and
// write-through handles do sync it. Checked on FAT32 (mtools, fsck.fat) and
// NTFS (ntfscat, ntfsfix) reading the image file while the volume stays
// mounted, and by counting the flushes that reach the volume's device.
#include <gtest/gtest.h>

#include <atomic>

#include "fs/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/fs/crt_file.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"

using fstest::Quote;
using fstest::SimulatedDisk;

namespace {

BOOLEAN Quiet(DWORD, DWORD, PVOID) { return 1; }

// Counts the flushes that reach the partition's window.
class CountingDevice : public fstest::PassThroughDevice {
 public:
  using PassThroughDevice::PassThroughDevice;
  bool flush() override {
    ++flushes;
    return PassThroughDevice::flush();
  }
  std::atomic<int> flushes{0};
};

struct Case {
  const char* name;
  const char* file_system;  // "FAT32" formatted through FormatEx, or "NTFS" made by mkntfs
};

class WriteBack : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    bool fat = std::string(GetParam().file_system) == "FAT32";
    // FAT32 needs 65525 clusters: 300 MiB holds that with 4 KiB clusters.
    disk_ = std::make_unique<SimulatedDisk>(
        std::vector<fstest::PartitionSpec>{{u'W', fat ? 300ull << 20 : 64ull << 20, fat ? "RAW" : "NTFS", ""}});
    counter_ = std::make_shared<CountingDevice>(disk_->volume(0).device);
    disk_->edit(0).device = counter_;
    disk_->publish();
    if (fat) {
      std::u16string root = u"W:\\", fs = u"FAT32", label = u"";
      FormatEx(root.data(), FMIFS_FIXED_MEDIA, fs.data(), label.data(), TRUE, 0, Quiet);
    }
    DWORD root = GetFileAttributesW(u"W:\\");
    ASSERT_NE(root, INVALID_FILE_ATTRIBUTES) << GetLastError();
    ASSERT_TRUE(root & FILE_ATTRIBUTE_DIRECTORY);
    counter_->flushes = 0;
  }

  bool fat() const { return std::string(GetParam().file_system) == "FAT32"; }

  // Copies the partition out of the image file with dd, leaving the driver
  // mounted (no release, no flush), as an outside reader would see it now.
  std::string raw_copy(const std::string& name) {
    std::string out = disk_->dir.file(name);
    const auto& v = disk_->volume(0);
    auto r = fstest::Run("dd if=" + Quote(disk_->image()) + " of=" + Quote(out) + " bs=1M skip=" +
                         std::to_string(v.offset >> 20) + " count=" + std::to_string(v.length >> 20) + " status=none");
    EXPECT_EQ(r.status, 0) << r.output;
    return out;
  }

  // The file's bytes as the independent tool reads them from a raw copy.
  std::vector<uint8_t> tool_read(const std::string& image, const std::string& name) {
    std::string out = disk_->dir.file("tool.out");
    std::remove(out.c_str());
    std::string command = fat() ? "mcopy -n -i " + Quote(image) + " " + Quote("::/" + name) + " " + Quote(out)
                                : "ntfscat " + Quote(image) + " " + Quote(name) + " > " + Quote(out);
    auto r = fstest::Run(command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
    return fstest::ReadHostFile(out);
  }

  // The independent checker on a raw copy: fsck.fat -n or ntfsfix -n.
  void expect_clean(const std::string& image) {
    auto r = fstest::Run((fat() ? "fsck.fat -n " : "ntfsfix -n ") + Quote(image));
    EXPECT_EQ(r.status, 0) << r.output;
  }

  HANDLE create(const char16_t* path, DWORD disposition, DWORD flags = 0) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, flags, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    return h;
  }

  std::unique_ptr<SimulatedDisk> disk_;
  std::shared_ptr<CountingDevice> counter_;
};

TEST_P(WriteBack, ClosedFileIsInTheImageWithoutADeviceFlush) {
  // Several clusters, grown by several writes, so the FAT chain and the size
  // in the entry (or the data runs and size in the inode) change after the
  // first write; a file that is only partly in the image shows.
  auto data = fstest::Pattern(300000, 11);
  HANDLE h = create(u"W:\\closed.bin", CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  for (size_t at = 0; at < data.size(); at += 70000) {
    DWORD n = static_cast<DWORD>(std::min<size_t>(70000, data.size() - at)), done = 0;
    ASSERT_TRUE(WriteFile(h, data.data() + at, n, &done, nullptr)) << GetLastError();
  }
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(counter_->flushes, 0) << "closing a handle must not sync the image";

  std::string image = raw_copy("closed.img");
  EXPECT_EQ(tool_read(image, "closed.bin"), data);
  expect_clean(image);

  // Shrinking and closing again: the freed clusters are back in the image too.
  h = create(u"W:\\closed.bin", OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_NE(SetFilePointer(h, 1000, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(SetEndOfFile(h)) << GetLastError();
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(counter_->flushes, 0);
  image = raw_copy("shrunk.img");
  EXPECT_EQ(tool_read(image, "closed.bin"), std::vector<uint8_t>(data.begin(), data.begin() + 1000));
  expect_clean(image);
}

TEST_P(WriteBack, FlushFileBuffersAndWriteThroughSyncTheDevice) {
  auto data = fstest::Pattern(9000, 12);
  DWORD done = 0;
  HANDLE h = create(u"W:\\flushed.bin", CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr));
  EXPECT_EQ(counter_->flushes, 0) << "a plain write does not sync";
  ASSERT_TRUE(FlushFileBuffers(h)) << GetLastError();
  EXPECT_GE(counter_->flushes, 1) << "FlushFileBuffers must reach the device";
  // Still open: what FlushFileBuffers wrote is already a whole file in the image.
  EXPECT_EQ(tool_read(raw_copy("flushed.img"), "flushed.bin"), data);
  ASSERT_TRUE(CloseHandle(h));

  counter_->flushes = 0;
  h = create(u"W:\\through.bin", CREATE_NEW, FILE_FLAG_WRITE_THROUGH);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr));
  EXPECT_GE(counter_->flushes, 1) << "a write-through handle syncs every write";
  EXPECT_EQ(tool_read(raw_copy("through.img"), "through.bin"), data);
  CloseHandle(h);
}

TEST_P(WriteBack, CopyFileLeavesTheCopyInTheImageWithoutAFlush) {
  auto data = fstest::Pattern(50000, 13);
  HANDLE h = create(u"W:\\source.bin", CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr));
  ASSERT_TRUE(CloseHandle(h));
  ASSERT_TRUE(CopyFileW(u"W:\\source.bin", u"W:\\copy.bin", TRUE)) << GetLastError();
  EXPECT_EQ(counter_->flushes, 0);
  std::string image = raw_copy("copy.img");
  EXPECT_EQ(tool_read(image, "copy.bin"), data);
  expect_clean(image);
}

// The C streams write through to the file as they go: fflush hands nothing
// over and, like the C library's, does not sync the disk; fclose writes back.
TEST_P(WriteBack, StreamFlushAndCloseDoNotSync) {
  auto data = fstest::Pattern(20000, 14);
  CFILE* f = _wfopen(u"W:\\stream.bin", u"wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
  EXPECT_EQ(fflush(f), 0);
  EXPECT_EQ(fclose(f), 0);
  EXPECT_EQ(counter_->flushes, 0);
  std::string image = raw_copy("stream.img");
  EXPECT_EQ(tool_read(image, "stream.bin"), data);
  expect_clean(image);
}

TEST_P(WriteBack, ReleasingTheDriverStillSyncs) {
  HANDLE h = create(u"W:\\released.bin", CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(counter_->flushes, 0);
  // A raw access to the volume's range releases the driver, which flushes.
  platform::storage::NotifyRawAccess(disk_->volume(0).disk_number, disk_->volume(0).offset, 512,
                                     platform::storage::RawAccess::Read);
  EXPECT_GE(counter_->flushes, 1);
}

INSTANTIATE_TEST_SUITE_P(Volumes, WriteBack, ::testing::Values(Case{"Fat32", "FAT32"}, Case{"Ntfs", "NTFS"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
