// The disk access layer on a simulated PC: device paths by number, transfers
// in 512-byte units on 512- and 4096-byte disks, the I/O error counter under
// injected faults, geometry, and the handle bookkeeping of the current disk.
#include "disk/disk_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "disk/raw_volume_io.h"
#include "fixture_images.h"
#include "platform/core/clock.h"
#include "platform/core/block_device.h"
#include "platform/core/kobject.h"
#include "platform/storage/device.h"
#include "platform/storage/volume_table.h"
#include "platform/ui/headless_driver.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;

// Every 512-byte unit of the image starts with its own index, so a buffer
// tells which units a transfer read.
void TagUnits(SimulatedPc& pc, int n, uint64_t units) {
  std::vector<uint8_t> bytes(units * 512, 0);
  for (uint64_t u = 0; u < units; ++u) {
    memcpy(&bytes[u * 512], &u, sizeof u);
    memset(&bytes[u * 512 + 8], static_cast<int>(0x40 + u % 64), 504);
  }
  pc.WriteBytes(n, 0, bytes);
}

void ResetContext() { DiskContext = DiskContextRecord{}; }

class DiskAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetContext(); }
  void TearDown() override {
    if (DiskContext.currentDiskOpen) CloseCurrentDisk();
  }
  SimulatedPc pc;
};

TEST_F(DiskAccessTest, DiskNumbersPatchTheSingleDigitOfTheDevicePath) {
  for (int n : {0, 3, 9, 10, 12}) pc.AddDisk(DiskSpec{.number = n, .sizeBytes = 8 << 20});
  pc.Boot();
  struct Case {
    int disk;
    bool opens;
  } cases[] = {{0, true}, {3, true}, {9, true}, {10, false}, {12, false}, {4, false}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.disk);
    HANDLE h = OpenDiskReadWrite(c.disk);
    EXPECT_EQ(h != nullptr, c.opens);
    EXPECT_EQ(DiskContext.currentDisk, c.disk) << "the read-write opener makes the disk current even on failure";
    EXPECT_EQ(DiskContext.currentDiskHandle, h);
    if (h) CloseCurrentDisk();
    HANDLE other = OpenDiskHandle(c.disk);
    EXPECT_EQ(other != nullptr, c.opens);
    if (other) {
      EXPECT_TRUE(CloseDeviceHandle(other));
    }
  }
  EXPECT_EQ(DiskContext.openDiskCount, 0);
}

TEST_F(DiskAccessTest, NegativeDiskShowsNoDriveAndFails) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 << 20});
  pc.Boot();
  std::ostringstream log;
  platform::ui::Script script;
  script.answer("ok");
  HANDLE h = reinterpret_cast<HANDLE>(1);
  {
    platform::ui::DriverOptions options;
    options.log = &log;
    platform::ui::HeadlessSession session(script, options);
    h = OpenDiskReadWrite(-1);
  }
  EXPECT_EQ(h, nullptr);
  EXPECT_NE(log.str().find("open: No Drive"), std::string::npos) << log.str();
}

