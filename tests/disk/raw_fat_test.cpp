// Raw FAT access on volumes made by mkfs.fat and filled by mtools, on disks of
// 512- and 4096-byte sectors: the BCD store found, read and rewritten along
// its cluster chain (checked by fsck.fat and mtype), broken and looping
// chains refused without a write, the path locator's runs against mshowfat,
// deleted entries, and the FAT32 used-cluster map.
#include "disk/raw_fat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/ntfs_reader.h"
#include "fixture_images.h"
#include "platform/core/kobject.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Pattern;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;
using disk_fixture::VolumeFile;

// "image@@offset" for mtools.
std::string At(const std::string& image, uint64_t offset) { return "'" + image + "@@" + std::to_string(offset) + "'"; }

std::string Mtype(const std::string& volumeRef, const std::string& path) {
  std::string out;
  Shell("mtype -i " + volumeRef + " '::" + path + "'", &out);
  return out;
}

// Clusters of a file as mshowfat lists them ("<3-12> <23-31>").
std::vector<uint32_t> ShowFat(const std::string& volumeRef, const std::string& path) {
  std::string out;
  EXPECT_EQ(Shell("mshowfat -i " + volumeRef + " '::" + path + "'", &out), 0) << path;
  std::vector<uint32_t> clusters;
  std::regex run("<(\\d+)(?:-(\\d+))?>");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), run); it != std::sregex_iterator(); ++it) {
    uint32_t a = std::stoul((*it)[1]);
    uint32_t b = (*it)[2].matched ? std::stoul((*it)[2]) : a;
    for (uint32_t c = a; c <= b; ++c) clusters.push_back(c);
  }
  return clusters;
}

struct Geometry {
  uint32_t sectorSize;
  uint64_t diskBytes;
  uint64_t partStart;  // native sectors
  uint64_t partCount;
};

Geometry GeometryFor(uint32_t sectorSize) {
  // FAT32 with one sector per cluster needs 65,525 clusters.
  if (sectorSize == 512) return {512, 64ull << 20, 2048, 100000};
  return {4096, 320ull << 20, 256, 72000};
}

class RawFatTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { DiskContext = DiskContextRecord{}; }
  void TearDown() override {
    if (DiskContext.currentDiskOpen) CloseCurrentDisk();
  }

  // One FAT32 partition on a GPT disk (the EFI system partition's shape).
  void MakeEsp(const std::vector<VolumeFile>& files) {
    g = GeometryFor(GetParam());
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = g.diskBytes, .sectorSize = g.sectorSize});
    Part esp{.start = g.partStart, .count = g.partCount, .gptType = disk_fixture::kGptEsp, .fs = "fat32",
             .label = "ESP", .files = files};
    pc.WriteGpt(0, {esp});
    offset = g.partStart * g.sectorSize;
    volumeRef = At(pc.Image(0), offset);
  }

  std::string Check() {
    std::string out;
    int status = Shell("fsck.fat -n " + pc.ExtractVolume(0, g.partStart, g.partCount, "check.fs") + " 2>&1", &out);
    return status == 0 ? "" : out;
  }

  // Byte offset of the FAT32 entry of `cluster` in the first FAT, from the image start.
  uint64_t FatEntryOffset(uint32_t cluster) {
    auto boot = pc.ReadBytes(0, offset, 512);
    uint32_t bps = boot[11] | boot[12] << 8;
    uint32_t reserved = boot[14] | boot[15] << 8;
    return offset + static_cast<uint64_t>(reserved) * bps + cluster * 4ull;
  }

  SimulatedPc pc;
  Geometry g{};
  uint64_t offset = 0;
  std::string volumeRef;
};

