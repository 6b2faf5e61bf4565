// The disk and drive-letter tables on simulated PCs: listed disks and their
// gaps, letters mapped to disks and partitions (checked against the mount
// manager's published table), letter volumes in native sectors, list rows,
// the system disk, the one-click destination, bounded tables, and the small
// file tests on FAT volumes made by mkfs.fat and mtools.
#include "disk/disk_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/disk_access.h"
#include "disk/drive_identity.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "fixture_images.h"
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/registry/registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;
using disk_fixture::VolumeFile;
using platform::machine::BusType;

uint64_t MiB(uint64_t n, uint32_t ss) { return (n << 20) / ss; }

class DiskTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
    ShellState = ShellStateRecord{};
  }
  void TearDown() override { ShellState = ShellStateRecord{}; }

  // A disk with `n` NTFS-typed primaries (left unformatted) of 8 MiB each.
  void PrimaryDisk(int number, int n, uint32_t ss = 512, uint64_t size = 256ull << 20) {
    pc.AddDisk(DiskSpec{.number = number, .sizeBytes = size, .sectorSize = ss});
    std::vector<Part> parts;
    for (int i = 0; i < n; ++i) parts.push_back({.start = MiB(1 + 10 * i, ss), .count = MiB(8, ss), .mbrType = 0x07});
    pc.WriteMbr(number, parts);
  }

  SimulatedPc pc;
};

TEST_F(DiskTablesTest, ListedNumbersFollowThePhysicalDisksAndBridgeOneGap) {
  struct Case {
    std::vector<int> present;
    std::vector<int> listed;  // physical number of listed 1, 2, ...
    uint64_t probeCostMs;     // read-only opens of missing disks: 3 x 200 ms each
  } cases[] = {
      {{0, 1}, {0, 1}, 600},        // physical 2 is probed too, and is absent
      {{0, 2}, {0, 2}, 600},        // the gap at 1 is bridged once
      {{0, 2, 3}, {0, 2, 3}, 600},
      {{0, 3}, {0}, 1200},          // two missing numbers: the count is used up
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.present.size() << " disks, last " << c.present.back());
    SimulatedPc local;
    for (int n : c.present) local.AddDisk(DiskSpec{.number = n, .sizeBytes = (32ull + n) << 20});
    local.Boot();
    DiskContext = DiskContextRecord{};
    DiskContext.diskCount = ReadDiskCount();
    EXPECT_EQ(DiskContext.diskCount, static_cast<int32_t>(c.present.size()));
    uint64_t before = platform::Clock::instance().now_ms();
    EnumerateDisks();
    EXPECT_EQ(platform::Clock::instance().now_ms() - before, c.probeCostMs);
    for (size_t i = 0; i < c.listed.size(); ++i) {
      int p = c.listed[i];
      EXPECT_EQ(DiskContext.listedToPhysical[i + 1], p);
      EXPECT_EQ(DiskContext.listedDiskSize[i + 1], ReadDiskGeometry(p));
      EXPECT_EQ(DiskContext.listedModel[i + 1], CString(DriveIdentities[p].modelText));
    }
    for (size_t i = c.listed.size() + 1; i <= kMaxListedDisks; ++i) EXPECT_EQ(DiskContext.listedToPhysical[i], -1);
  }
}

// A listed index kept from before a disk went away names no disk once the
// disks are enumerated again, for every lookup alike, although the table's
// slot still holds the departed disk's size and model.
TEST_F(DiskTablesTest, AListedIndexKeptAcrossADetachNamesNoDisk) {
  for (int n : {0, 1, 2}) pc.AddDisk(DiskSpec{.number = n, .sizeBytes = (32ull + n) << 20, .product = "Disk" + std::to_string(n)});
  pc.Boot();
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  const ListedDiskIndex kept{2};
  ASSERT_EQ(ListedPhysicalDisk(kept).value, 2);
  ASSERT_EQ(ListedSize(kept), ReadDiskGeometry(2));
  ASSERT_EQ(ListedIndexOfPhysical(PhysicalDiskNumber{2}).value, 2);

  pc.SetIni("disk 2", "attached", "no");
  platform::storage::PollDeviceChanges();
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  ASSERT_EQ(DiskContext.diskCount, 2);
  ASSERT_NE(DiskContext.listedDiskSize[3], 0u) << "the departed disk's slot is left as it was";
  EXPECT_TRUE(ListedPhysicalDisk(kept).is_none());
  EXPECT_EQ(ListedSize(kept), 0u);
  EXPECT_TRUE(ListedModel(kept).IsEmpty());
  EXPECT_TRUE(ListedBusName(kept).IsEmpty());
  EXPECT_TRUE(ListedIndexOfPhysical(PhysicalDiskNumber{2}).is_none());
  // The disks that stay keep their indexes.
  EXPECT_EQ(ListedIndexOfPhysical(PhysicalDiskNumber{1}).value, 1);
  EXPECT_EQ(ListedSize(ListedDiskIndex{1}), ReadDiskGeometry(1));
}

