// The NTFS metadata reader on volumes made by mkntfs (512- and 4096-byte
// sectors): the used-cluster map against ntfscat's $Bitmap with the
// pagefile's runs (ntfscluster) cleared, the file locator, the copy of a file
// by its record against ntfscat, and tables of run lists, record checks and
// update-sequence fix-ups on hand-made records.
#include "disk/ntfs_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/raw_volume_io.h"
#include "fixture_images.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Pattern;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

struct Run {
  uint64_t lcn;
  uint64_t length;
};

// The $DATA runs of a file as ntfscluster lists them (VCN LCN Length).
std::vector<Run> ClusterRuns(const std::string& volume, const std::string& file) {
  std::string out;
  EXPECT_EQ(Shell("ntfscluster -f -F '" + file + "' " + volume, &out), 0);
  std::vector<Run> runs;
  size_t data = out.find("0x80 - non-resident");
  if (data == std::string::npos) return runs;
  std::regex row("^\\s+(\\d+)\\s+(-?\\d+)\\s+(\\d+)\\s*$");
  std::istringstream lines(out.substr(data));
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_match(line, m, row)) runs.push_back({std::stoull(m[2]), std::stoull(m[3])});
    else if (!runs.empty() && line.find(" - ") != std::string::npos) break;
  }
  return runs;
}

std::string NtfsCat(const std::string& volume, const std::string& file) {
  std::string out;
  EXPECT_EQ(Shell("ntfscat -f " + volume + " '" + file + "'", &out), 0) << file;
  return out;
}

class NtfsVolumeTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { DiskContext = DiskContextRecord{}; }
  void TearDown() override {
    if (RawVolumeHandle != INVALID_HANDLE_VALUE) CloseHandle(RawVolumeHandle);
    RawVolumeHandle = INVALID_HANDLE_VALUE;
  }
  void Make(const std::vector<disk_fixture::VolumeFile>& files) {
    ss = GetParam();
    start = ss == 512 ? 2048 : 256;
    count = (96ull << 20) / ss;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20, .sectorSize = ss});
    pc.WriteMbr(0, {Part{.start = start, .count = count, .mbrType = 0x07, .fs = "ntfs", .label = "NVOL",
                         .files = files}});
  }
  std::string Extract() { return pc.ExtractVolume(0, start, count, "ntfs.vol"); }
  SimulatedPc pc;
  uint32_t ss = 0;
  uint64_t start = 0, count = 0;
};