TEST_P(RawFatTest, FindsReadsAndRewritesTheBcdStoreAlongItsChain) {
  std::string store = Pattern(20000, 7);
  // The decoy's data lies first in the data area and holds a perfect
  // directory record "BCD        " at a 32-byte boundary: only real
  // directories may be searched. The log file shares the name BCD.
  std::string decoy(4096, 'x');
  const char fake[32] = {'B', 'C', 'D', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x20, 0, 0, 0, 0, 0, 0, 0, 0,
                         0, 0, 0, 0, 0, 0, 5, 0, 7, 0, 0, 0};
  decoy.replace(64, 32, std::string(fake, 32));
  MakeEsp({{"/DECOY.BIN", decoy},
           {"/EFI/MICROSOFT/BOOT/BCD.LOG", std::string(3000, 'L')},
           {"/EFI/MICROSOFT/BOOT/BCD", store}});
  pc.Boot();

  uint64_t first = 0;
  ASSERT_EQ(LocateBcdOnFat32(0, static_cast<int64_t>(offset), &first), 20000);
  auto clusters = ShowFat(volumeRef, "/EFI/MICROSOFT/BOOT/BCD");
  ASSERT_FALSE(clusters.empty());
  EXPECT_EQ(FatVolume.currentCluster, clusters.front());
  EXPECT_EQ(first, FatVolume.dataStart + (clusters.front() - 2ull) * FatVolume.unitsPerCluster);
  EXPECT_EQ(DiskContext.openDiskCount, 0) << "the disk is closed again";

  std::vector<uint8_t> buffer(20480, 0);
  ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), 20000);
  ASSERT_TRUE(ReadFat32FileByChain(0, static_cast<int64_t>(offset), buffer.data(), 20000));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 20000), store);
  EXPECT_EQ(FatVolume.currentCluster, clusters.back()) << "the walk ends on the file's last cluster";

  std::string edited = Pattern(20000, 99);
  memcpy(buffer.data(), edited.data(), edited.size());
  ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), 20000);
  ASSERT_TRUE(WriteFat32FileByChain(0, static_cast<int64_t>(offset), buffer.data(), 20000));
  EXPECT_EQ(DiskContext.ioErrorCount, 0);

  EXPECT_EQ(Check(), "");
  EXPECT_EQ(Mtype(volumeRef, "/EFI/MICROSOFT/BOOT/BCD"), edited);
  EXPECT_EQ(Mtype(volumeRef, "/EFI/MICROSOFT/BOOT/BCD.LOG"), std::string(3000, 'L'));
  EXPECT_EQ(Mtype(volumeRef, "/DECOY.BIN"), decoy);
}

TEST_P(RawFatTest, FragmentedChainAndPartialUnitsAndDeletedEntries) {
  MakeEsp({{"/KEEP.TXT", "keep"}});
  std::string img = pc.Image(0);
  std::string local = pc.folder() + "/local.bin";
  auto put = [&](const std::string& content, const std::string& name) {
    std::ofstream(local, std::ios::binary | std::ios::trunc) << content;
    ASSERT_EQ(Shell("mcopy -o -i " + volumeRef + " " + local + " '::" + name + "'"), 0);
  };
  uint32_t cluster_bytes = g.sectorSize;  // one sector per cluster
  // An old store, deleted: its entry stays with 0xE5 in front.
  put(std::string(100, 'o'), "/BCD");
  ASSERT_EQ(Shell("mdel -i " + volumeRef + " ::/BCD"), 0);
  put(std::string(cluster_bytes * 6, 'a'), "/HOLE.BIN");
  put(std::string(cluster_bytes * 2, 'b'), "/WALL.BIN");
  auto hole = ShowFat(volumeRef, "/HOLE.BIN");
  ASSERT_EQ(Shell("mdel -i " + volumeRef + " ::/HOLE.BIN"), 0);
  // Point the free-cluster hint of the FSInfo sector at the hole, so the
  // store's chain fills it and continues behind the wall.
  uint32_t hint = hole.front();
  pc.WriteBytes(0, offset + g.sectorSize + 492, std::string(reinterpret_cast<const char*>(&hint), 4));
  std::string store = Pattern(cluster_bytes * 9 + 100, 3);
  put(store, "/BCD");
  auto chain = ShowFat(volumeRef, "/BCD");
  ASSERT_GE(chain.size(), 2u);
  bool fragmented = false;
  for (size_t i = 1; i < chain.size(); ++i) fragmented |= chain[i] != chain[i - 1] + 1;
  ASSERT_TRUE(fragmented) << "the fixture must give a chain of several runs";
  pc.Boot();

  ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), static_cast<int32_t>(store.size()));
  std::vector<uint8_t> buffer((store.size() + 511) / 512 * 512);
  ASSERT_TRUE(ReadFat32FileByChain(0, static_cast<int64_t>(offset), buffer.data(), static_cast<int32_t>(store.size())));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + store.size()), store);

  // A count of 1,000 moves two whole 512-byte units.
  std::vector<uint8_t> small(1024, 0xEE);
  ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), static_cast<int32_t>(store.size()));
  ASSERT_TRUE(ReadFat32FileByChain(0, static_cast<int64_t>(offset), small.data(), 1000));
  EXPECT_EQ(std::string(small.begin(), small.end()), store.substr(0, 1024));
  std::fill(small.begin(), small.end(), 'Z');
  ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), static_cast<int32_t>(store.size()));
  ASSERT_TRUE(WriteFat32FileByChain(0, static_cast<int64_t>(offset), small.data(), 1000));
  EXPECT_EQ(Mtype(volumeRef, "/BCD"), std::string(1024, 'Z') + store.substr(1024));
  EXPECT_EQ(Check(), "");
}