TEST_F(DiskTablesTest, BusNamesAndModelsComeFromTheIdentityProbe) {
  struct Case {
    BusType bus;
    const char16_t* name;
  } cases[] = {{BusType::Ata, u"IDE"},  {BusType::Scsi, u"SCSI"}, {BusType::Usb, u"USB"},   {BusType::Sata, u"SATA"},
               {BusType::Sas, u"SCSI"}, {BusType::Nvme, u"NVMe"}, {BusType::Raid, u"RAID"}, {BusType::Sd, u"Other"}};
  int n = 0;
  for (auto& c : cases) {
    pc.AddDisk(DiskSpec{.number = n, .sizeBytes = 16 << 20, .bus = c.bus, .vendor = "VEND" + std::to_string(n),
                        .product = "Model" + std::to_string(n)});
    ++n;
  }
  pc.Boot();
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(DiskContext.listedBusName[i + 1], CString(cases[i].name));
    EXPECT_NE(DiskContext.listedModel[i + 1].Find(CString(("Model" + std::to_string(i)).c_str())), -1)
        << platform::to_utf8(DiskContext.listedModel[i + 1].GetString());
  }
}

TEST_F(DiskTablesTest, LettersMapToDisksPartitionsAndNativeExtents) {
  PrimaryDisk(0, 2, 512);
  PrimaryDisk(1, 1, 4096);
  pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 256ull << 20, .sectorSize = 4096});
  pc.WriteGpt(2, {{.start = MiB(1, 4096), .count = MiB(64, 4096), .name = u"data"}});
  pc.AppendIni("[mount cd]\npath = R:\nhost = .\ndrive_type = cdrom\n");
  pc.Boot();
  DetectSystemAndSpecialDisks();

  int mapped = 0;
  for (auto& v : platform::storage::MountedVolumes()) {
    if (!v.letter || v.disk_number < 0) continue;
    SCOPED_TRACE(static_cast<char>(v.letter));
    ++mapped;
    int index = v.letter - u'A';
    EXPECT_EQ(DiskContext.letterToDisk[index], v.disk_number + 1);
    EXPECT_EQ(DiskContext.letterPartitionNumber[index], v.partition_number);
    uint32_t ss = pc.SectorSize(v.disk_number);
    bool listed = false;
    for (int l = 1; l <= DiskContext.letterVolumeCount; ++l) {
      const LetterVolume& lv = DiskContext.letterVolumes[l];
      if (lv.letter != v.letter) continue;
      listed = true;
      EXPECT_EQ(lv.start, v.offset / ss) << "native sectors";
      EXPECT_EQ(lv.length, v.length / ss);
      EXPECT_EQ(lv.partitionNumber, v.partition_number);
      EXPECT_EQ(FindLetterByOffset(v.offset / 512, v.disk_number), v.letter);
      EXPECT_EQ(FindLetterByOffset(v.offset / 512, v.disk_number + 5), -1) << "a disk that is not there";
      EXPECT_EQ(FindLetterByOffset(v.offset / 512 + 8, v.disk_number), -1);
    }
    EXPECT_TRUE(listed);
  }
  EXPECT_EQ(mapped, 4);
  EXPECT_EQ(DiskContext.letterVolumeCount, 4) << "the CD letter R: has no letter volume";
  EXPECT_EQ(DiskContext.letterToDisk['R' - 'A'], -1);
  for (int l = 2; l <= DiskContext.letterVolumeCount; ++l)
    EXPECT_LT(DiskContext.letterVolumes[l - 1].letter, DiskContext.letterVolumes[l].letter) << "letter order";
}

