// The boot repair of a system copied onto a GPT disk, on simulated disks of
// 512- and 4096-byte sectors: the EFI system partition image written at the
// planned start in native sectors (compared byte by byte, checked with
// fsck.fat -n and mtools, a short last piece padded with zeros), the offline
// SYSTEM hive's MountedDevices (read back with hivexsh, the GUID taken from
// the raw GPT entry array), and the boot store on the ESP edited by the BCD
// editor (read back with mtools and hivexsh).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "disk/disk_access.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "disk/shadow_copy.h"
#include "mainapp/clone/bcd_repair.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/clone/registry_repair.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/process/bcd_store.h"
#include "platform/startup/startup.h"
#include "platform/storage/volume_table.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

constexpr uint64_t kEspEnd = 128ull << 20;

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using clone_fixture::PutFile;

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) out += std::string{digits[bytes[i] >> 4], digits[bytes[i] & 15]};
  return out;
}

class BootRepairTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    platform::startup::ConnectLayers();  // offline hives on the simulated PC's volumes
    DiskContext = DiskContextRecord{};
    CloneSettings = CloneSettingsRecord{};
    CloneRunState = CloneRunStateRecord{};
    ss = GetParam();
    espStart = ss == 512 ? 34 : 6;  // native sectors
    systemStart = kEspEnd / ss;
    systemCount = (96ull << 20) / ss;
    program = pc.folder() + "/prog";
    temp = pc.folder() + "/temp";
    std::filesystem::create_directories(program + "/Resources");
    std::filesystem::create_directories(temp + "/Windows/System32");  // where cmd.exe is found
    for (const char* file : {"espimage", "espimage4096", "Vastrel.exe"})
      std::filesystem::copy_file(std::string(DRUM_STAGE_DIR) + "/Resources/" + file,
                                 program + "/Resources/" + file);
    pc.AppendIni("\n[mount P]\npath = P:\nhost = " + program + "\ndrive_type = remote\n" +
                 "\n[mount T]\npath = T:\nhost = " + temp + "\ndrive_type = fixed\n");
    pc.SetIni("os", "system_folder", "T:\\Windows\\System32");
    ShellState.programFolder = u"P:";
    TempFolder = u"T:\\";

    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20, .sectorSize = ss});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 256ull << 20, .sectorSize = ss, .serial = "SN0002"});
    // The destination as the layout writer leaves it: a GPT whose first
    // partition is the (still empty) EFI system partition, then the copied system.
    pc.WriteGpt(1, {{.start = espStart, .count = kEspEnd / ss - espStart, .gptType = disk_fixture::kGptEsp},
                    {.start = systemStart, .count = systemCount, .fs = "ntfs", .label = "SYSTEM"}});
    pc.Boot();
    DetectSystemAndSpecialDisks();
    CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
    CloneSettings.convertToGpt = 1;
    DiskContext.layoutRealCount = 2;
    DiskContext.layoutTable[0].newStartBytes = espStart * ss;
    DiskContext.layoutTable[0].newLengthBytes = kEspEnd - espStart * ss;
    DiskContext.layoutTable[1].newStartBytes = systemStart * ss;
    DiskContext.layoutTable[1].newLengthBytes = systemCount * ss;
    image = program + "/Resources/" + (ss == 512 ? "espimage" : "espimage4096");
  }

  // The unique GUID of GPT entry `index`, from the raw entry array at LBA 2.
  std::vector<uint8_t> RawPartitionId(int index) { return pc.ReadBytes(1, 2 * ss + 128 * index + 16, 16); }

  std::string ExtractEsp() {
    platform::fs::ReleaseAllDrivers();
    return pc.ExtractVolume(1, espStart, kEspEnd / ss - espStart, "esp.img");
  }

  uint32_t ss = 512;
  uint64_t espStart = 34, systemStart = 0, systemCount = 0;
  std::string program, temp;
  std::string image;  // the host file of the ESP image for this sector size
  SimulatedPc pc;
};