TEST_P(RawFatTest, BrokenOrLoopingChainsAreRefusedWithoutWriting) {
  MakeEsp({{"/EFI/BOOT/BCD", Pattern(GetParam() * 5, 11)}});
  auto chain = ShowFat(volumeRef, "/EFI/BOOT/BCD");
  ASSERT_EQ(chain.size(), 5u);
  struct Case {
    const char* fault;
    uint32_t entryOf;
    uint32_t value;
  } cases[] = {
      {"second cluster marked free", chain[1], 0},
      {"chain loops back on itself", chain[2], chain[0]},
      {"link beyond the volume", chain[0], 0x0FFFFFF0},
      {"end of chain after two clusters", chain[1], 0x0FFFFFFF},
  };
  auto original = pc.ReadBytes(0, offset, static_cast<size_t>(g.partCount * g.sectorSize));
  pc.Boot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    // Restore, then damage one FAT entry in both FATs' first copy only.
    pc.WriteBytes(0, offset, original);
    uint32_t saved = platform::ReadLe32(&pc.ReadBytes(0, FatEntryOffset(c.entryOf), 4)[0]);
    pc.WriteBytes(0, FatEntryOffset(c.entryOf), std::string(reinterpret_cast<const char*>(&c.value), 4));
    ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), static_cast<int32_t>(GetParam() * 5));
    std::vector<uint8_t> buffer(GetParam() * 5, 0);
    EXPECT_FALSE(ReadFat32FileByChain(0, static_cast<int64_t>(offset), buffer.data(), GetParam() * 5));
    std::vector<uint8_t> junk(GetParam() * 5, 'J');
    ASSERT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), static_cast<int32_t>(GetParam() * 5));
    EXPECT_FALSE(WriteFat32FileByChain(0, static_cast<int64_t>(offset), junk.data(), GetParam() * 5));
    pc.WriteBytes(0, FatEntryOffset(c.entryOf), std::string(reinterpret_cast<const char*>(&saved), 4));
    EXPECT_EQ(pc.ReadBytes(0, offset, original.size()), original) << "nothing was written";
    EXPECT_EQ(DiskContext.openDiskCount, 0);
  }
}

TEST_P(RawFatTest, DamagedBootSectorsFindNothing) {
  MakeEsp({{"/BCD", "data"}});
  pc.Boot();
  struct Case {
    const char* fault;
    size_t at;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"zero bytes per sector", 11, {0, 0}},
      {"zero sectors per cluster", 13, {0}},
      {"three sectors per cluster", 13, {3}},
      {"no FATs", 16, {0}},
      {"FAT area past the volume end", 36, {0xFF, 0xFF, 0xFF, 0x7F}},
  };
  auto boot = pc.ReadBytes(0, offset, 512);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    pc.WriteBytes(0, offset, boot);
    pc.WriteBytes(0, offset + c.at, c.bytes);
    EXPECT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), 0);
    EXPECT_EQ(DiskContext.openDiskCount, 0);
  }
  pc.WriteBytes(0, offset, boot);
  EXPECT_EQ(FindBcdOnFat32(0, static_cast<int64_t>(offset)), 4);
  EXPECT_EQ(FindBcdOnFat32(0, -512), 0) << "a negative partition offset is refused";
  EXPECT_EQ(FindBcdOnFat32(7, static_cast<int64_t>(offset)), 0) << "a missing disk finds nothing";
}