TEST_F(DiskAccessTest, GeometryGivesTheCylinderBasedSizeAndCapsSectorsPerTrack) {
  struct Case {
    uint32_t sector;
    uint64_t cylinders;
    uint32_t heads, spt;
    uint64_t size;
    int32_t multiplier, storedSpt;
  } cases[] = {
      {512, 1000, 255, 63, 16065000, 1, 63},
      {4096, 100, 16, 63, 100ull * 16 * 63 * 8, 8, 63},
      {512, 7, 2, 17, 7 * 2 * 17, 1, 17},
  };
  int n = 0;
  for (auto& c : cases) {
    pc.AddDisk(DiskSpec{.number = n, .sizeBytes = c.cylinders * c.heads * c.spt * c.sector + (1 << 20),
                        .sectorSize = c.sector, .cylinders = c.cylinders, .tracksPerCylinder = c.heads,
                        .sectorsPerTrack = c.spt});
    ++n;
  }
  pc.Boot();
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    auto& c = cases[i];
    EXPECT_EQ(ReadDiskGeometry(i), c.size);
    EXPECT_EQ(DiskContext.sectorMultiplier[i], c.multiplier);
    EXPECT_EQ(DiskContext.sectorsPerTrack[i], c.storedSpt);
    EXPECT_EQ(DiskContext.lastSectorsPerTrack, c.storedSpt);
    EXPECT_EQ(DiskContext.currentDisk, i);
    EXPECT_FALSE(DiskContext.currentDiskOpen) << "geometry closes the disk";
  }
  EXPECT_EQ(DiskContext.openDiskCount, 0);
  // A disk that is not there: 0, and the tables keep what they held.
  DiskContext.sectorMultiplier[7] = 5;
  EXPECT_EQ(ReadDiskGeometry(7), 0u);
  EXPECT_EQ(DiskContext.sectorMultiplier[7], 5);
}

// machine.ini refuses more than 63 sectors per track, so a disk that reports
// 255 comes through the device layer's disk lookup.
TEST(DiskGeometryTest, ReportedSectorsPerTrackAboveSixtyThreeAreCappedButStillSizeTheDisk) {
  DiskContext = DiskContextRecord{};
  platform::machine::DiskConfig config;
  config.number = 0;
  config.sector_size = 512;
  config.cylinders = 1000;
  config.tracks_per_cylinder = 255;
  config.sectors_per_track = 255;
  auto disk = std::make_shared<platform::machine::Disk>(
      config, std::make_shared<platform::MemoryBlockDevice>(1 << 20, 512), platform::machine::SmartPages{}, false);
  platform::storage::SetDiskLookup([disk](int n) { return n == 0 ? disk : nullptr; });
  EXPECT_EQ(ReadDiskGeometry(0), 1000ull * 255 * 255);
  EXPECT_EQ(DiskContext.sectorsPerTrack[0], 63);
  EXPECT_EQ(DiskContext.lastSectorsPerTrack, 63);
  EXPECT_EQ(DiskContext.sectorMultiplier[0], 1);
  platform::storage::SetDiskLookup(nullptr);
}

TEST_F(DiskAccessTest, TransfersCountFiveTwelveByteUnitsRoundedToNativeSectors) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20, .sectorSize = 512});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 1 << 20, .sectorSize = 4096});
  TagUnits(pc, 0, 64);
  TagUnits(pc, 1, 64);
  pc.Boot();
  ReadDiskGeometry(0);
  ReadDiskGeometry(1);
  struct Case {
    int disk;
    uint64_t position;
    int32_t count;
    uint64_t firstUnit;  // 512-byte unit of the image the transfer starts at
    size_t bytes;
  } cases[] = {
      {1, 1, 1, 8, 4096}, {1, 1, 9, 8, 8192}, {1, 0, 8, 0, 4096}, {0, 5, 3, 5, 1536}, {0, 0, 1, 0, 512},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "disk " << c.disk << " pos " << c.position << " count " << c.count);
    ASSERT_NE(OpenDiskRead(c.disk), nullptr);
    std::vector<uint8_t> buffer(16384, 0xCC);
    EXPECT_EQ(ReadDiskSectors(buffer.data(), c.position, c.count), 0);
    auto expected = pc.ReadBytes(c.disk, c.firstUnit * 512, c.bytes);
    EXPECT_EQ(0, memcmp(buffer.data(), expected.data(), c.bytes));
    EXPECT_EQ(buffer[c.bytes], 0xCC) << "nothing beyond the rounded count";
    CloseCurrentDisk();
  }
  EXPECT_EQ(DiskContext.ioErrorCount, 0);

  // Writing: the same addressing, checked against the image file.
  ASSERT_NE(OpenDiskReadWrite(1), nullptr);
  std::vector<uint8_t> data(4096, 0x5A);
  WriteDiskSectors(data.data(), 3, 1);  // native sector 3 = byte 12288, one whole 4096-byte sector
  CloseCurrentDisk();
  EXPECT_EQ(pc.ReadBytes(1, 12288, 4096), data);
  EXPECT_NE(pc.ReadBytes(1, 16384, 1)[0], 0x5A);
}