// The image is a FAT volume of the disk's own sector size that knows its
// place (hidden sectors): FAT32 on 512-byte disks, FAT16 on 4096-byte ones,
// whose 128 MiB ESP is too small for FAT32's 65,525 clusters of 4 KiB.
TEST_P(BootRepairTest, TheEspImageLandsAtItsNativeStart) {
  ASSERT_TRUE(WriteEspImage(1));
  const std::string bytes = ReadHostFile(image);
  ASSERT_GT(bytes.size(), 1u << 20);
  const auto written = pc.ReadBytes(1, espStart * ss, bytes.size());
  EXPECT_TRUE(std::string(written.begin(), written.end()) == bytes) << "byte for byte at byte " << espStart * ss;
  const std::string esp = ExtractEsp();
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n -v '" + esp + "'", &out), 0) << out;
  EXPECT_NE(out.find(std::to_string(ss) + " bytes per logical sector"), std::string::npos) << out;
  EXPECT_NE(out.find(ss == 512 ? "32 bit entries" : "16 bit entries"), std::string::npos) << out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 minfo -i '" + esp + "'", &out), 0) << out;
  EXPECT_NE(out.find("sector size: " + std::to_string(ss) + " bytes"), std::string::npos) << out;
  EXPECT_NE(out.find("hidden sectors: " + std::to_string(espStart) + "\n"), std::string::npos) << out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdir -i '" + esp + "' ::/EFI/Microsoft/Boot", &out), 0) << out;
  EXPECT_NE(out.find("BCD"), std::string::npos) << out;
  EXPECT_NE(out.find("bootmgfw"), std::string::npos) << out;
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
}

TEST_P(BootRepairTest, AShortLastPieceIsPaddedWithZerosAndAnImageTooLargeIsRefused) {
  const std::string small = disk_fixture::Pattern(40000, 9);
  std::ofstream(image, std::ios::binary | std::ios::trunc) << small;
  pc.WriteBytes(1, espStart * ss, std::string(3 * 16384 + 512, '\xEE'));
  ASSERT_TRUE(WriteEspImage(1));
  const auto written = pc.ReadBytes(1, espStart * ss, 3 * 16384 + 512);
  EXPECT_TRUE(std::string(written.begin(), written.begin() + small.size()) == small);
  EXPECT_TRUE(
      std::all_of(written.begin() + small.size(), written.begin() + 3 * 16384, [](uint8_t b) { return b == 0; }))
      << "three pieces of 32 units, the third padded with zeros";
  EXPECT_EQ(written[3 * 16384], 0xEE) << "nothing after the third piece";

  DiskContext.layoutTable[0].newLengthBytes = small.size() - 1;
  pc.WriteBytes(1, espStart * ss, std::string(512, '\x11'));
  EXPECT_FALSE(WriteEspImage(1)) << "the image does not fit the planned partition";
  EXPECT_EQ(pc.ReadBytes(1, espStart * ss, 1)[0], 0x11);
  std::filesystem::remove(image);
  DiskContext.layoutTable[0].newLengthBytes = kEspEnd;
  EXPECT_FALSE(WriteEspImage(1)) << "no image";
  EXPECT_EQ(pc.ReadBytes(1, espStart * ss, 1)[0], 0x11);
}