TEST_P(RawFatTest, HighClusterNumbersAndReservedTopBitsOfEntries) {
  // A filler pushes the store beyond cluster 65,535 (the high word counts);
  // clusters are one sector on both disks.
  uint64_t filler_clusters = 66000;
  std::string store = Pattern(GetParam() * 3 + 17, 21);
  MakeEsp({{"/FILLER.BIN", std::string(filler_clusters * GetParam(), '\0')}, {"/BOOT/BCD", store}});
  auto chain = ShowFat(volumeRef, "/BOOT/BCD");
  ASSERT_EQ(chain.size(), 4u);
  ASSERT_GT(chain.front(), 65535u);
  // The top four bits of an entry are reserved: the next cluster is the low 28 bits.
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    uint32_t value = chain[i + 1] | 0xF0000000u;
    pc.WriteBytes(0, FatEntryOffset(chain[i]), std::string(reinterpret_cast<const char*>(&value), 4));
  }
  pc.Boot();
  uint64_t first = 0;
  ASSERT_EQ(LocateBcdOnFat32(0, static_cast<int64_t>(offset), &first), static_cast<int32_t>(store.size()));
  EXPECT_EQ(FatVolume.currentCluster, chain.front());
  std::vector<uint8_t> buffer((store.size() + 511) / 512 * 512);
  ASSERT_TRUE(ReadFat32FileByChain(0, static_cast<int64_t>(offset), buffer.data(), static_cast<int32_t>(store.size())));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + store.size()), store);
  EXPECT_EQ(FatVolume.currentCluster, chain.back());
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, RawFatTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

// ---- path locator, deleted entries and the used-cluster map on lettered volumes ----

class FatVolumeTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { DiskContext = DiskContextRecord{}; }
  void TearDown() override {
    if (RawVolumeHandle != INVALID_HANDLE_VALUE) CloseHandle(RawVolumeHandle);
    RawVolumeHandle = INVALID_HANDLE_VALUE;
  }
  // C: FAT32, D: FAT16, on an MBR disk.
  void Make(const std::vector<VolumeFile>& c_files, const std::vector<VolumeFile>& d_files) {
    g = GeometryFor(GetParam());
    uint64_t d_count = GetParam() == 512 ? 40000 : 20000;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = g.diskBytes + d_count * GetParam() + (1 << 20),
                        .sectorSize = GetParam()});
    Part c{.start = g.partStart, .count = g.partCount, .mbrType = 0x0C, .fs = "fat32", .label = "CVOL",
           .files = c_files};
    Part d{.start = g.partStart + g.partCount, .count = d_count, .mbrType = 0x06, .fs = "fat16", .label = "DVOL",
           .files = d_files};
    pc.WriteMbr(0, {c, d});
    cRef = At(pc.Image(0), g.partStart * GetParam());
    dRef = At(pc.Image(0), (g.partStart + g.partCount) * GetParam());
  }
  SimulatedPc pc;
  Geometry g{};
  std::string cRef, dRef;
};