TEST_F(DiskAccessTest, DiskWithoutGeometryReadsAndWritesNothing) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20});
  TagUnits(pc, 0, 8);
  pc.Boot();
  ASSERT_NE(OpenDiskReadWrite(0), nullptr);
  std::vector<uint8_t> buffer(512, 0xCC);
  EXPECT_EQ(ReadDiskSectors(buffer.data(), 0, 1), 0);
  EXPECT_EQ(buffer, std::vector<uint8_t>(512, 0xCC));
  std::vector<uint8_t> zeros(512, 0);
  WriteDiskSectors(zeros.data(), 0, 1);
  EXPECT_NE(pc.ReadBytes(0, 8, 1)[0], 0) << "nothing was written";
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
}

TEST_F(DiskAccessTest, FailedTransfersRaiseTheErrorCounter) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20, .sectorSize = 512});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 1 << 20, .sectorSize = 4096});
  pc.SetIni("disk 0", "failing_writes", "100-110");
  pc.SetIni("disk 0", "unreadable", "200-201");
  pc.SetIni("disk 1", "failing_writes", "10");
  pc.Boot();
  ReadDiskGeometry(0);
  ReadDiskGeometry(1);
  std::vector<uint8_t> buffer(8192, 0);
  struct Case {
    const char* what;
    int disk;
    bool write;
    uint64_t position;
    int32_t count;
    int32_t result;  // reads only
    int32_t added;
  } cases[] = {
      {"write that keeps failing", 0, true, 105, 1, 0, 5},
      {"write on a 4096-byte disk that keeps failing", 1, true, 10, 1, 0, 5},
      {"write that succeeds", 0, true, 120, 2, 0, 0},
      {"unreadable sector", 0, false, 200, 1, -1, 1},
      {"read past the end (the platform reports success with no bytes)", 0, false, 4096, 1, -1, 1},
      {"read on a 4096-byte disk past the end", 1, false, 256, 1, -1, 1},
      {"read that runs over the end (the platform brings the first half)", 0, false, 2047, 2, -1, 1},
      {"read on a 4096-byte disk that runs over the end", 1, false, 255, 9, -1, 1},
      {"write that runs over the end (refused whole, not tried again)", 0, true, 2047, 2, 0, 1},
      {"good read", 0, false, 202, 4, 0, 0},
      {"count not positive", 0, false, 0, -3, -1, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(OpenDiskReadWrite(c.disk), nullptr);
    int32_t before = DiskContext.ioErrorCount;
    if (c.write)
      WriteDiskSectors(buffer.data(), c.position, c.count);
    else
      EXPECT_EQ(ReadDiskSectors(buffer.data(), c.position, c.count), c.result);
    EXPECT_EQ(DiskContext.ioErrorCount - before, c.added);
    CloseCurrentDisk();
  }
}

TEST_F(DiskAccessTest, ByteTransfersThatRunOverTheEndFailAndWriteNothing) {
  constexpr uint64_t kSize = 1 << 20;
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = kSize, .sectorSize = 512});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = kSize, .sectorSize = 4096});
  TagUnits(pc, 0, kSize / 512);
  TagUnits(pc, 1, kSize / 512);
  pc.Boot();
  for (int disk : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "disk " << disk);
    ReadDiskGeometry(disk);
    ASSERT_NE(OpenDiskReadWrite(disk), nullptr);
    ASSERT_TRUE(EnsureSectorMultiplier(disk));
    std::vector<uint8_t> data(1024, 0xEE), back(1024, 0);
    auto tail = pc.ReadBytes(disk, kSize - 8192, 8192);
    EXPECT_FALSE(WriteCurrentDiskBytes(kSize - 512, data.data(), data.size()));
    EXPECT_EQ(pc.ReadBytes(disk, kSize - 8192, 8192), tail) << "nothing of it was written";
    EXPECT_FALSE(ReadCurrentDiskBytes(kSize - 512, back.data(), back.size()));
    // The same transfer ending at the last byte goes through.
    EXPECT_TRUE(WriteCurrentDiskBytes(kSize - 1024, data.data(), data.size()));
    EXPECT_TRUE(ReadCurrentDiskBytes(kSize - 1024, back.data(), back.size()));
    EXPECT_EQ(back, data);
    EXPECT_EQ(pc.ReadBytes(disk, kSize - 1024, 1024), data);
    CloseCurrentDisk();
  }
}

