// Driver behaviour beyond the interop round trips: error answers, a volume
// inside a partition window, full volumes, gaps, open files across renames,
// FSInfo, and the date conversion.
#include <gtest/gtest.h>

#include <cstring>

#include "fat_fixture.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/fat/fat_time.h"

using namespace fat_test;
using platform::fs::FileInfo;
using platform::fs::VolumeInfo;

namespace {

TEST(FatDriver, ErrorAnswers) {
  FatImage image(16, 512, 32768);
  ASSERT_TRUE(image.ok());
  auto v = image.mount();
  ASSERT_TRUE(v);
  ASSERT_EQ(v->create_folder(P({u"Dir"})), 0u);
  ASSERT_EQ(WriteFile(*v, P({u"Dir", u"file.txt"}), Pattern(10, 1)), 0u);
  ASSERT_EQ(v->create_file(P({u"ro.txt"}), FILE_ATTRIBUTE_READONLY), 0u);
  std::unique_ptr<platform::fs::OpenFile> f;
  std::vector<FileInfo> list;
  FileInfo info;
  struct Row {
    const char* what;
    DWORD got;
    DWORD want;
  } rows[] = {
      {"create over a file", v->create_file(P({u"Dir", u"FILE.TXT"}), 0), ERROR_FILE_EXISTS},
      {"create folder over a folder", v->create_folder(P({u"dir"})), ERROR_ALREADY_EXISTS},
      {"create in a missing folder", v->create_file(P({u"Nope", u"x"}), 0), ERROR_PATH_NOT_FOUND},
      {"create below a file", v->create_file(P({u"ro.txt", u"x"}), 0), ERROR_PATH_NOT_FOUND},
      {"create with a bad name", v->create_file(P({u"a?b"}), 0), ERROR_INVALID_NAME},
      {"stat a missing file", v->stat(P({u"Dir", u"missing"}), &info), ERROR_FILE_NOT_FOUND},
      {"list a file", v->list(P({u"ro.txt"}), &list), ERROR_DIRECTORY},
      {"list a missing folder", v->list(P({u"Nope"}), &list), ERROR_PATH_NOT_FOUND},
      {"open read-only file for writing", v->open(P({u"ro.txt"}), true, &f), ERROR_ACCESS_DENIED},
      {"open a folder for writing", v->open(P({u"Dir"}), true, &f), ERROR_ACCESS_DENIED},
      {"remove a read-only file", v->remove(P({u"ro.txt"})), ERROR_ACCESS_DENIED},
      {"remove a full folder", v->remove(P({u"Dir"})), ERROR_DIR_NOT_EMPTY},
      {"remove the root", v->remove({}), ERROR_ACCESS_DENIED},
      {"rename onto a file", v->rename(P({u"ro.txt"}), P({u"Dir", u"file.txt"})), ERROR_ALREADY_EXISTS},
      {"rename a missing file", v->rename(P({u"gone"}), P({u"x"})), ERROR_FILE_NOT_FOUND},
      {"label with a bad character", v->set_label(u"A*B"), ERROR_INVALID_NAME},
      {"label too long", v->set_label(u"TWELVE CHARS"), ERROR_INVALID_NAME},
  };
  for (auto& r : rows) EXPECT_EQ(r.got, r.want) << r.what;
  // A file opened for reading refuses writes; removing an open file is refused.
  ASSERT_EQ(v->open(P({u"Dir", u"file.txt"}), false, &f), 0u);
  EXPECT_EQ(f->write(0, "x", 1), uint32_t(ERROR_ACCESS_DENIED));
  EXPECT_EQ(f->set_size(0), uint32_t(ERROR_ACCESS_DENIED));
  EXPECT_EQ(v->remove(P({u"Dir", u"file.txt"})), uint32_t(ERROR_SHARING_VIOLATION));
  f.reset();
  EXPECT_EQ(v->remove(P({u"Dir", u"file.txt"})), 0u);
  EXPECT_EQ(v->remove(P({u"Dir"})), 0u);
  ASSERT_EQ(v->flush(), 0u);
  EXPECT_EQ(image.fsck().status, 0);
}

TEST(FatDriver, ProbeTellsTheKindByClusterCount) {
  struct Row {
    int fat_bits;
    uint32_t sector;
    uint64_t kib;
    const char* blkid_version;  // what blkid reads from the same image
  } rows[] = {
      {12, 512, 4096, "FAT12"},  {16, 512, 32768, "FAT16"},  {32, 512, 65536, "FAT32"},
      {12, 4096, 8192, "FAT12"}, {16, 4096, 65536, "FAT16"}, {32, 4096, 307200, "FAT32"},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.blkid_version + std::string(" ") + std::to_string(r.sector));
    FatImage image(r.fat_bits, r.sector, r.kib);
    ASSERT_TRUE(image.ok());
    CommandResult b = Shell("blkid -p -o value -s VERSION " + Quote(image.path()));
    EXPECT_EQ(b.output, std::string(r.blkid_version) + "\n");
    platform::fs::fat::FatKind kind;
    ASSERT_EQ(platform::fs::fat::Probe(*image.device(), &kind), 0u);
    EXPECT_EQ(int(kind), r.fat_bits);
    VolumeInfo vi;
    auto v = image.mount();
    ASSERT_TRUE(v);
    ASSERT_EQ(v->volume_info(&vi), 0u);
    EXPECT_EQ(vi.bytes_per_sector, r.sector);
  }
  // A FAT32 layout with fewer clusters than FAT32 needs is not a volume the platform mounts.
  FatImage small32(32, 4096, 40960);
  ASSERT_TRUE(small32.ok());
  platform::fs::fat::FatKind kind;
  EXPECT_EQ(platform::fs::fat::Probe(*small32.device(), &kind), uint32_t(ERROR_UNRECOGNIZED_VOLUME));
}