TEST_F(DiskTablesTest, RowsListDisksAndTheirLetteredPartitions) {
  // Disk 0: three lettered partitions and a Linux one without a letter.
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20});
  pc.WriteMbr(0, {{.start = MiB(1, 512), .count = MiB(8, 512), .mbrType = 0x07},
                  {.start = MiB(10, 512), .count = MiB(8, 512), .mbrType = 0x83},
                  {.start = MiB(20, 512), .count = MiB(8, 512), .mbrType = 0x07},
                  {.start = MiB(30, 512), .count = MiB(8, 512), .mbrType = 0x0C}});
  PrimaryDisk(1, 1, 4096);
  pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 64ull << 20});  // empty
  pc.Boot();
  DetectSystemAndSpecialDisks();
  std::vector<int> kinds(DiskListRows.rowKind, DiskListRows.rowKind + DiskListRows.rowCount);
  EXPECT_EQ(kinds, (std::vector<int>{-1, 0, 0, 0, -2, 4, -3}));
  EXPECT_EQ(DiskListRows.rowStart[1], MiB(1, 512));
  EXPECT_EQ(DiskListRows.rowStart[2], MiB(20, 512)) << "the Linux partition has no letter and no row";
  EXPECT_EQ(DiskListRows.rowSlot[2], 2);
  EXPECT_EQ(DiskListRows.rowStart[5], MiB(1, 4096) * 8) << "512-byte units on the 4096-byte disk";
  EXPECT_EQ(DiskListRows.rowLength[5], MiB(8, 4096) * 8);
  EXPECT_EQ(DiskListRows.partitionsPerDisk[1], 4);
  EXPECT_EQ(DiskListRows.partitionsPerDisk[2], 1);
  EXPECT_EQ(DiskListRows.partitionsPerDisk[3], 0);
  EXPECT_EQ(DiskContext.systemDisk.value, 0) << "C: is on disk 0 and the Windows folder is C:\\Windows";
  EXPECT_EQ(DiskContext.destinationDisk.value, 2) << "the only empty disk";
}

TEST_F(DiskTablesTest, RowsAndListedDisksStayWithinTheirTables) {
  // Six disks of four lettered partitions would need 30 rows.
  for (int n = 0; n < 6; ++n) PrimaryDisk(n, 4);
  pc.Boot();
  DiskListRows.partitionsPerDisk[kMaxListedDisks] = 0x5A5A;
  DetectSystemAndSpecialDisks();
  EXPECT_EQ(DiskListRows.rowCount, kMaxListRows);
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(DiskListRows.partitionsPerDisk[n], 4) << n;
  EXPECT_EQ(DiskListRows.partitionsPerDisk[kMaxListedDisks], 0x5A5A) << "untouched past the listed disks";
  EXPECT_EQ(DiskListRows.rowKind[25], -6) << "the sixth disk row is the last; its partitions find no room";
  EXPECT_EQ(DiskContext.systemDisk.value, 0);

  // A registry that claims 100 disks: the listed tables are never read past 15.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD count = 100;
  RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
  RegCloseKey(key);
  DetectSystemAndSpecialDisks();
  EXPECT_EQ(DiskContext.diskCount, 100);
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(DiskContext.listedToPhysical[n], n - 1);
  for (int n = 7; n <= kMaxListedDisks; ++n) EXPECT_EQ(DiskContext.listedToPhysical[n], -1);
  EXPECT_EQ(DiskListRows.rowCount, kMaxListRows);
}

TEST_F(DiskTablesTest, OneClickDestinationIsTheLargestEmptyOrTheMarkedDisk) {
  struct Case {
    const char* what;
    bool autoMode;
    std::vector<uint64_t> sizesMiB;  // 0 = no disk at that number
    std::vector<bool> partitioned;
    std::vector<bool> marked;
    std::vector<bool> blankModel;
    int destination;
  } cases[] = {
      {"two equal empty disks: the first", false, {64, 128, 128}, {true, false, false}, {}, {}, 1},
      {"a larger empty disk after them replaces it", false, {64, 128, 128, 256}, {true, false, false, false}, {}, {}, 3},
      {"no empty disk", false, {64, 64}, {true, true}, {}, {}, -1},
      {"blank model: never the destination", false, {64, 256, 128}, {true, false, false}, {}, {false, true, false}, 2},
      {"auto mode: the marked disk, partitions or not", true, {64, 256, 128}, {true, false, true},
       {false, false, true}, {}, 2},
      {"auto mode: an empty unmarked disk never", true, {64, 256}, {true, false}, {}, {}, -1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedPc local;
    for (size_t i = 0; i < c.sizesMiB.size(); ++i) {
      bool blank = i < c.blankModel.size() && c.blankModel[i];
      local.AddDisk(DiskSpec{.number = static_cast<int>(i), .sizeBytes = c.sizesMiB[i] << 20,
                             .vendor = blank ? "" : "ACME", .product = blank ? "" : "Disk"});
      if (c.partitioned[i]) local.WriteMbr(static_cast<int>(i), {{.start = 2048, .count = 16384, .mbrType = 0x07}});
      if (i < c.marked.size() && c.marked[i]) local.WriteBytes(static_cast<int>(i), 16, std::string(kOneTouchDiskMarker));
      if (blank) {
        local.SetIni("disk " + std::to_string(i), "vendor", "");
        local.SetIni("disk " + std::to_string(i), "product", "");
      }
    }
    local.Boot();
    DiskContext = DiskContextRecord{};
    ShellState.oneClickAutoMode = c.autoMode;
    DetectSystemAndSpecialDisks();
    EXPECT_EQ(DiskContext.destinationDisk.value, c.destination);
    for (int r = 0; r < DiskListRows.rowCount; ++r) {
      if (DiskListRows.rowKind[r] < 0) {
        EXPECT_FALSE(DiskContext.listedModel[-DiskListRows.rowKind[r]].Trim().IsEmpty()) << "a blank model gets no row";
      }
    }
  }
}

TEST_F(DiskTablesTest, SystemDiskUnderWinPeIsTheOneWithWindowsAndABootFile) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20});
  pc.WriteMbr(0, {{.start = 2048, .count = MiB(64, 512), .mbrType = 0x0C, .fs = "fat32", .label = "DATA",
                   .files = {{"/Windows/readme.txt", "no boot file here"}}}});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 128ull << 20});
  pc.WriteMbr(1, {{.start = 2048, .count = MiB(64, 512), .mbrType = 0x0C, .fs = "fat32", .label = "SYS",
                   .files = {{"/Windows/System32/kernel32.dll", "MZ"}, {"/bootmgr", "boot"}}}});
  pc.Boot();
  ShellState.winPEMode = true;
  DetectSystemAndSpecialDisks();
  EXPECT_EQ(DiskContext.systemDisk.value, 1);
  ShellState.winPEMode = false;
  DetectSystemAndSpecialDisks();
  EXPECT_EQ(DiskContext.systemDisk.value, 0) << "outside WinPE the Windows directory's letter C: decides";
}