TEST_P(NtfsVolumeTest, UsedMapIsTheBitmapWithThePagefileRunsCleared) {
  std::string pagefile = Pattern(3 << 20, 1);
  Make({{"/before.bin", Pattern(700000, 2)}, {"/pagefile.sys", pagefile}, {"/after.bin", Pattern(200000, 3)}});
  pc.Boot();
  std::unique_ptr<VolumeUsedMap> map;
  ASSERT_EQ(BuildVolumeUsedMap(u"C:", &map), 0);
  ASSERT_TRUE(map);
  EXPECT_EQ(RawVolumeHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(NtfsPagefilePath, CString(u"C:\\pagefile.sys"));

  std::string volume = Extract();
  std::string bitmap_text = NtfsCat(volume, "$Bitmap");
  std::vector<uint8_t> bitmap(bitmap_text.begin(), bitmap_text.end());
  auto runs = ClusterRuns(volume, "pagefile.sys");
  ASSERT_FALSE(runs.empty());
  uint64_t cluster_bytes = NtfsVolume.ClusterBytes();
  EXPECT_EQ(map->unitsPerBit, cluster_bytes / 512);
  EXPECT_EQ(map->byteSize, bitmap.size());
  // The oracle: $Bitmap as ntfscat reads it, the pagefile's clusters cleared.
  uint64_t cleared = 0;
  for (const auto& r : runs) {
    for (uint64_t c = r.lcn; c < r.lcn + r.length; ++c) {
      ASSERT_TRUE(bitmap[c / 8] & (1 << (c % 8))) << "ntfs marks the pagefile used";
      bitmap[c / 8] = static_cast<uint8_t>(bitmap[c / 8] & ~(1 << (c % 8)));
      ++cleared;
    }
  }
  EXPECT_EQ(cleared, (pagefile.size() + cluster_bytes - 1) / cluster_bytes);
  ASSERT_EQ(map->bits.size(), bitmap.size());
  EXPECT_EQ(map->bits, bitmap) << "the map differs from the oracle";
  // The pagefile's first cluster is clear, a cluster just before it is used
  // when ntfs says so.
  EXPECT_FALSE(map->IsUsed(runs[0].lcn));
}

TEST_P(NtfsVolumeTest, VolumeWithoutPagefileKeepsTheWholeBitmap) {
  Make({{"/data.bin", Pattern(500000, 9)}});
  pc.Boot();
  std::unique_ptr<VolumeUsedMap> map;
  ASSERT_EQ(BuildVolumeUsedMap(u"C:", &map), 0);
  ASSERT_TRUE(map);
  EXPECT_TRUE(NtfsPagefilePath.IsEmpty());
  std::string bitmap = NtfsCat(Extract(), "$Bitmap");
  EXPECT_EQ(map->bits, std::vector<uint8_t>(bitmap.begin(), bitmap.end()));
}

TEST_P(NtfsVolumeTest, LocatorFindsFilesByNameAndParentsAndCopiesThemByRecord) {
  std::string big = Pattern(150000, 4);
  Make({{"/pagefile.sys", big}, {"/tiny.txt", "tiny resident data"}});
  pc.Boot();
  // Folders made through the platform's NTFS driver.
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Dir", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Dir\\Sub", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Other", nullptr));
  std::string nested = Pattern(9000, 5);
  HANDLE f = CreateFileW(u"C:\\Dir\\Sub\\Nested.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(f, nested.data(), static_cast<DWORD>(nested.size()), &written, nullptr));
  CloseHandle(f);

  ASSERT_EQ(NtfsOpenVolume(u"C:"), 0);
  ASSERT_EQ(NtfsLoadMftRuns(), 0);
  EXPECT_GE(NtfsVolume.recordCount, 16u);
  struct Case {
    const char16_t* path;
    int32_t found;
  } cases[] = {
      {u"C:\\pagefile.sys", 1},         {u"C:\\PAGEFILE.SYS", 1},       {u"C:\\Dir\\Sub\\Nested.bin", 1},
      {u"C:\\Dir\\Sub\\nested.BIN", 1}, {u"C:\\Sub\\Nested.bin", 0},    {u"C:\\Other\\Nested.bin", 0},
      {u"C:\\Dir\\Nested.bin", 0},      {u"C:\\X\\Dir\\Sub\\Nested.bin", 0}, {u"C:\\missing.txt", 0},
      {u"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    EXPECT_EQ(LocateFileRuns(c.path, 4), c.found);
  }
  // Copies by record: the nested file, the pagefile, a resident file, a short count.
  CString target = u"C:\\copy.bin";
  std::string volume = Extract();
  struct Copy {
    const char16_t* path;
    std::string expect;
    uint64_t count;
  } copies[] = {{u"C:\\Dir\\Sub\\Nested.bin", nested, nested.size()},
                {u"C:\\pagefile.sys", big, big.size()},
                {u"C:\\pagefile.sys", big.substr(0, 5000), 5000},
                {u"C:\\tiny.txt", "tiny resident data", 18},
                {u"C:\\tiny.txt", "tiny", 4}};
  EXPECT_EQ(NtfsCat(volume, "/Dir/Sub/Nested.bin"), nested);
  for (const auto& c : copies) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    ASSERT_EQ(LocateFileRuns(c.path, 4), 1);
    ASSERT_EQ(NtfsCopyFileByRecord(target, NtfsVolume.foundRecord, c.count), RAWFS_OK)
        << platform::to_utf8(target.str()) << " error " << GetLastError();
    HANDLE h = CreateFileW(target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string got(c.expect.size() + 10, '\0');
    DWORD read = 0;
    ReadFile(h, got.data(), static_cast<DWORD>(got.size()), &read, nullptr);
    CloseHandle(h);
    got.resize(read);
    EXPECT_EQ(got, c.expect);
  }
  EXPECT_EQ(NtfsCopyFileByRecord(u"Q:\\nowhere\\x.bin", 1, 10), -1) << "a target that cannot be made";
  EXPECT_EQ(NtfsCopyFileByRecord(target, NtfsVolume.recordCount + 5, 10), 0) << "a record beyond the table";
}

TEST_P(NtfsVolumeTest, RecordsReadByRunsCarryTheirFixupsAndNames) {
  Make({{"/pagefile.sys", Pattern(10000, 4)}});
  pc.Boot();
  ASSERT_EQ(NtfsOpenVolume(u"C:"), 0);
  ASSERT_EQ(NtfsLoadMftRuns(), 0);
  std::vector<uint8_t> record(kNtfsMaxRecordBytes);
  struct Case {
    uint64_t number;
    const char16_t* name;
    uint64_t parent;
    int32_t plain;
  } cases[] = {{1, u"$MFT", 6, RAWFS_OK}, {6, u".", 6, RAWFS_IS_FOLDER}, {7, u"$Bitmap", 6, RAWFS_OK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    ASSERT_EQ(NtfsReadRecordByRuns(c.number, record.data()), RAWFS_OK);
    EXPECT_EQ(NtfsCheckFileMagic(record.data()), 0);
    EXPECT_EQ(NtfsCheckBaseRecord(record.data()), 0);
    CString long_name, dos_name;
    NtfsGetFileName(record.data(), &long_name, &dos_name);
    EXPECT_EQ(long_name, CString(c.name));
    EXPECT_EQ(NtfsParentRecord(record.data()), c.parent);
    EXPECT_EQ(NtfsCheckPlainFile(record.data()), c.plain);
    // The last two bytes of each 512-byte stride hold data again, not the sequence number.
    uint16_t usa = record[4] | record[5] << 8;
    uint16_t sequence = record[usa] | record[usa + 1] << 8;
    EXPECT_FALSE((record[510] | record[511] << 8) == sequence && (record[1022] | record[1023] << 8) == sequence);
  }
  // Record 1 read plainly and by runs agree.
  std::vector<uint8_t> plain(kNtfsMaxRecordBytes);
  ASSERT_EQ(NtfsReadRecord(1, plain.data()), RAWFS_OK);
  ASSERT_EQ(NtfsReadRecordByRuns(1, record.data()), RAWFS_OK);
  EXPECT_EQ(plain, record);
  EXPECT_EQ(NtfsReadRecordByRuns(NtfsVolume.recordCount + 100000, record.data()), 0);
  EXPECT_EQ(NtfsRecordOffset(NtfsVolume.recordCount + 100000), kNtfsNoOffset);
  EXPECT_EQ(NtfsIsCompressedRoot(u"C:"), RAWFS_OK);
  NTFS_VOLUME_DATA_BUFFER data{};
  EXPECT_EQ(NtfsQueryVolumeData(&data), 1);
  EXPECT_EQ(static_cast<uint64_t>(data.MftStartLcn.QuadPart), NtfsVolume.mftCluster);
  EXPECT_EQ(LoadNtFsControlFile(), 1);
}

TEST_P(NtfsVolumeTest, DamagedBootSectorAndMftAreRefusedInDiskMode) {
  Make({{"/a.txt", "a"}});
  struct Case {
    const char* fault;
    uint64_t at;
    std::vector<uint8_t> bytes;
    int32_t boot;
    int32_t load;
  } cases[] = {
      {"intact", 0, {}, 0, 0},
      {"foreign OEM id", 3, {'X'}, RAWFS_BAD_RUNS, RAWFS_BAD_RUNS},
      {"zero bytes per sector", 11, {0, 0}, RAWFS_BAD_RUNS, RAWFS_BAD_RUNS},
      {"three sectors per cluster", 13, {3}, RAWFS_BAD_RUNS, RAWFS_BAD_RUNS},
      {"$MFT beyond the volume", 48, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}, RAWFS_BAD_RUNS, RAWFS_BAD_RUNS},
      {"records of 8 KiB", 64, {0xF3}, 0, RAWFS_BAD_RUNS},
  };
  uint64_t offset = start * GetParam();
  auto boot = pc.ReadBytes(0, offset, 512);
  pc.Boot();
  ASSERT_TRUE(EnsureSectorMultiplier(0));
  ASSERT_NE(OpenDiskRead(0), nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    pc.WriteBytes(0, offset, boot);
    if (!c.bytes.empty()) pc.WriteBytes(0, offset + c.at, c.bytes);
    NtfsVolume = NtfsVolumeRecord{};
    NtfsVolume.diskMode = true;
    NtfsVolume.partitionByteOffset = offset;
    EXPECT_EQ(NtfsReadBootParams(), c.boot);
    EXPECT_EQ(NtfsLoadMftRuns(), c.load);
    if (c.load == 0) {
      std::vector<uint8_t> record(kNtfsMaxRecordBytes);
      ASSERT_EQ(NtfsReadRecordByRuns(7, record.data()), RAWFS_OK);
      CString name, dos;
      NtfsGetFileName(record.data(), &name, &dos);
      EXPECT_EQ(name, CString(u"$Bitmap"));
    }
  }
  CloseCurrentDisk();
  NtfsVolume = NtfsVolumeRecord{};
  EXPECT_EQ(NtfsOpenVolume(u"Q:"), RAWFS_FREE_SPACE_FAILED);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, NtfsVolumeTest, ::testing::Values(512u, 4096u),
                         [](const auto& info) { return "Sector" + std::to_string(info.param); });

// ---- hand-made attributes and records ----

// A non-resident $DATA attribute holding `runs` (the run-list bytes).
std::vector<uint8_t> NonResident(const std::vector<uint8_t>& runs, uint16_t flags = 0) {
  std::vector<uint8_t> a(0x40 + runs.size(), 0);
  a[0] = 0x80;
  uint32_t length = static_cast<uint32_t>(a.size());
  memcpy(&a[4], &length, 4);
  a[8] = 1;
  memcpy(&a[0x0C], &flags, 2);
  a[0x20] = 0x40;
  memcpy(&a[0x40], runs.data(), runs.size());
  return a;
}

TEST(NtfsRunListTest, RunHeadersLengthsAndBounds) {
  struct Case {
    const char* what;
    uint32_t clusterBytes;
    std::vector<uint8_t> runs;
    uint16_t flags;
    int32_t status;
    std::vector<NtfsMftRun> table;
  } cases[] = {
      {"1-byte length, 2-byte offset", 4096, {0x21, 0x08, 0x34, 0x12, 0x00}, 0, RAWFS_OK, {{0x1234, 32}}},
      {"512-byte clusters: 8 clusters are 4 records", 512, {0x11, 0x08, 0x10, 0x00}, 0, RAWFS_OK, {{0x10, 4}}},
      {"4096-byte clusters: 8 clusters are 32 records", 4096, {0x11, 0x08, 0x10, 0x00}, 0, RAWFS_OK, {{0x10, 32}}},
      {"negative relative offset", 4096, {0x11, 0x01, 0x40, 0x11, 0x01, 0xF0, 0x00}, 0, RAWFS_OK, {{0x40, 4}, {0x30, 4}}},
      {"sparse run adds no entry", 4096, {0x11, 0x01, 0x40, 0x01, 0x05, 0x11, 0x01, 0x02, 0x00}, 0, RAWFS_OK,
       {{0x40, 4}, {0x42, 4}}},
      {"0xFF ends the list", 4096, {0x11, 0x02, 0x05, 0xFF}, 0, RAWFS_OK, {{0x05, 8}}},
      {"5-byte length field", 4096, {0x05, 1, 0, 0, 0, 0, 0x00}, 0, RAWFS_BAD_RUNS, {}},
      {"5-byte offset field", 4096, {0x51, 1, 1, 0, 0, 0, 0, 0x00}, 0, RAWFS_BAD_RUNS, {}},
      {"zero-size length field", 4096, {0x10, 0x05, 0x00}, 0, RAWFS_BAD_RUNS, {}},
      {"compressed", 4096, {0x11, 0x01, 0x10, 0x00}, 0x0001, RAWFS_BAD_RUNS, {}},
      {"sparse flag", 4096, {0x11, 0x01, 0x10, 0x00}, 0x8000, RAWFS_BAD_RUNS, {}},
      {"run beyond the volume", 4096, {0x31, 0x01, 0x00, 0x00, 0x10, 0x00}, 0, RAWFS_BAD_RUNS, {}},
      {"offset below cluster 0", 4096, {0x11, 0x01, 0xF0, 0x00}, 0, RAWFS_BAD_RUNS, {}},
      {"list without its end", 4096, {0x11, 0x01, 0x10}, 0, RAWFS_BAD_RUNS, {}},
      {"fields cut by the attribute end", 4096, {0x44, 0x01, 0x02}, 0, RAWFS_BAD_RUNS, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NtfsVolume = NtfsVolumeRecord{};
    NtfsVolume.bytesPerSector = 512;
    NtfsVolume.sectorsPerCluster = c.clusterBytes / 512;
    NtfsVolume.clusterCount = 0x100000;
    auto attribute = NonResident(c.runs, c.flags);
    std::vector<NtfsMftRun> table;
    EXPECT_EQ(NtfsDecodeRuns(attribute.data(), attribute.size(), NtfsAttributeResidency(attribute.data()), &table),
              c.status);
    if (c.status != RAWFS_OK) continue;
    ASSERT_EQ(table.size(), c.table.size());
    for (size_t i = 0; i < table.size(); ++i) {
      EXPECT_EQ(table[i].firstCluster, c.table[i].firstCluster) << i;
      EXPECT_EQ(table[i].records, c.table[i].records) << i;
    }
  }
  std::vector<uint8_t> resident(0x40, 0);
  resident[0] = 0x80;
  std::vector<NtfsMftRun> table;
  EXPECT_EQ(NtfsAttributeResidency(resident.data()), RAWFS_RESIDENT);
  ASSERT_EQ(NtfsDecodeRuns(resident.data(), resident.size(), RAWFS_RESIDENT, &table), RAWFS_OK);
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].firstCluster, 0u);
  EXPECT_EQ(table[0].records, 0u);
}

// A 1,024-byte FILE record with a fix-up array of three words and the given
// attributes (each a full attribute, lengths set).
std::vector<uint8_t> Record(uint16_t flags, uint64_t base, const std::vector<std::vector<uint8_t>>& attributes) {
  std::vector<uint8_t> r(kNtfsRecordBytes, 0);
  memcpy(&r[0], "FILE", 4);
  r[4] = 0x30;  // fix-up array at 0x30
  r[6] = 3;
  r[0x14] = 0x38;  // first attribute
  memcpy(&r[0x16], &flags, 2);
  memcpy(&r[0x20], &base, 8);
  size_t at = 0x38;
  for (const auto& a : attributes) {
    memcpy(&r[at], a.data(), a.size());
    at += a.size();
  }
  uint32_t end = 0xFFFFFFFF;
  memcpy(&r[at], &end, 4);
  uint32_t used = static_cast<uint32_t>(at + 8);
  memcpy(&r[0x18], &used, 4);
  // Sequence number 0x0102 at both stride ends; the saved words hold the data.
  r[0x30] = 0x02, r[0x31] = 0x01;
  r[0x32] = r[510], r[0x33] = r[511];
  r[0x34] = r[1022], r[0x35] = r[1023];
  r[510] = 0x02, r[511] = 0x01, r[1022] = 0x02, r[1023] = 0x01;
  return r;
}

std::vector<uint8_t> FileName(const std::u16string& name, uint8_t nameSpace, uint64_t parent, uint32_t attributes) {
  std::vector<uint8_t> value(66 + name.size() * 2, 0);
  memcpy(&value[0], &parent, 8);
  memcpy(&value[56], &attributes, 4);
  value[64] = static_cast<uint8_t>(name.size());
  value[65] = nameSpace;
  memcpy(&value[66], name.data(), name.size() * 2);
  std::vector<uint8_t> a(24 + (value.size() + 7) / 8 * 8, 0);
  a[0] = 0x30;
  uint32_t length = static_cast<uint32_t>(a.size());
  memcpy(&a[4], &length, 4);
  uint32_t value_length = static_cast<uint32_t>(value.size());
  memcpy(&a[16], &value_length, 4);
  a[20] = 24;
  memcpy(&a[24], value.data(), value.size());
  return a;
}

TEST(NtfsRecordTest, ChecksNamesAndFixups) {
  NtfsVolume = NtfsVolumeRecord{};
  auto win32 = FileName(u"Report.txt", 1, 0x0003000000000040ull, 0x20);
  auto dos = FileName(u"REPORT~1.TXT", 2, 0x40, 0x20);
  auto both = FileName(u"A.TXT", 3, 5, 0x20);
  auto folder = FileName(u"Folder", 1, 5, 0x10000000);
  auto symlink_like = FileName(u"Link", 1, 5, 0x20);
  // A reparse tag in the word after the attributes does not make a folder.
  symlink_like[24 + 60] = 0x0C, symlink_like[24 + 63] = 0xA0;
  struct Case {
    const char* what;
    std::vector<uint8_t> record;
    const char16_t* longName;
    const char16_t* dosName;
    uint64_t parent;
    int32_t plain;
    int32_t flagsClear;
    int32_t notInUse;
    int32_t base;
  } cases[] = {
      {"Win32 name", Record(1, 0, {win32}), u"Report.txt", u"", 0x41, RAWFS_OK, RAWFS_FLAGS_CHECK, RAWFS_FLAGS_CHECK, 0},
      {"DOS name first, long name second", Record(1, 0, {dos, win32}), u"Report.txt", u"REPORT~1.TXT", 0x41, RAWFS_OK,
       RAWFS_FLAGS_CHECK, RAWFS_FLAGS_CHECK, 0},
      {"Win32 and DOS in one", Record(0, 0, {both}), u"A.TXT", u"A.TXT", 6, RAWFS_OK, RAWFS_OK, RAWFS_OK, 0},
      {"folder", Record(3, 0, {folder}), u"Folder", u"", 6, RAWFS_IS_FOLDER, RAWFS_FLAGS_CHECK, RAWFS_FLAGS_CHECK, 0},
      {"deleted folder", Record(2, 0, {folder}), u"Folder", u"", 6, RAWFS_IS_FOLDER, RAWFS_FLAGS_CHECK, RAWFS_OK, 0},
      {"reparse word", Record(1, 0, {symlink_like}), u"Link", u"", 6, RAWFS_OK, RAWFS_FLAGS_CHECK, RAWFS_FLAGS_CHECK, 0},
      {"extension record", Record(1, 0x10, {win32}), u"Report.txt", u"", 0x41, RAWFS_OK, RAWFS_FLAGS_CHECK,
       RAWFS_FLAGS_CHECK, RAWFS_EXTENSION_RECORD},
      {"no name", Record(1, 0, {}), u"", u"", RAWFS_NO_NAME_PARENT, RAWFS_NO_NAME_FILE, RAWFS_FLAGS_CHECK,
       RAWFS_FLAGS_CHECK, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(NtfsApplyFixups(c.record.data()));
    EXPECT_EQ(NtfsCheckFileMagic(c.record.data()), 0);
    CString long_name, dos_name;
    NtfsGetFileName(c.record.data(), &long_name, &dos_name);
    EXPECT_EQ(long_name, CString(c.longName));
    EXPECT_EQ(dos_name, CString(c.dosName));
    EXPECT_EQ(NtfsParentRecord(c.record.data()), c.parent);
    EXPECT_EQ(NtfsCheckPlainFile(c.record.data()), c.plain);
    EXPECT_EQ(NtfsCheckFlagsClear(c.record.data()), c.flagsClear);
    EXPECT_EQ(NtfsCheckNotInUse(c.record.data()), c.notInUse);
    EXPECT_EQ(NtfsCheckBaseRecord(c.record.data()), c.base);
    std::vector<uint8_t> data;
    EXPECT_EQ(NtfsFindDataAttribute(c.record.data(), &data), RAWFS_NO_DATA);
  }
  // Fix-ups: a torn stride, a fix-up array outside the record, a record that is no FILE record.
  auto torn = Record(1, 0, {win32});
  torn[1022] = 0x77;
  EXPECT_FALSE(NtfsApplyFixups(torn.data()));
  EXPECT_EQ(NtfsCheckFileMagic(torn.data()), RAWFS_NOT_FILE_RECORD);
  EXPECT_EQ(NtfsParentRecord(torn.data()), 0u);
  auto outside = Record(1, 0, {win32});
  outside[4] = 0xFE, outside[5] = 0x03;
  EXPECT_FALSE(NtfsApplyFixups(outside.data()));
  std::vector<uint8_t> junk(kNtfsRecordBytes, 0x41);
  EXPECT_EQ(NtfsCheckFileMagic(junk.data()), RAWFS_NOT_FILE_RECORD);
  EXPECT_EQ(NtfsParentRecord(junk.data()), 0u);
  // An attribute whose length runs past the record ends the walk.
  auto long_attr = Record(1, 0, {win32});
  NtfsApplyFixups(long_attr.data());
  long_attr[0x38 + 4] = 0xF0, long_attr[0x38 + 5] = 0x7F;
  CString long_name, dos_name;
  NtfsGetFileName(long_attr.data(), &long_name, &dos_name);
  EXPECT_TRUE(long_name.IsEmpty());
  EXPECT_EQ(NtfsCheckPlainFile(long_attr.data()), RAWFS_NO_NAME_FILE);
}

}  // namespace