TEST(FatDriver, VolumeInsidePartitionWindow) {
  for (uint32_t sector : {512u, 4096u}) {
    SCOPED_TRACE(sector);
    const uint64_t offset = 1 << 20;
    FatImage image(32, sector, sector == 512 ? 65536 : 307200, offset);
    ASSERT_TRUE(image.ok());
    std::vector<uint8_t> before = image.raw();
    {
      auto v = image.mount();
      ASSERT_TRUE(v);
      ASSERT_EQ(v->create_folder(P({u"EFI"})), 0u);
      ASSERT_EQ(v->create_folder(P({u"EFI", u"Microsoft"})), 0u);
      ASSERT_EQ(WriteFile(*v, P({u"EFI", u"Microsoft", u"BCD"}), Pattern(100000, 3)), 0u);
      ASSERT_EQ(v->flush(), 0u);
    }
    CommandResult r = image.mtools_read("/EFI/Microsoft/BCD");
    std::vector<uint8_t> want = Pattern(100000, 3);
    EXPECT_TRUE(Bytes(r.output) == want);
    EXPECT_EQ(image.fsck().status, 0);
    // Nothing outside the window changed.
    std::vector<uint8_t> after = image.raw();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + offset, after.begin()));
    uint64_t end = offset + image.volume_bytes();
    EXPECT_TRUE(std::equal(before.begin() + end, before.end(), after.begin() + end));
  }
}