TEST_F(DiskTablesTest, FileTestsRecogniseSystemAndBootPartitions) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20});
  pc.WriteMbr(0, {{.start = 2048, .count = MiB(64, 512), .mbrType = 0x0C, .fs = "fat32", .label = "XP",
                   .files = {{"/NTDETECT.COM", "x"},
                             {"/winstuff/notes.txt", "x"},
                             {"/WINDOWS/system32/kernel32.dll", "MZ"},
                             {"/ntldr", "x"}}},
                  {.start = MiB(70, 512), .count = MiB(64, 512), .mbrType = 0x0C, .fs = "fat32", .label = "BOOT",
                   .files = {{"/BOOT/BCD", "regf"}, {"/Winnt/readme.txt", "x"}}},
                  {.start = MiB(140, 512), .count = MiB(64, 512), .mbrType = 0x0C, .fs = "fat32", .label = "EMPTY"}});
  pc.Boot();
  DetectSystemAndSpecialDisks();
  WCHAR c = u'C', d = u'D', e = u'E';
  EXPECT_EQ(MakeDriveText(d), CString(u"D:"));
  struct Case {
    const char* what;
    bool got, want;
  } cases[] = {
      {"NTDETECT.COM on C:", HasNtdetect(c), true},
      {"NTDETECT.COM on D:", HasNtdetect(d), false},
      {"kernel32 in the second win* folder of C:", HasWindowsSystem(c), true},
      {"win* folder without kernel32 on D:", HasWindowsSystem(d), false},
      {"no win* folder on E:", HasWindowsSystem(e), false},
      {"WINDOWS\\SYSTEM32 on C:", HasWindowsSystem32(c), true},
      {"WINDOWS\\SYSTEM32 under root C:", HasSystem32Folder(u"C:"), true},
      {"WINDOWS\\SYSTEM32 under root D:", HasSystem32Folder(u"D:"), false},
      {"BOOT\\BCD on D:", HasBootBcd(u"D:"), true},
      {"BOOT\\BCD with an empty root", HasBootBcd(CString()), false},
      {"BOOT\\BCD on C:", DriveHasBootBcd(c), false},
      {"BOOT\\BCD on drive D:", DriveHasBootBcd(d), true},
      {"Windows partition C: (Windows folder, ntldr)", IsWindowsPartition(u"C:"), true},
      {"Winnt folder without boot files on D:", IsWindowsPartition(u"D:"), false},
      {"nothing on E:", IsWindowsPartition(u"E:"), false},
      {"Windows directory on C:", IsWindowsDirectoryDrive(c), true},
      {"lower-case c is another character", IsWindowsDirectoryDrive(u'c'), false},
  };
  for (auto& t : cases) EXPECT_EQ(t.got, t.want) << t.what;
  EXPECT_EQ(WindowsDirectoryLetter(), u'C');

  EXPECT_EQ(BootDirLetter(), 0) << "no Setup key";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t dir[] = u"d:\\";
  RegSetValueExW(key, u"BootDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir), sizeof dir);
  RegCloseKey(key);
  EXPECT_EQ(BootDirLetter(), u'D');
}

}  // namespace