TEST_P(BootRepairTest, MountedDevicesBindsCToTheNewSystemPartition) {
  // The copied system's SYSTEM hive with the letters of the old disk.
  const std::string script = "add MountedDevices\ncd MountedDevices\nsetval 4\n"
                             "\\DosDevices\\C:\nhex:3:0102030405060708090a0b0c\n"
                             "\\DosDevices\\D:\nhex:3:0d0e0f\n"
                             "\\DosDevices\\E:\nhex:3:101112\n"
                             "\\DosDevices\\F:\nhex:3:131415\ncommit\n";
  clone_fixture::PutSystemHive(temp + "/SYSTEM", "SYSTEM", script, u"C:");
  std::string out;
  CloneRunState.systemDestinationCopy = u"C:";
  CloneRunState.systemEntryIndex = 1;

  ASSERT_TRUE(FixMountedDevices(ListedDiskIndex{1}));

  platform::fs::ReleaseAllDrivers();
  const std::string volume = pc.ExtractVolume(1, systemStart, systemCount, "system.img");
  ASSERT_EQ(Shell("ntfscat '" + volume + "' /Windows/System32/Config/SYSTEM > '" + pc.folder() + "/copied'"), 0);
  ASSERT_EQ(Shell("printf 'cd MountedDevices\\nlsval\\n' | hivexsh '" + pc.folder() + "/copied'", &out),
            0);
  const std::vector<uint8_t> id = RawPartitionId(1);
  std::string record = "444d494f3a49443a" + Hex(id.data(), 16);  // "DMIO:ID:" + GUID
  std::string listed;
  for (char c : out)
    if (c != ',') listed += c;
  EXPECT_NE(listed.find(record), std::string::npos) << out;
  EXPECT_EQ(out.find("DosDevices\\\\D:"), std::string::npos) << out;
  EXPECT_EQ(out.find("DosDevices\\\\E:"), std::string::npos) << out;
  EXPECT_NE(out.find("DosDevices\\\\F:"), std::string::npos) << "other letters stay\n" << out;

  // No partition at the planned start: the hive is left alone.
  DiskContext.layoutTable[1].newStartBytes += ss;
  EXPECT_FALSE(FixMountedDevices(ListedDiskIndex{1}));
}

TEST_P(BootRepairTest, TheBootStoreNamesTheCopiedSystem) {
  ASSERT_TRUE(WriteEspImage(1));
  ASSERT_TRUE(RepairBcd(u"C:")) << ReadHostFile(pc.folder() + "/machine.log");

  EXPECT_EQ(pc.ReadBytes(1, 510, 2), (std::vector<uint8_t>{0x55, 0xAA})) << "the boot signature is back";
  const std::string esp = ExtractEsp();
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n '" + esp + "'", &out), 0) << out;
  const std::string store = pc.folder() + "/BCD.copy";
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + esp + "' ::/EFI/Microsoft/Boot/BCD '" + store + "'", &out), 0)
      << out;
  // The loader names the system partition by the disk's own GUID and the
  // partition's, as fdisk reads them from the disk.
  ASSERT_EQ(Shell("fdisk -b " + std::to_string(ss) + " -l -o Start,UUID '" + pc.Image(1) + "'", &out), 0) << out;
  std::smatch disk, system;
  ASSERT_TRUE(std::regex_search(out, disk, std::regex("Disk identifier: ([0-9A-Fa-f-]+)"))) << out;
  ASSERT_TRUE(std::regex_search(out, system, std::regex("\\n\\s*" + std::to_string(systemStart) + "\\s+([0-9A-Fa-f-]+)")))
      << out;
  clone_fixture::ExpectStoreNamesSystem(store, clone_fixture::GptDeviceHex(disk[1], system[1]));
  if (ss == 512) {
    EXPECT_EQ(Shell("sgdisk -v '" + pc.Image(1) + "'", &out), 0) << out;
    EXPECT_NE(out.find("No problems found"), std::string::npos) << out;
  }
}