TEST(FatDriver, FullVolumeFailsCleanly) {
  FatImage image(12, 512, 1024);
  ASSERT_TRUE(image.ok());
  auto v = image.mount();
  ASSERT_TRUE(v);
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  ASSERT_EQ(WriteFile(*v, P({u"fits.bin"}), Pattern(1000, 1)), 0u);
  ASSERT_EQ(v->create_file(P({u"too big.bin"}), 0), 0u);
  std::unique_ptr<platform::fs::OpenFile> f;
  ASSERT_EQ(v->open(P({u"too big.bin"}), true, &f), 0u);
  std::vector<uint8_t> data = Pattern(size_t(vi.free_clusters) * vi.bytes_per_cluster, 2);
  EXPECT_EQ(f->write(0, data.data(), data.size()), uint32_t(ERROR_DISK_FULL));
  EXPECT_EQ(f->size(), 0u);
  // What does fit, fits exactly.
  ASSERT_EQ(v->volume_info(&vi), 0u);
  size_t fit = size_t(vi.free_clusters) * vi.bytes_per_cluster;
  EXPECT_EQ(f->write(0, data.data(), fit), 0u);
  EXPECT_EQ(f->write(fit, data.data(), 1), uint32_t(ERROR_DISK_FULL));
  f.reset();
  ASSERT_EQ(v->volume_info(&vi), 0u);
  EXPECT_EQ(vi.free_clusters, 0u);
  ASSERT_EQ(v->flush(), 0u);
  EXPECT_EQ(image.fsck().status, 0) << image.fsck().output;
  // The fixed FAT12 root holds a bounded number of entries.
  DWORD last = 0;
  for (int i = 0; i < 600 && last == 0; ++i) last = v->create_file({platform::to_utf16("F" + std::to_string(i))}, 0);
  EXPECT_EQ(last, uint32_t(ERROR_DISK_FULL));
  ASSERT_EQ(v->flush(), 0u);
  EXPECT_EQ(image.fsck().status, 0);
}

TEST(FatDriver, ReadOnlyDeviceReadsAndRefusesWrites) {
  FatImage image(32, 512, 65536);
  ASSERT_TRUE(image.ok());
  {
    auto v = image.mount();
    ASSERT_TRUE(v);
    ASSERT_EQ(WriteFile(*v, P({u"kept.txt"}), Pattern(3000, 4)), 0u);
  }
  std::vector<uint8_t> before = image.raw();
  std::shared_ptr<platform::BlockDevice> ro = platform::FileBlockDevice::open(image.path(), 512, true);
  ASSERT_TRUE(ro);
  DWORD err;
  auto v = platform::fs::fat::Mount(ro, FixedClock(), &err);
  ASSERT_TRUE(v) << err;
  std::vector<uint8_t> got;
  ASSERT_EQ(ReadFile(*v, P({u"kept.txt"}), &got), 0u);
  EXPECT_EQ(got, Pattern(3000, 4));
  EXPECT_EQ(v->flush(), 0u);  // nothing changed, nothing to write
  EXPECT_NE(v->create_file(P({u"new.txt"}), 0), 0u);
  EXPECT_NE(v->set_attributes(P({u"kept.txt"}), FILE_ATTRIBUTE_HIDDEN), 0u);
  v.reset();
  EXPECT_TRUE(image.raw() == before);
}

TEST(FatDriver, WritesPastTheEndReadAsZerosInTheGap) {
  FatImage image(16, 4096, 65536);
  ASSERT_TRUE(image.ok());
  auto v = image.mount();
  ASSERT_TRUE(v);
  // Stale bytes in the clusters the file will take must not show through.
  ASSERT_EQ(WriteFile(*v, P({u"stale.bin"}), Pattern(40000, 9)), 0u);
  ASSERT_EQ(v->remove(P({u"stale.bin"})), 0u);
  ASSERT_EQ(v->create_file(P({u"gap.bin"}), 0), 0u);
  std::unique_ptr<platform::fs::OpenFile> f;
  ASSERT_EQ(v->open(P({u"gap.bin"}), true, &f), 0u);
  ASSERT_EQ(f->write(10, "head", 4), 0u);
  ASSERT_EQ(f->write(30000, "tail", 4), 0u);
  std::vector<uint8_t> want(30004, 0);
  std::memcpy(&want[10], "head", 4);
  std::memcpy(&want[30000], "tail", 4);
  std::vector<uint8_t> got(want.size());
  size_t done = 0;
  ASSERT_EQ(f->read(0, got.data(), got.size() + 100, &done), 0u);
  EXPECT_EQ(done, want.size());
  EXPECT_EQ(got, want);
  ASSERT_EQ(f->read(want.size(), got.data(), 10, &done), 0u);
  EXPECT_EQ(done, 0u);
  ASSERT_EQ(v->flush(), 0u);
  CommandResult r = image.mtools_read("/gap.bin");
  EXPECT_EQ(Bytes(r.output), want);
}