TEST_P(FatVolumeTest, PathLocatorRunsMatchMshowfat) {
  std::vector<VolumeFile> files = {{"/DIR/SUB/FILE.TXT", Pattern(GetParam() * 7 + 5, 1)},
                                   {"/DIR/OTHER.BIN", Pattern(100, 2)},
                                   {"/TOP.DAT", Pattern(GetParam() * 3, 4)}};
  Make(files, files);
  pc.Boot();
  struct Case {
    WCHAR letter;
    std::string* volumeRef;
    const char16_t* path;
    const char* fatPath;
    int32_t status;
  } cases[] = {
      {u'C', &cRef, u"C:\\DIR\\SUB\\FILE.TXT", "/DIR/SUB/FILE.TXT", RAWFS_OK},
      {u'C', &cRef, u"C:\\dir\\sub\\file.txt", "/DIR/SUB/FILE.TXT", RAWFS_OK},
      {u'C', &cRef, u"C:\\TOP.DAT", "/TOP.DAT", RAWFS_OK},
      {u'C', &cRef, u"C:\\DIR\\NOPE.TXT", nullptr, RAWFS_NOT_FOUND},
      {u'C', &cRef, u"C:\\TOP.DAT\\X", nullptr, RAWFS_NOT_FOUND},
      {u'D', &dRef, u"D:\\DIR\\SUB\\FILE.TXT", "/DIR/SUB/FILE.TXT", RAWFS_OK},
      {u'D', &dRef, u"D:\\TOP.DAT", "/TOP.DAT", RAWFS_OK},
      {u'D', &dRef, u"D:\\MISSING", nullptr, RAWFS_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    RawVolumeHandle = OpenVolumeDevice(c.letter);
    ASSERT_NE(RawVolumeHandle, INVALID_HANDLE_VALUE);
    ASSERT_EQ(ReadFatVolumeParams(), RAWFS_OK);
    EXPECT_EQ(FatVolume.fatBits, c.letter == u'C' ? 32u : 16u);
    EXPECT_EQ(LocateFileByPath(c.path), c.status);
    if (c.fatPath) {
      // Expected runs from mtools' cluster list.
      auto clusters = ShowFat(*c.volumeRef, c.fatPath);
      std::vector<std::pair<uint64_t, uint64_t>> expect;
      for (size_t i = 0; i < clusters.size(); ++i) {
        uint64_t unit = FatVolume.dataStart + (clusters[i] - 2ull) * FatVolume.unitsPerCluster;
        if (i && clusters[i] == clusters[i - 1] + 1)
          expect.back().second += FatVolume.unitsPerCluster;
        else
          expect.emplace_back(unit, FatVolume.unitsPerCluster);
      }
      std::vector<std::pair<uint64_t, uint64_t>> got;
      for (int r = 0; r < FatRuns.count; ++r) got.emplace_back(FatRuns.start[r], FatRuns.length[r]);
      EXPECT_EQ(got, expect);
      // The first run's bytes are the file's first bytes.
      std::vector<uint8_t> bytes(512);
      ASSERT_EQ(ReadVolumeSectors(bytes.data(), got.at(0).first, 1), 512u);
      EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 64), Mtype(*c.volumeRef, c.fatPath).substr(0, 64));
    }
    CloseHandle(RawVolumeHandle);
    RawVolumeHandle = INVALID_HANDLE_VALUE;
  }
}

TEST_P(FatVolumeTest, LongNamesAreLocatedByTheirShortForm) {
  std::string content = Pattern(GetParam() * 2 + 3, 31);
  Make({{"/Program Data/Long File Name.txt", content}}, {});
  pc.Boot();
  RawVolumeHandle = OpenVolumeDevice(u'C');
  ASSERT_EQ(ReadFatVolumeParams(), RAWFS_OK);
  struct Case {
    const char16_t* path;
    int32_t mode;
    int32_t found;
  } cases[] = {{u"C:\\Program Data\\Long File Name.txt", 3, 1},
               {u"C:\\Program Data\\Long File Name.txt", 2, 1},
               {u"C:\\Program Data\\Missing Name.txt", 3, 0},
               {u"", 3, 0}};
  auto clusters = ShowFat(cRef, "/Program Data/Long File Name.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    EXPECT_EQ(LocateFileRuns(c.path, c.mode), c.found);
    if (!c.found) continue;
    EXPECT_EQ(FatRuns.firstCluster, clusters.front());
    EXPECT_EQ(FatRuns.fileSize, content.size());
  }
}