// The BCD editor names a partition in the binary form the boot manager
// reads, wherever the disk is attached: a volume of an MBR disk by the disk's
// signature and the partition's byte offset, a volume of a GPT disk by the
// disk's GUID and the partition's, as fdisk reads them from the disks (read
// back with hivexsh); its listing shows both by their letters again.
TEST_P(BootRepairTest, TheEditorNamesPartitionsByTheirDisks) {
  pc.WriteMbr(0, {{.start = (1 << 20) / ss, .count = (32 << 20) / ss, .mbrType = 0x07, .fs = "ntfs", .label = "MBR"}},
              0x600DD15C);
  pc.Boot();
  WCHAR mbrLetter = 0;
  for (const auto& v : platform::storage::MountedVolumes())
    if (v.disk_number == 0 && v.letter) mbrLetter = v.letter;
  ASSERT_NE(mbrLetter, 0);
  const std::string loader = "{11111111-2222-3333-4444-555555555555}";
  ASSERT_TRUE(platform::process::CreateBcdStoreFile(temp + "/STORE", platform::process::BcdBootDevice(),
                                                    {{loader, "Windows", platform::process::BcdBootDevice()}}));
  WCHAR device[256] = {};
  ASSERT_GT(QueryDosDeviceW(u"C:", device, 256), 0u);
  const CString store = u"/store \"T:\\STORE\"  /set ";
  EXPECT_TRUE(RunBcdTool(store + CString(loader.c_str()) + u" device partition=" + device));
  EXPECT_TRUE(RunBcdTool(store + CString(loader.c_str()) + u" osdevice partition=" + CString(mbrLetter) + u":"));
  EXPECT_FALSE(RunBcdTool(store + CString(loader.c_str()) + u" osdevice partition=Q:")) << "no such volume";
  ASSERT_TRUE(RunBcdToolViaScript(u"/store \"T:\\STORE\"", u"T:\\STORE.TXT"));
  const std::string listing = ReadHostFile(temp + "/STORE.TXT");
  EXPECT_NE(listing.find("device                  partition=C:"), std::string::npos) << listing;
  EXPECT_NE(listing.find(std::string("osdevice                partition=") + static_cast<char>(mbrLetter) + ":"),
            std::string::npos) << listing;

  std::string out;
  auto fdisk = [&](int disk, const char* columns) {
    EXPECT_EQ(Shell("fdisk -b " + std::to_string(ss) + " -l " + columns + " '" + pc.Image(disk) + "'", &out), 0) << out;
    return out;
  };
  std::smatch id, start;
  const std::string mbr = fdisk(0, "");
  ASSERT_TRUE(std::regex_search(mbr, id, std::regex("Disk identifier: 0x([0-9a-f]+)"))) << mbr;
  const std::string gpt = fdisk(1, "-o Start,UUID");
  std::smatch disk, system;
  ASSERT_TRUE(std::regex_search(gpt, disk, std::regex("Disk identifier: ([0-9A-Fa-f-]+)"))) << gpt;
  ASSERT_TRUE(std::regex_search(gpt, system, std::regex("\\n\\s*" + std::to_string(systemStart) + "\\s+([0-9A-Fa-f-]+)")))
      << gpt;
  const std::string hive = temp + "/STORE";
  EXPECT_EQ(clone_fixture::StoreElementHex(hive, loader, "11000001"), clone_fixture::GptDeviceHex(disk[1], system[1]));
  EXPECT_EQ(clone_fixture::StoreElementHex(hive, loader, "21000001"),
            clone_fixture::MbrDeviceHex(static_cast<uint32_t>(std::stoul(id[1], nullptr, 16)), 1 << 20));
}

TEST_P(BootRepairTest, NoStoreChangesNothing) {
  const auto before = pc.ReadBytes(1, 0, 64 * 1024);
  EXPECT_FALSE(RepairBcd(u"C:")) << "the ESP is still empty";
  EXPECT_EQ(pc.ReadBytes(1, 0, 64 * 1024), before);
}