TEST(FatDriver, OpenFileFollowsRenameAndSharesState) {
  FatImage image(32, 512, 65536);
  ASSERT_TRUE(image.ok());
  auto v = image.mount();
  ASSERT_TRUE(v);
  ASSERT_EQ(v->create_folder(P({u"Elsewhere"})), 0u);
  ASSERT_EQ(v->create_file(P({u"moving.txt"}), 0), 0u);
  std::unique_ptr<platform::fs::OpenFile> writer, reader;
  ASSERT_EQ(v->open(P({u"moving.txt"}), true, &writer), 0u);
  ASSERT_EQ(writer->write(0, "first ", 6), 0u);
  ASSERT_EQ(v->rename(P({u"moving.txt"}), P({u"Elsewhere", u"Moved Name.txt"})), 0u);
  ASSERT_EQ(writer->write(6, "second", 6), 0u);
  ASSERT_EQ(v->open(P({u"Elsewhere", u"moved name.txt"}), false, &reader), 0u);
  EXPECT_EQ(reader->size(), 12u);
  FileInfo info;
  ASSERT_EQ(v->stat(P({u"Elsewhere", u"Moved Name.txt"}), &info), 0u);
  EXPECT_EQ(info.size, 12u);
  writer.reset();
  reader.reset();
  // Closed: the folder's own record shows what the file became.
  ASSERT_EQ(v->stat(P({u"Elsewhere", u"Moved Name.txt"}), &info), 0u);
  EXPECT_EQ(info.size, 12u);
  std::vector<FileInfo> list;
  ASSERT_EQ(v->list(P({u"Elsewhere"}), &list), 0u);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].size, 12u);
  EXPECT_EQ(list[0].attributes, FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_EQ(v->flush(), 0u);
  CommandResult r = image.mtools_read("/Elsewhere/Moved Name.txt");
  EXPECT_EQ(r.output, "first second");
  EXPECT_EQ(image.fsck().status, 0);
}

TEST(FatDriver, Fat32FsInfoKeepsTheFreeCount) {
  FatImage image(32, 512, 65536);
  ASSERT_TRUE(image.ok());
  {
    auto v = image.mount();
    ASSERT_TRUE(v);
    ASSERT_EQ(WriteFile(*v, P({u"a.bin"}), Pattern(300000, 1)), 0u);
    ASSERT_EQ(WriteFile(*v, P({u"b.bin"}), Pattern(5000, 2)), 0u);
    ASSERT_EQ(v->remove(P({u"b.bin"})), 0u);
  }  // the driver flushes as it goes away
  std::vector<uint8_t> b = image.raw();
  uint32_t fsinfo_sector = b[48] | (b[49] << 8);
  uint32_t stored_free;
  std::memcpy(&stored_free, &b[fsinfo_sector * 512 + 488], 4);
  CommandResult r = image.fsck();
  EXPECT_EQ(r.status, 0) << r.output;
  uint64_t used, total;
  ASSERT_TRUE(FsckClusters(r, &used, &total));
  EXPECT_EQ(stored_free, total - used);
  auto v = image.mount();
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  EXPECT_EQ(vi.free_clusters, stored_free);
}

TEST(FatDriver, TimesFollowTheCoreClockAndItsBias) {
  // 2031-02-03 04:05:06 UTC on the clock, in a zone two hours east of UTC (bias -120).
  platform::Clock& clock = platform::Clock::instance();
  clock.reset();
  clock.set_wall_clock(135723315060000000ull);
  clock.set_time_zone_bias_minutes(-120);
  FatImage image(16, 512, 32768);
  ASSERT_TRUE(image.ok());
  {
    DWORD err;
    auto v = platform::fs::fat::Mount(image.device(), &err);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->create_file(P({u"stamped.txt"}), 0), 0u);
    FileInfo info;
    ASSERT_EQ(v->stat(P({u"stamped.txt"}), &info), 0u);
    EXPECT_EQ(info.last_write_time, 135723315060000000ull);  // back in UTC
    EXPECT_EQ(info.creation_time, 135723315060000000ull);
  }
  clock.reset();
  auto rows = Mdir(image, "/");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].date, "2031-02-03");
  EXPECT_EQ(rows[0].time, "06:05");  // local time on the volume
}