TEST_F(DiskAccessTest, ReadOnlyOpenTriesThreeTimesTwoHundredMillisecondsApart) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 1 << 20});
  pc.SetIni("disk 1", "open_fails", "yes");
  pc.Boot();
  uint64_t before = platform::Clock::instance().now_ms();
  EXPECT_EQ(OpenDiskRead(1), nullptr);
  EXPECT_EQ(platform::Clock::instance().now_ms() - before, 600u);
  before = platform::Clock::instance().now_ms();
  EXPECT_NE(OpenDiskRead(0), nullptr);
  EXPECT_EQ(platform::Clock::instance().now_ms() - before, 0u);
  CloseCurrentDisk();
}

TEST_F(DiskAccessTest, FailedOpensCloseTheHandleTheyReplace) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20});
  pc.Boot();
  struct Case {
    const char* what;
    HANDLE (*open)(int32_t);
    int32_t currentAfter;  // the read-only opener keeps the current disk, the other takes the number
  } cases[] = {{"read-only", OpenDiskRead, 0}, {"read-write", OpenDiskReadWrite, 5}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    DiskContext = DiskContextRecord{};
    HANDLE first = c.open(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(c.open(5), nullptr);
    EXPECT_EQ(DiskContext.currentDisk, c.currentAfter);
    EXPECT_EQ(DiskContext.currentDiskHandle, nullptr);
    EXPECT_FALSE(CloseHandle(first)) << "the replaced handle was closed, not leaked";
    EXPECT_EQ(DiskContext.openDiskCount, 1);
    EXPECT_FALSE(CloseCurrentDisk()) << "a failed open's 0 is not closed";
  }
}

TEST_F(DiskAccessTest, ClosingTheCurrentDiskTwiceClosesItOnce) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20});
  TagUnits(pc, 0, 4);
  pc.Boot();
  HANDLE h = OpenDiskRead(0);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(CloseCurrentDisk());
  EXPECT_EQ(DiskContext.currentDiskHandle, h) << "the field keeps the closed value";
  HANDLE other = OpenDiskHandle(0);  // may be given the same handle value again
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(CloseCurrentDisk());
  std::vector<uint8_t> buffer(512);
  EXPECT_EQ(ReadSectorsAt(other, buffer.data(), 2, 1), 512u) << "the second close left the new handle alone";
  EXPECT_EQ(buffer, pc.ReadBytes(0, 1024, 512));
  CloseDeviceHandle(other);
}