// The copied system's SOFTWARE hive: every profile path of a user key
// ("S-1-5...") that names C: names the system drive instead, as an
// expandable string; other keys keep theirs. Read back with hivexsh.
TEST_P(BootRepairTest, ProfilePathsNameTheSystemDrive) {
  const std::string script =
      "add Microsoft\ncd Microsoft\nadd Windows NT\ncd Windows NT\nadd CurrentVersion\ncd CurrentVersion\n"
      "add ProfileList\ncd ProfileList\nadd S-1-5-21-1001\nadd Defaults\ncd S-1-5-21-1001\n"
      "setval 1\nProfileImagePath\nstring:C:\\Users\\ann\ncd ..\ncd Defaults\n"
      "setval 1\nProfileImagePath\nstring:C:\\Users\\Default\ncommit\n";
  clone_fixture::PutSystemHive(temp + "/SOFTWARE", "SOFTWARE", script, u"C:");
  std::string out;
  CloneRunState.systemDestinationCopy = u"C:";

  EXPECT_EQ(FixProfileImagePaths(), 1);

  platform::fs::ReleaseAllDrivers();
  const std::string volume = pc.ExtractVolume(1, systemStart, systemCount, "system.img");
  ASSERT_EQ(Shell("ntfscat '" + volume + "' /Windows/System32/Config/SOFTWARE > '" + pc.folder() + "/software'"), 0);
  auto values = [&](const std::string& key) {
    std::string listing;
    Shell("printf 'cd Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + key + "\nlsval\n' | hivexsh '" +
              pc.folder() + "/software'",
          &listing);
    return listing;
  };
  const std::string user = values("S-1-5-21-1001");
  EXPECT_NE(user.find("str(2):\"%SystemDrive%\\\\Users\\\\ann\""), std::string::npos) << user;
  const std::string defaults = values("Defaults");
  EXPECT_NE(defaults.find("C:\\\\Users\\\\Default"), std::string::npos) << defaults;
}

// The single FAT32 entry: the first track of the chosen destination zeroed,
// then one partition of type 0x0C at the planned place, as fdisk reads it.
TEST_P(BootRepairTest, SingleEntryLayoutWritesOneFat32Partition) {
  pc.WriteBytes(0, 0, std::string(63 * 512, '\x5A'));
  DestinationSelection = DiskSelectionRecord{};
  DestinationSelection.diskNumber = PhysicalDiskNumber{0};
  DiskContext.layoutTable[0].newStartBytes = 1 << 20;
  DiskContext.layoutTable[0].newLengthBytes = 32 << 20;
  std::vector<uint8_t> layout(kLayoutBufferSize, 0);
  reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(layout.data())->PartitionCount = 4;
  ASSERT_TRUE(WriteSingleEntryLayout(0, layout.data()));
  const auto rows = disk_fixture::FdiskRows(pc.Image(0), ss, "Start,Sectors,Id");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{std::to_string((1 << 20) / ss), std::to_string((32 << 20) / ss), "c"}));
  const auto track = pc.ReadBytes(0, 0, 446);
  EXPECT_EQ(std::count(track.begin(), track.end(), 0x5A), 0) << "the old first track is gone";
}

INSTANTIATE_TEST_SUITE_P(Disks, BootRepairTest, ::testing::Values(512u, 4096u));

TEST(BcdListing, TheFirstManagerAndLoaderIdentifiers) {
  const char* japaneseLoader =
      "Windows \xE3\x83\x96\xE3\x83\xBC\xE3\x83\x88 \xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x80\xE3\x83\xBC";
  const std::string listing =
      "\r\nWindows Boot Manager\r\n--------------------\r\nidentifier              {bootmgr}\r\n"
      "device                  partition=C:\r\n"
      "\r\nWindows \xE3\x83\x96\xE3\x83\xBC\xE3\x83\x88 \xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x80\xE3\x83\xBC\r\n"
      "--------------------\r\nidentifier              {11111111-2222-3333-4444-555555555555}\r\n"
      "\r\nWindows Boot Loader\r\n-------------------\r\nidentifier              {default}\r\n";
  const char* manager[] = {"Windows Boot Manager"};
  const char* loader[] = {"Windows Boot Loader", japaneseLoader};
  EXPECT_EQ(FindBcdIdentifier(listing, manager, 1), "{bootmgr}");
  EXPECT_EQ(FindBcdIdentifier(listing, loader, 2), "{11111111-2222-3333-4444-555555555555}") << "the first loader";
  EXPECT_EQ(FindBcdIdentifier(listing, loader, 1), "{default}");
  EXPECT_EQ(FindBcdIdentifier("Windows Boot Loader\r\n---\r\n", loader, 1), "") << "no identifier line";
}

}  // namespace