TEST_P(FatVolumeTest, DeletedEntriesAreCountedAndListed) {
  Make({{"/DIR/KEEP.TXT", "k"}}, {});
  std::string local = pc.folder() + "/local.bin";
  std::map<std::string, std::vector<uint32_t>> clusters;
  for (const char* name : {"A.TXT", "B.TXT", "C.TXT"}) {
    std::ofstream(local, std::ios::binary | std::ios::trunc) << Pattern(600, name[0]);
    ASSERT_EQ(Shell("mcopy -o -i " + cRef + " " + local + " '::/DIR/" + name + "'"), 0);
    clusters[name] = ShowFat(cRef, std::string("/DIR/") + name);
  }
  ASSERT_EQ(Shell("mmd -i " + cRef + " ::/DIR/GONE"), 0);
  clusters["GONE"] = ShowFat(cRef, "/DIR/GONE");
  for (const char* name : {"A.TXT", "C.TXT"}) ASSERT_EQ(Shell("mdel -i " + cRef + " '::/DIR/" + name + "'"), 0);
  ASSERT_EQ(Shell("mrd -i " + cRef + " ::/DIR/GONE"), 0);
  pc.Boot();
  RawVolumeHandle = OpenVolumeDevice(u'C');
  ASSERT_EQ(ReadFatVolumeParams(), RAWFS_OK);
  ASSERT_EQ(LocateFileByPath(u"C:\\DIR"), RAWFS_OK);
  ASSERT_EQ(LocateFileByPath(u"C:\\DIR\\B.TXT"), RAWFS_OK);  // loads DIR as the last directory
  struct Case {
    int32_t limit;
    int32_t status;
    int32_t count;
  } cases[] = {{10, RAWFS_OK, 3}, {4, RAWFS_OK, 3}, {3, RAWFS_TOO_MANY_DELETED, 4}, {1, RAWFS_TOO_MANY_DELETED, 4}};
  for (const auto& c : cases) {
    int32_t count = -1;
    EXPECT_EQ(CountDeletedEntries(c.limit, &count), c.status) << c.limit;
    EXPECT_EQ(count, c.count) << c.limit;
  }
  std::vector<DeletedEntry> entries;
  ASSERT_EQ(ListDeletedEntries(3, &entries), RAWFS_OK);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].firstCluster, clusters["A.TXT"].front());
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_EQ(entries[1].firstCluster, clusters["C.TXT"].front());
  EXPECT_FALSE(entries[1].isDirectory);
  EXPECT_EQ(entries[1].name, CString(u"\u00E5.TXT")) << "the deleted mark stays in front of the name";
  EXPECT_EQ(entries[2].firstCluster, clusters["GONE"].front());
  EXPECT_TRUE(entries[2].isDirectory);
  ASSERT_EQ(ListDeletedEntries(1, &entries), RAWFS_OK);
  EXPECT_EQ(entries.size(), 1u);
}

TEST_P(FatVolumeTest, UsedMapMarksFilesAndLeavesThePagefileClear) {
  uint32_t ss = GetParam();
  std::vector<VolumeFile> files = {{"/DATA/ONE.BIN", Pattern(ss * 40, 5)},
                                   {"/PAGEFILE.SYS", Pattern(ss * 256, 6)},
                                   {"/DATA/TWO.BIN", Pattern(ss * 33 + 1, 8)}};
  Make(files, {});
  pc.Boot();
  std::unique_ptr<VolumeUsedMap> map;
  ASSERT_EQ(BuildVolumeUsedMap(u"C:", &map), 0);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->unitsPerBit, 32u);
  EXPECT_EQ(RawVolumeHandle, INVALID_HANDLE_VALUE) << "the volume is closed again";
  uint64_t units_per_cluster = ss / 512;
  uint64_t data_start = FatVolume.dataStart;
  auto unit_of = [&](uint32_t c) { return data_start + (c - 2ull) * units_per_cluster; };
  // Every cluster of a file and of the folders (by mshowfat) lies in a marked group.
  for (const char* path : {"/DATA/ONE.BIN", "/DATA/TWO.BIN", "/DATA"}) {
    for (uint32_t c : ShowFat(cRef, path)) {
      for (uint64_t u = unit_of(c); u < unit_of(c) + units_per_cluster; ++u)
        ASSERT_TRUE(map->IsUsed(u / 32)) << path << " cluster " << c;
    }
  }
  // The reserved area and the FATs are always marked.
  for (uint64_t u = 0; u < data_start; u += 32) ASSERT_TRUE(map->IsUsed(u / 32)) << u;
  // Groups lying wholly inside the pagefile stay clear.
  auto pagefile = ShowFat(cRef, "/PAGEFILE.SYS");
  std::set<uint64_t> pagefile_units;
  for (uint32_t c : pagefile)
    for (uint64_t u = unit_of(c); u < unit_of(c) + units_per_cluster; ++u) pagefile_units.insert(u);
  int whole_groups = 0;
  for (uint64_t group = 0; group * 32 < data_start + FatVolume.clusterCount * units_per_cluster; ++group) {
    bool inside = true;
    for (uint64_t u = group * 32; u < group * 32 + 32 && inside; ++u) inside = pagefile_units.count(u) > 0;
    if (!inside) continue;
    ++whole_groups;
    EXPECT_FALSE(map->IsUsed(group)) << "pagefile group " << group;
  }
  EXPECT_GE(whole_groups, 6);
  // Free space after the last file is clear.
  uint64_t last_group = (data_start + FatVolume.clusterCount * units_per_cluster) / 32 - 1;
  EXPECT_FALSE(map->IsUsed(last_group));
  EXPECT_LT(UsedMapShare, 0.8f);
}