TEST_F(DiskAccessTest, SectorHelpersUseNoMultiplierAndSignExtendTheirPositions) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1 << 20, .sectorSize = 4096});
  TagUnits(pc, 0, 64);
  pc.Boot();
  HANDLE h = OpenDiskHandle(0);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(ReadSectorsAt(h, buffer.data(), 8, 8), 4096u);
  EXPECT_EQ(buffer, pc.ReadBytes(0, 4096, 4096));
  EXPECT_EQ(ReadSectorsAt(h, buffer.data(), 9, 8), 0u) << "an unbuffered handle refuses a misaligned offset";

  struct Case {
    int32_t sector, offset;
    int64_t position;  // where the pointer lands, -1 when the move is refused
    bool narrow;
  } cases[] = {
      {8, 0, 4096, false},       {-1, 4608, 4096, false},      {4, 2048, 4096, false},
      {0x400000, 0, 1ll << 31, false},  // 2 GiB: fine in 64 bits
      {0x400000, 0, -1, true},          // the 32-bit form wraps to a negative position
      {16, 0, 8192, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sector << " + " << c.offset << (c.narrow ? " narrow" : ""));
    LARGE_INTEGER zero{}, at{};
    SetFilePointerEx(h, zero, nullptr, FILE_BEGIN);
    EXPECT_EQ(c.narrow ? SeekSector32(h, c.sector, c.offset) : SeekSector(h, c.sector, c.offset), 0);
    SetFilePointerEx(h, zero, &at, FILE_CURRENT);
    EXPECT_EQ(at.QuadPart, c.position < 0 ? 0 : c.position);
  }
  EXPECT_EQ(CloseFileHandle(h), 0);
}

TEST_F(DiskAccessTest, FileHelpersOpenCreateAndTransfer) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20});
  pc.WriteMbr(0, {{.start = 2048, .count = 100 << 11, .mbrType = 0x0C, .fs = "fat32",
                   .files = {{"/old.txt", "0123456789"}}}});
  pc.Boot();
  struct Case {
    const char* what;
    HANDLE (*open)(LPCWSTR);
    const char16_t* path;
    bool opens;
  } cases[] = {
      {"read", OpenFileRead, u"C:\\old.txt", true},
      {"read a missing file", OpenFileRead, u"C:\\none.txt", false},
      {"read and write", OpenFileReadWrite, u"C:\\old.txt", true},
      {"read and write, share read", OpenFileReadWriteShareRead, u"C:\\old.txt", true},
      {"unbuffered", OpenFileUnbuffered, u"C:\\old.txt", true},
      {"unbuffered, missing", OpenFileUnbuffered, u"C:\\none.txt", false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE h = c.open(c.path);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    if (h != INVALID_HANDLE_VALUE) CloseFileHandle(h);
  }
  // Sharing: while a writer that shares only reading holds the file, a second writer is refused.
  HANDLE exclusive = OpenFileReadWriteShareRead(u"C:\\old.txt");
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFileReadWrite(u"C:\\old.txt"), INVALID_HANDLE_VALUE);
  HANDLE reader = OpenFileRead(u"C:\\old.txt");
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "a reader that shares writing may join";
  if (reader != INVALID_HANDLE_VALUE) CloseFileHandle(reader);
  CloseFileHandle(exclusive);

  // Create always truncates; the bytes reach the image (mtools reads them back).
  HANDLE out = CreateFileForWrite(u"C:\\old.txt");
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WriteFileBytes(out, 3, "abc"), 3u);
  EXPECT_EQ(SeekSector(out, 0, 1), 0);
  char back[8] = {};
  EXPECT_EQ(ReadFileBytes(out, 8, back), 2u);
  EXPECT_EQ(std::string(back), "bc");
  EXPECT_EQ(ReadFileBytes(out, 8, back), 0u) << "end of file";
  CloseFileHandle(out);
  HANDLE fresh = CreateFileForWrite(u"C:\\new.txt");
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WriteFileBytes(fresh, 5, "fresh"), 5u);
  CloseFileHandle(fresh);
  platform::storage::NotifyRawAccess(0, 0, 128ull << 20, platform::storage::RawAccess::Read);  // flush the driver
  std::string volume = pc.ExtractVolume(0, 2048, 100 << 11, "c.fat");
  std::string text;
  EXPECT_EQ(disk_fixture::Shell("mtype -i " + volume + " ::/old.txt", &text), 0);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(disk_fixture::Shell("mtype -i " + volume + " ::/new.txt", &text), 0);
  EXPECT_EQ(text, "fresh");
  EXPECT_EQ(disk_fixture::Shell("fsck.fat -n " + volume), 0);
}

}  // namespace