TEST(FatDriver, StaleFsInfoIsNotTrustedAndIsRepaired) {
  FatImage image(32, 512, 65536);
  ASSERT_TRUE(image.ok());
  std::vector<uint8_t> b = image.raw();
  uint32_t fsinfo_sector = b[48] | (b[49] << 8);
  const uint32_t wrong = 7;
  std::memcpy(&b[fsinfo_sector * 512 + 488], &wrong, 4);
  {
    FILE* f = fopen(image.path().c_str(), "r+b");
    ASSERT_TRUE(f);
    fwrite(b.data(), 1, b.size(), f);
    fclose(f);
  }
  CommandResult before = image.fsck();
  EXPECT_NE(before.status, 0) << "fsck.fat should see the wrong free count";
  auto v = image.mount();
  ASSERT_TRUE(v);
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  uint64_t used = 0, total = 0;
  ASSERT_TRUE(FsckClusters(before, &used, &total));
  EXPECT_EQ(vi.free_clusters, total - used);  // counted from the FAT, not taken from FSInfo
  ASSERT_EQ(WriteFile(*v, P({u"one.bin"}), Pattern(10000, 1)), 0u);
  ASSERT_EQ(v->flush(), 0u);
  CommandResult r = image.fsck();
  EXPECT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(FsckClusters(r, &used, &total));
  b = image.raw();
  uint32_t stored;
  std::memcpy(&stored, &b[fsinfo_sector * 512 + 488], 4);
  EXPECT_EQ(stored, total - used);
}

TEST(FatTime, ConversionTable) {
  using platform::fs::fat::DosTime;
  using platform::fs::fat::FromDosTime;
  using platform::fs::fat::ToDosTime;
  struct Row {
    uint64_t filetime;  // computed independently from the calendar date
    int32_t offset_minutes;
    uint16_t date, time;
    uint8_t hundredths;
  } rows[] = {
      // 2024-05-17 13:45:26.37 UTC
      {133604271263700000ull, 0, uint16_t((44 << 9) | (5 << 5) | 17), uint16_t((13 << 11) | (45 << 5) | 13), 37},
      // the same instant two hours east of UTC: 15:45
      {133604271263700000ull, 120, uint16_t((44 << 9) | (5 << 5) | 17), uint16_t((15 << 11) | (45 << 5) | 13), 37},
      // 1980-01-01 00:00:00 UTC, the first FAT date
      {119600064000000000ull, 0, uint16_t((0 << 9) | (1 << 5) | 1), 0, 0},
      // 2000-02-29 23:59:58 UTC, a leap day
      {125963423980000000ull, 0, uint16_t((20 << 9) | (2 << 5) | 29), uint16_t((23 << 11) | (59 << 5) | 29), 0},
  };
  for (auto& r : rows) {
    DosTime t = ToDosTime(r.filetime, r.offset_minutes);
    EXPECT_EQ(t.date, r.date) << r.filetime;
    EXPECT_EQ(t.time, r.time) << r.filetime;
    EXPECT_EQ(t.hundredths, r.hundredths) << r.filetime;
    EXPECT_EQ(FromDosTime(t, r.offset_minutes), r.filetime);
  }
  // Before 1980 clamps to the first FAT date; a zero or impossible date is "not kept".
  EXPECT_EQ(ToDosTime(0, 0).date, uint16_t((0 << 9) | (1 << 5) | 1));
  EXPECT_EQ(FromDosTime({0, 0, 0}, 0), 0u);
  EXPECT_EQ(FromDosTime({uint16_t((20 << 9) | (2 << 5) | 30), 0, 0}, 0), 0u);
  EXPECT_EQ(FromDosTime({uint16_t((20 << 9) | (13 << 5) | 1), 0, 0}, 0), 0u);
}

}  // namespace