TEST_P(FatVolumeTest, NearlyFullVolumeGetsNoMapAndFat16NoneEither) {
  g = GeometryFor(GetParam());
  uint64_t bytes = g.partCount * GetParam();
  Make({{"/BIG.BIN", std::string(bytes * 17 / 20, 'f')}}, {{"/X.TXT", "x"}});
  pc.Boot();
  std::unique_ptr<VolumeUsedMap> map;
  ASSERT_EQ(BuildVolumeUsedMap(u"C:", &map), 0);
  EXPECT_FALSE(map);
  EXPECT_GT(UsedMapShare, 0.8f);
  ASSERT_EQ(BuildVolumeUsedMap(u"D:", &map), 0);
  EXPECT_FALSE(map) << "FAT12/16 volumes get no map";
  ASSERT_EQ(BuildVolumeUsedMap(u"Q:", &map), 0);
  EXPECT_FALSE(map) << "a missing volume gets no map";
}

TEST_P(FatVolumeTest, LargePagefileDoesNotMakeTheVolumeLookFull) {
  g = GeometryFor(GetParam());
  uint64_t bytes = g.partCount * GetParam();
  Make({{"/PAGEFILE.SYS", std::string(bytes * 17 / 20, 'p')}, {"/SMALL.TXT", "small"}}, {});
  pc.Boot();
  std::unique_ptr<VolumeUsedMap> map;
  ASSERT_EQ(BuildVolumeUsedMap(u"C:", &map), 0);
  ASSERT_TRUE(map) << "share " << UsedMapShare;
  EXPECT_LT(UsedMapShare, 0.1f) << "the pagefile's clusters count as neither used nor free";
  uint64_t units_per_cluster = GetParam() / 512;
  uint32_t small = ShowFat(cRef, "/SMALL.TXT").front();
  EXPECT_TRUE(map->IsUsed((FatVolume.dataStart + (small - 2ull) * units_per_cluster) / 32));
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, FatVolumeTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

TEST(RawFatTextTest, ContainsNoCaseAndPathSplitting) {
  struct Case {
    const char* text;
    const char* part;
    int32_t at;
  } cases[] = {{"pagefile.sys", "FILE", 4}, {"ABC", "abc", 0}, {"abc", "abcd", -1}, {"", "", 0}, {"xyz", "q", -1}};
  for (const auto& c : cases) {
    std::string t = c.text, p = c.part;
    EXPECT_EQ(ContainsNoCase(t.data(), p.data()), c.at) << c.text << " / " << c.part;
    CString wt(c.text), wp(c.part);
    EXPECT_EQ(ContainsNoCase(wt, wp), c.at) << c.text << " / " << c.part;
    EXPECT_EQ(wt, CString(c.text).MakeUpper()) << "the text is upper-cased in place";
  }
  struct Split {
    const char16_t* path;
    std::vector<std::u16string> parts;
  } splits[] = {{u"C:\\A\\B.TXT", {u"C:", u"A", u"B.TXT"}},
                {u"C:\\", {u"C:"}},
                {u"\\\\X\\\\Y", {u"X", u"Y"}},
                {u"", {}}};
  for (const auto& s : splits) {
    for (int variant = 0; variant < 2; ++variant) {
      EXPECT_EQ(variant ? SplitPathByToken(s.path) : SplitPathComponents(s.path), 0);
      std::vector<std::u16string> got;
      for (const auto& p : PathComponents) got.push_back(p.str());
      EXPECT_EQ(got, s.parts) << platform::to_utf8(s.path) << " variant " << variant;
    }
  }
}

TEST(RawFatTextTest, BootSectorFieldsGiveTheDerivedValues) {
  struct Case {
    const char* what;
    uint16_t bps;
    uint8_t spc;
    uint16_t reserved;
    uint8_t fats;
    uint16_t rootEntries;
    uint32_t total;
    uint32_t spf;  // FAT32 field when rootEntries is 0, else the FAT12/16 field
    bool ok;
    uint32_t bits;
    uint64_t clusters;
    uint64_t dataStart;  // 512-byte units
  } cases[] = {
      // (20,000,000 - 32 - 2 x 1221) / 128 clusters; the data start in 512-byte units.
      {"FAT32, 128 sectors per cluster (unsigned)", 512, 128, 32, 2, 0, 20000000, 1221, true, 32, 156230, 2474},
      // 1220 FAT sectors hold 156,160 entries: clusters 2 .. 156,159 only.
      {"FAT32 whose FAT is short of the clusters", 512, 128, 32, 2, 0, 20000000, 1220, true, 32, 156158, 2472},
      // (32 + 2 x 98) sectors of 4096 bytes are 1,824 units.
      {"FAT32 on 4096-byte sectors", 4096, 1, 32, 2, 0, 100000, 98, true, 32, 99772, 1824},
      // 4 reserved + 2 x 80 FAT + 32 root-directory sectors.
      {"FAT16", 512, 4, 4, 2, 512, 80000, 80, true, 16, 19951, 196},
      {"FAT12", 512, 1, 1, 2, 224, 2880, 9, true, 12, 2847, 33},
      {"FAT area beyond the volume", 512, 8, 32, 2, 0, 1000, 5000, false, 0, 0, 0},
      {"bytes per sector 768", 768, 1, 32, 2, 0, 100000, 800, false, 0, 0, 0},
      {"sectors per cluster 6", 512, 6, 32, 2, 0, 100000, 800, false, 0, 0, 0},
      {"five FATs", 512, 1, 32, 5, 0, 100000, 800, false, 0, 0, 0},
      {"no reserved sectors", 512, 1, 0, 2, 0, 100000, 800, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FatBootSector b{};
    b.bytesPerSector = c.bps;
    b.sectorsPerCluster = c.spc;
    b.reservedSectors = c.reserved;
    b.fatCount = c.fats;
    b.rootEntries = c.rootEntries;
    if (c.total < 65536 && c.rootEntries) b.totalSectors16 = static_cast<uint16_t>(c.total);
    else b.totalSectors32 = c.total;
    if (c.rootEntries) b.sectorsPerFat16 = static_cast<uint16_t>(c.spf);
    else b.sectorsPerFat32 = c.spf;
    b.rootCluster = 2;
    FatVolume = FatVolumeRecord{};
    uint8_t raw[512];
    memcpy(raw, &b, sizeof raw);
    ASSERT_EQ(TakeFatBootSector(raw, 0), c.ok);
    if (!c.ok) {
      EXPECT_EQ(FatVolume.bytesPerSector, 0u) << "a refused boot sector leaves the record alone";
      continue;
    }
    EXPECT_EQ(FatVolume.fatBits, c.bits);
    EXPECT_EQ(FatVolume.clusterCount, c.clusters);
    EXPECT_EQ(FatVolume.dataStart, c.dataStart);
    EXPECT_EQ(FatVolume.sectorsPerCluster, c.spc);
  }
}

}  // namespace
