// The clone run end to end on a simulated PC: the clone page opened as the
// wizard leaves it (basic whole-disk copy, automatic sizing, verify on), its
// Start pressed headless, and the copy checked with tools that did not write
// it: sfdisk for the new table, ntfs-3g's ntfsls/ntfscat/ntfsfix for the
// NTFS system partition, fsck.fat and mtools for the FAT32 data partition,
// cmp for the sector-by-sector copy. The source is a 512-byte disk with an
// active NTFS partition and a FAT32 one; destinations are a larger disk, a
// smaller but sufficient one, and a larger 4096-byte disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/shadow_copy.h"
#include "disk/drive_layout_table.h"
#include "mainapp/clone/clone_commands.h"
#include "mainapp/clone/clone_page.h"
#include "mainapp/clone/clone_summary_page.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/clone/plan_application.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/records/clone_counters.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/records/whole_disk_choice.h"
#include "mainapp/shell/clone_page_hook.h"
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"
#include "platform/process/bcd_store.h"
#include "platform/startup/startup.h"
#include "platform/registry/registry.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"
#include "tests/clone/clone_fixture.h"
#include "tests/disk/fixture_images.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using clone_fixture::PutFile;

constexpr uint64_t kMiB = 1ull << 20;
// The FAT32 partition is large enough for FAT32 with 4096-byte sectors too.
constexpr uint64_t kSystemStart = 2048, kSystemCount = 160 * 2048;   // 512-byte sectors
constexpr uint64_t kDataStart = 162 * 2048, kDataCount = 300 * 2048;


// Shows the summary page from the run's records under `script`, which must
// run through; returns the driver's log.
std::string ShowSummary(const platform::ui::Script& script) {
  std::ostringstream log;
  platform::ui::DriverOptions options;
  options.log = &log;
  platform::ui::HeadlessSession session(script, options);
  CMirrorProgressSummary summary;
  summary.DoModal();
  EXPECT_TRUE(session.driver().finished()) << log.str();
  return log.str();
}

// Snapshot records in use (shadow copies held by some process), from the
// machine folder's table: its header's second 8 bytes.
uint64_t SnapshotsInUse(const std::string& machineFolder) {
  std::ifstream table(machineFolder + "/snapshots.table", std::ios::binary);
  uint64_t header[2] = {};
  table.read(reinterpret_cast<char*>(header), sizeof header);
  return table ? header[1] : 0;
}

// A run's script with a log; the failure text, empty when it ran through.
std::string RunScript(const platform::ui::Script& script, std::string* logText = nullptr,
                      std::function<bool(bool, int, std::string*)> deviceHook = nullptr) {
  std::ostringstream log;
  platform::ui::DriverOptions options;
  options.log = &log;
  options.device_hook = std::move(deviceHook);
  std::string failure;
  {
    platform::ui::HeadlessSession session(script, options);
    try {
      RunClonePage(nullptr);
    } catch (const platform::ui::ScriptFailure& e) {
      failure = e.what();
    }
    if (failure.empty() && !session.driver().finished()) failure = "script not finished";
  }
  if (logText) *logText = log.str();
  if (!failure.empty()) failure += "\n" + log.str();
  return failure;
}

// The data of MountedDevices value `name` in a host copy of a SYSTEM hive, as
// hivexsh shows it, in hex without commas ("<none>" when there is none).
std::string MountedDeviceHex(const std::string& hive, const std::string& name) {
  std::string out;
  EXPECT_EQ(Shell("printf 'cd MountedDevices\\nlsval\\n' | hivexsh " + hive, &out), 0) << out;
  std::string shown;  // hivexsh doubles the backslashes of names
  for (char ch : name) shown += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
  const size_t at = out.find("\"" + shown + "\"=hex(3):");
  if (at == std::string::npos) return "<none>";
  std::string hex;
  for (size_t i = out.find(':', at + shown.size() + 2) + 1; i < out.size() && out[i] != '\n'; ++i)
    if (std::isxdigit(static_cast<unsigned char>(out[i]))) hex += out[i];
  return hex;
}

// The source disk's signature, and the name its system's volume has.
constexpr uint32_t kSourceSignature = 0x5EED1234;
constexpr const char* kSystemVolumeName = "\\??\\Volume{5e2d0c1a-0000-4000-8000-00000000c0de}";
// The boot store's loaders: of the system, and of a partition on another disk.
constexpr const char* kLoaderObject = "{6a0b1c2d-0000-4000-8000-0000000000aa}";
constexpr const char* kOtherLoaderObject = "{6a0b1c2d-0000-4000-8000-0000000000bb}";

// A MountedDevices record of an MBR disk's partition, in hex.
std::string MbrRecordHex(uint32_t signature, uint64_t offset) {
  return clone_fixture::LittleHex(signature, 4) + clone_fixture::LittleHex(offset, 8);
}

// The hivexsh script that makes a SYSTEM hive's MountedDevices key with the
// binary `values` (name, record in hex).
std::string MountedDevicesScript(const std::vector<std::pair<std::string, std::string>>& values) {
  std::string script = "add MountedDevices\ncd MountedDevices\nsetval " + std::to_string(values.size()) + "\n";
  for (const auto& [name, hex] : values) script += name + "\nhex:3:" + hex + "\n";
  return script + "commit\n";
}

class CloneRunTest : public clone_fixture::ClonePcTest {
 protected:
  void SetUp() override {
    ClonePcTest::SetUp();
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 640 * kMiB, .product = "Source Disk", .serial = "SN0"});
    Part system{.start = kSystemStart, .count = kSystemCount, .mbrType = 0x07, .active = true, .fs = "ntfs",
                .label = "SYSTEM"};
    system.files = {{"/bootmgr", disk_fixture::Pattern(300000, 3)}, {"/notes.txt", "the system partition\n"}};
    Part data{.start = kDataStart, .count = kDataCount, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"};
    data.files = {{"/DOCS/REPORT.BIN", disk_fixture::Pattern(1500000, 9)}, {"/README.TXT", "data\n"}};
    pc_.WriteMbr(0, {system, data}, 0x5EED1234);
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 900 * kMiB, .product = "Bigger Disk", .serial = "SN1"});
    pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 500 * kMiB, .product = "Smaller Disk", .serial = "SN2"});
    pc_.AddDisk(DiskSpec{.number = 3, .sizeBytes = 900 * kMiB, .sectorSize = 4096, .product = "Native 4K",
                         .serial = "SN3"});
    Start();
    RegisterCloneCommands();
  }

  ListedDiskIndex Listed(int n) {
    for (int i = 1; i <= DiskContext.diskCount && i <= kMaxListedDisks; ++i)
      if (DiskContext.listedToPhysical[i] == n) return ListedDiskIndex{i - 1};
    ADD_FAILURE() << "disk " << n << " not listed";
    return kNoListedDisk;
  }

  // What the wizard leaves for the clone page: the source and destination
  // chosen, the layout table of the source with the plan the planner makes
  // for automatic sizing where every partition keeps its place and size
  // (it fits both destinations).
  void PrepareWizard(int destination, bool basic, bool verify, int source = 0) {
    DetectSystemAndSpecialDisks();
    ASSERT_TRUE(RecordWholeDiskChoice(Listed(source), Listed(destination)));
    CloneSettings.basicDuplication = basic ? 1 : 0;
    CloneSettings.partitionMode = 0;
    CloneSettings.sizingMode = basic ? SizingMode::Automatic : SizingMode::None;
    CloneSettings.verifyAfterCopy = verify ? 1 : 0;
    CloneSettings.badSectorScan = 0;
    CloneSettings.chosenDestinationDisk = Listed(destination);
    std::vector<uint8_t> layout(kLayoutBufferSize);
    const int32_t count = QueryDriveLayout(source, layout.data());
    ASSERT_GE(count, 2);
    FillLayoutTable(source, layout.data(), count);
    for (int32_t i = 0; i < count; ++i) {
      LayoutEntry& e = DiskContext.layoutTable[i];
      e.newStartBytes = e.startBytes;
      e.newLengthBytes = e.lengthBytes;
      e.newType = e.fsCode;
      e.newDriveLetter = -1;
    }
  }

  // What the wizard leaves for a basic whole-disk clone with automatic
  // sizing: the plan the destination page makes (its layout table sorted by
  // start), which must be made.
  void PlanAutomatically(int destination, bool verify, int source = 0) {
    PrepareWizard(destination, true, verify, source);
    CloneSettings.copySourceDisk = Listed(source);
    bool planned = false;
    const auto run = disk_fixture::RunHeadless(platform::ui::Script{}, [&] { planned = ApplyDestinationPlan(); });
    ASSERT_TRUE(planned) << run.log;
  }

  // A tail the sector copy reaches last, and files C:\big\N.bin the file
  // copy spends most of its time on (each file gives the page's pump a turn).
  void PutTailAndBigFiles(int files, size_t size) {
    pc_.WriteBytes(0, 600 * kMiB, disk_fixture::Pattern(kMiB, 77));
    Start();
    ASSERT_TRUE(CreateDirectoryW(u"C:\\big", nullptr));
    for (int i = 0; i < files; ++i)
      PutFile(u"C:\\big\\" + platform::to_utf16(std::to_string(i)) + u".bin", disk_fixture::Pattern(size, 40 + i));
    platform::fs::ReleaseAllDrivers();
  }

  // Gives C: a SYSTEM hive whose MountedDevices names C:, D: and the
  // system's volume name on the source disk, and a boot store \Boot\BCD
  // whose boot manager and loader kLoaderObject name the system partition;
  // with `otherDisk`, E: and a loader kOtherLoaderObject name a partition of
  // another disk.
  void PutSourceSystem(bool otherDisk) {
    platform::startup::ConnectLayers();  // offline hives on the simulated PC's volumes
    const uint64_t system = kSystemStart * 512, data = kDataStart * 512;
    std::vector<std::pair<std::string, std::string>> values = {
        {"\\DosDevices\\C:", MbrRecordHex(kSourceSignature, system)},
        {"\\DosDevices\\D:", MbrRecordHex(kSourceSignature, data)},
        {kSystemVolumeName, MbrRecordHex(kSourceSignature, system)}};
    if (otherDisk) values.push_back({"\\DosDevices\\E:", MbrRecordHex(0xAAAA5555, system)});
    clone_fixture::PutSystemHive(pc_.folder() + "/SYSTEM", "SYSTEM", MountedDevicesScript(values), u"C:");
    const auto onSystem = platform::process::BcdMbrPartitionDevice(kSourceSignature, system);
    std::vector<platform::process::BcdLoaderSpec> loaders = {{kLoaderObject, "Windows", onSystem}};
    if (otherDisk)
      loaders.push_back({kOtherLoaderObject, "Other", platform::process::BcdMbrPartitionDevice(0xAAAA5555, system)});
    ASSERT_TRUE(platform::process::CreateBcdStoreFile(pc_.folder() + "/BCD", onSystem, loaders));
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Boot", nullptr));
    std::ifstream in(pc_.folder() + "/BCD", std::ios::binary);
    PutFile(u"C:\\Boot\\BCD", std::string(std::istreambuf_iterator<char>(in), {}));
    in.close();
    platform::fs::ReleaseAllDrivers();
  }

  // Runs the clone page: Start, the result message, the summary with the
  // result and verify lines it must show, closed.
  std::string RunClone(const std::string& result, const std::string& verifyLine);

  // The partition rows sfdisk reads from an image: "start size type [*]".
  std::vector<std::string> SfdiskRows(int n) {
    std::string out;
    Shell("sfdisk -d " + pc_.Image(n), &out);
    std::vector<std::string> rows;
    std::regex row("start=\\s*(\\d+), size=\\s*(\\d+), type=(\\w+)(, bootable)?");
    for (std::sregex_iterator it(out.begin(), out.end(), row), end; it != end; ++it)
      rows.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() + ((*it)[4].matched ? " *" : ""));
    return rows;
  }

  // Checks the copy on destination `n` with the host tools.
  void CheckCopy(int n) {
    const uint32_t ss = pc_.SectorSize(n);
    const uint64_t m = ss / 512;
    EXPECT_EQ(SfdiskRows(n), (std::vector<std::string>{
                                 std::to_string(kSystemStart / m) + " " + std::to_string(kSystemCount / m) + " 7 *",
                                 std::to_string(kDataStart / m) + " " + std::to_string(kDataCount / m) + " c"}));
    const std::string system = pc_.ExtractVolume(n, kSystemStart / m, kSystemCount / m, "system-copy.img");
    std::string out;
    EXPECT_EQ(Shell("ntfsfix -n " + system, &out), 0) << out;
    Shell("ntfsls " + system, &out);
    EXPECT_NE(out.find("bootmgr"), std::string::npos) << out;
    EXPECT_NE(out.find("notes.txt"), std::string::npos) << out;
    Shell("ntfscat " + system + " bootmgr", &out);
    EXPECT_TRUE(out == disk_fixture::Pattern(300000, 3)) << "bootmgr differs";
    const std::string data = pc_.ExtractVolume(n, kDataStart / m, kDataCount / m, "data-copy.img");
    EXPECT_EQ(Shell("fsck.fat -n " + data, &out), 0) << out;
    Shell("mtype -i " + data + " ::/DOCS/REPORT.BIN", &out);
    EXPECT_TRUE(out == disk_fixture::Pattern(1500000, 9)) << "REPORT.BIN differs";
  }
};

// A basic whole-disk clone with verify onto a larger, a smaller but
// sufficient and a 4096-byte disk: the new table holds the planned
// partitions, both file systems are whole, the disk has a fresh signature
// and the summary says the copy completed.
TEST_F(CloneRunTest, BasicWholeDiskCloneWithVerify) {
  for (int destination : {1, 2, 3}) {
    SCOPED_TRACE(destination);
    PrepareWizard(destination, true, true);
    // Left over from an earlier run: a new run starts without them.
    CloneRunState.skippedItemCount = 7;
    CloneRunState.skippedItems = u"C:\\old.txt\r\n";
    ASSERT_EQ(RunClone("Completed", "0 files differ, 0 files not compared"), "");
    EXPECT_EQ(CloneRunState.skippedItemCount, 0) << platform::to_utf8(CloneRunState.skippedItems.GetString());
    EXPECT_EQ(CloneRunState.cloneAborted, 0);
    CheckCopy(destination);
    const auto sector0 = pc_.ReadBytes(destination, 0, 512);
    uint32_t signature = 0;
    std::memcpy(&signature, sector0.data() + 440, 4);
    EXPECT_NE(signature, 0u);
    EXPECT_NE(signature, 0x5EED1234u);
    EXPECT_EQ(sector0[510], 0x55);
    EXPECT_EQ(sector0[511], 0xAA);
  }
}

// When no shadow copy can be made (the platform finds no room for its
// snapshot's side store; under WinPE there is none), a volume's files are read from
// the live volume: never its sectors, which the plan may put into a smaller
// partition, leaving a file system larger than its partition. A partition
// without a file system that the plan makes smaller is left out, and named.
TEST_F(CloneRunTest, WithoutAShadowCopyTheFilesComeFromTheLiveVolume) {
  PrepareWizard(2, true, false);
  const char* saved = getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  setenv("TMPDIR", "/dev/null", 1);  // no temporary file can be made there
  const CString system = PrepareSourceVolume(0, 0);
  const CString data = PrepareSourceVolume(1, 0);
  if (saved) setenv("TMPDIR", keep.c_str(), 1); else unsetenv("TMPDIR");
  EXPECT_EQ(platform::to_utf8(system.GetString()), "C:");
  EXPECT_EQ(platform::to_utf8(data.GetString()), "D:");
  EXPECT_TRUE(ShadowSourceVolume.IsEmpty()) << "no shadow path is mapped back to a live volume";
  // Under WinPE no snapshot is taken at all.
  ShellState.winPEMode = true;
  EXPECT_EQ(platform::to_utf8(PrepareSourceVolume(0, 0).GetString()), "C:");
  EXPECT_EQ(SnapshotsInUse(pc_.folder()), 0u);
  ShellState.winPEMode = false;
  // With room, the shadow copy is read.
  const CString shadow = PrepareSourceVolume(0, 0);
  EXPECT_NE(platform::to_utf8(shadow.GetString()).find("HarddiskVolumeShadowCopy"), std::string::npos)
      << platform::to_utf8(shadow.GetString());
  ReleaseShadowCopy();
}

// A whole basic clone where no shadow copy can be made (under WinPE there is
// none), onto the smaller disk with a plan that makes the FAT32 partition
// smaller and moves a partition without a file system (raw bytes, added by
// sfdisk) behind it. The volumes' files are copied from the live volumes into
// new file systems of the planned sizes, and scripts/check-clone finds the
// copy whole. Planned smaller, the partition without a file system is left
// out and named in the summary's list; its place keeps none of its bytes.
TEST_F(CloneRunTest, WholeCloneWithoutAShadowCopyIsMadeFromTheLiveFiles) {
  constexpr uint64_t kRawStart = 470 * 2048, kRawCount = 100 * 2048;
  std::string out;
  ASSERT_EQ(Shell("echo 'start=" + std::to_string(kRawStart) + ", size=" + std::to_string(kRawCount) +
                      ", type=da' | sfdisk -q --append " + pc_.Image(0), &out),
            0)
      << out;
  const std::vector<uint8_t> raw = [] {
    const std::string bytes = disk_fixture::Pattern(kRawCount * 512, 31);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }();
  pc_.WriteBytes(0, kRawStart * 512, raw);
  // Started from a WinPE medium: the system tools in X:\Windows\System32.
  std::filesystem::create_directories(pc_.folder() + "/winpe-x/Windows/System32");
  std::filesystem::create_directories(pc_.folder() + "/winpe-x/Windows/Temp");
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"winpe", "yes"}, {"windows_folder", "X:\\Windows"}, {"system_folder", "X:\\Windows\\System32"},
           {"temp_folder", "X:\\Windows\\Temp"}})
    pc_.SetIni("os", key, value);
  pc_.AppendIni("[mount winpe-x]\npath = X:\nhost = winpe-x\ndrive_type = ramdisk\nread_only = no");
  Start();
  struct Case {
    uint64_t rawLength;  // planned, in 512-byte sectors
    const char* result;
  } cases[] = {{kRawCount / 2, "Completed with errors"}, {kRawCount, "Completed"}};
  const uint64_t dataLength = 200 * 2048, rawStart = kDataStart + dataLength + 8 * 2048;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    PrepareWizard(2, true, true);
    ShellState.winPEMode = 1;
    int planned = 0;
    for (LayoutEntry& e : DiskContext.layoutTable) {
      if (e.startBytes == kDataStart * 512) {
        e.newLengthBytes = dataLength * 512;
        ++planned;
      } else if (e.startBytes == kRawStart * 512) {
        e.newStartBytes = rawStart * 512;
        e.newLengthBytes = c.rawLength * 512;
        ++planned;
      }
    }
    ASSERT_EQ(planned, 2);
    const std::string verifyLine = "0 files differ, 0 files not compared";
    ASSERT_EQ(RunClone(c.result, verifyLine), "") << platform::to_utf8(CloneRunState.skippedItems.GetString());
    ShellState.winPEMode = 0;
    platform::fs::ReleaseAllDrivers();
    const std::string listed = platform::to_utf8(CloneRunState.skippedItems.GetString());
    const std::vector<uint8_t> copied = pc_.ReadBytes(2, rawStart * 512, 1 << 20);
    if (c.rawLength < kRawCount) {
      EXPECT_EQ(listed, "Partition 3\r\n");
      EXPECT_FALSE(std::equal(copied.begin(), copied.end(), raw.begin())) << "its bytes are not copied cut short";
      continue;
    }
    EXPECT_EQ(listed, "");
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), raw.begin()));
    // The proof: both file systems clean and every file equal, the raw
    // partition byte for byte.
    const int status = Shell(std::string(CHECK_CLONE_PATH) + " " + pc_.folder() + " 0 2", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(SfdiskRows(2)[1], std::to_string(kDataStart) + " " + std::to_string(dataLength) + " c") << out;
  }
}

// The copied system's SYSTEM hive after a basic whole-disk copy from MBR to
// MBR (the data partition moved 16 MiB on): its MountedDevices names C:, D:
// and the system's volume name on the copy's own disk (signature and offsets
// as sfdisk -d reads them from the copy), whichever way the summary is left:
// closed, the copy keeps its own new signature; through Restart (Shut down
// later), it has the source's signature and the hive follows. The boot store
// beside it (\Boot\BCD) names the copy's partition the same way. Values
// naming another disk stay. Read back with ntfscat and hivexsh.
TEST_F(CloneRunTest, TheCopiedSystemNamesItsPartitionsOnItsOwnDisk) {
  constexpr uint32_t kSource = kSourceSignature;
  const uint64_t system = kSystemStart * 512, data = kDataStart * 512;
  const auto record = MbrRecordHex;
  const std::string volumeName = kSystemVolumeName;
  const std::string loader = kLoaderObject, other = kOtherLoaderObject;
  PutSourceSystem(true);
  platform::fs::ReleaseAllDrivers();

  struct Case {
    const char* how;
    bool restart;
  };
  for (const Case& c : {Case{"closed", false}, Case{"restart, shut down later", true}}) {
    SCOPED_TRACE(c.how);
    PrepareWizard(1, true, false);
    CloneSettings.sourceDisk = Listed(0);  // as the source page leaves it
    DiskContext.layoutTable[1].newStartBytes += 16 * kMiB;
    platform::ui::Script run;
    run.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed");
    if (c.restart) {
      run.click(1000).expect_dialog(208).click(1128);
    } else {
      run.key("escape");
    }
    ASSERT_EQ(RunScript(run), "");
    platform::fs::ReleaseAllDrivers();

    std::string dump;
    Shell("sfdisk -d " + pc_.Image(1), &dump);
    std::smatch label, start;
    ASSERT_TRUE(std::regex_search(dump, label, std::regex("label-id: 0x([0-9a-f]+)"))) << dump;
    const uint32_t signature = static_cast<uint32_t>(std::stoul(label[1], nullptr, 16));
    EXPECT_EQ(signature == kSource, c.restart) << dump;
    ASSERT_TRUE(std::regex_search(dump, start, std::regex("start=\\s*(\\d+), size=\\s*\\d+, type=c"))) << dump;
    const uint64_t dataCopy = std::stoull(start[1]) * 512;
    EXPECT_EQ(dataCopy, data + 16 * kMiB) << dump;

    const std::string copy = pc_.ExtractVolume(1, kSystemStart, kSystemCount, "system-copy.img");
    const std::string hive = pc_.folder() + "/SYSTEM.copy";
    ASSERT_EQ(Shell("ntfscat " + copy + " /Windows/System32/Config/SYSTEM > " + hive), 0);
    EXPECT_EQ(MountedDeviceHex(hive, "\\DosDevices\\C:"), record(signature, system));
    EXPECT_EQ(MountedDeviceHex(hive, "\\DosDevices\\D:"), record(signature, dataCopy));
    EXPECT_EQ(MountedDeviceHex(hive, volumeName), record(signature, system));
    EXPECT_EQ(MountedDeviceHex(hive, "\\DosDevices\\E:"), record(0xAAAA5555, system)) << "another disk's partition stays";

    const std::string store = pc_.folder() + "/BCD.copy";
    ASSERT_EQ(Shell("ntfscat " + copy + " /Boot/BCD > " + store), 0);
    const std::string own = clone_fixture::MbrDeviceHex(signature, system);
    EXPECT_EQ(clone_fixture::StoreElementHex(store, clone_fixture::kBootManagerObject, "11000001"), own);
    EXPECT_EQ(clone_fixture::StoreElementHex(store, loader, "11000001"), own);
    EXPECT_EQ(clone_fixture::StoreElementHex(store, loader, "21000001"), own);
    EXPECT_EQ(clone_fixture::StoreElementHex(store, other, "21000001"), clone_fixture::MbrDeviceHex(0xAAAA5555, system));
  }
}

// Absolute links on the copy name the volumes the copy will have when it
// starts. A data copy keeps the names its volumes have now: a junction into
// the copied volume, and one into the other volume copied beside it, name
// the copies (by their letters, or volume paths where they have none). A
// copy holding a system takes the source's place, its system gives its
// volumes the source's letters, so its links keep their names. A link to a
// volume not copied stays either way. Read back with ntfscat (the reparse
// point attribute, 0xC0).
TEST_F(CloneRunTest, LinksOnTheCopyNameTheVolumesItStartsWith) {
  using clone_fixture::JunctionData;
  Start();
  for (const char16_t* folder : {u"C:\\Data", u"C:\\JData", u"C:\\JDocs", u"C:\\JAway"})
    ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
  clone_fixture::SetJunction(u"C:\\JData", u"C:\\Data");
  clone_fixture::SetJunction(u"C:\\JDocs", u"D:\\DOCS");
  clone_fixture::SetJunction(u"C:\\JAway", u"Q:\\Away");
  platform::fs::ReleaseAllDrivers();
  for (const bool system : {false, true}) {
    SCOPED_TRACE(system ? "system copy" : "data copy");
    if (system) {
      ASSERT_TRUE(CreateDirectoryW(u"C:\\Windows", nullptr));
      ASSERT_TRUE(CreateDirectoryW(u"C:\\Windows\\System32", nullptr));
      platform::fs::ReleaseAllDrivers();
    }
    PrepareWizard(1, true, false);
    CloneSettings.sourceDisk = Listed(0);
    platform::ui::Script run;
    run.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed");
    run.key("escape");
    ASSERT_EQ(RunScript(run), "");
    // The copies' names now: a letter, else the volume path.
    auto nameAt = [](uint64_t offset) {
      for (const auto& v : platform::storage::MountedVolumes())
        if (v.disk_number == 1 && v.offset == offset)
          return v.letter ? std::u16string(1, v.letter) + u":" : v.guid_path.substr(0, v.guid_path.size() - 1);
      ADD_FAILURE() << "no copy at " << offset;
      return std::u16string(u"?:");
    };
    const std::u16string systemCopy = nameAt(kSystemStart * 512), dataCopy = nameAt(kDataStart * 512);
    ASSERT_NE(systemCopy, u"C:");
    ASSERT_NE(dataCopy, u"D:");
    platform::fs::ReleaseAllDrivers();
    // A junction to `path` on the volume named `volume` ("C:" or a volume path).
    auto junction = [](const std::u16string& volume, const std::u16string& path) {
      const std::u16string substitute = volume.rfind(u"\\\\?\\", 0) == 0 ? u"\\??\\" + volume.substr(4) : u"\\??\\" + volume;
      const std::vector<BYTE> data = JunctionData(substitute + path, volume + path);
      return std::string(data.begin(), data.end());
    };
    const std::string copy = pc_.ExtractVolume(1, kSystemStart, kSystemCount, "links-copy.img");
    struct Link {
      const char* name;
      std::string expected;
    };
    const Link links[] = {
        {"/JData", system ? junction(u"C:", u"\\Data") : junction(systemCopy, u"\\Data")},
        {"/JDocs", system ? junction(u"D:", u"\\DOCS") : junction(dataCopy, u"\\DOCS")},
        {"/JAway", junction(u"Q:", u"\\Away")},
    };
    for (const Link& link : links) {
      std::string data;
      EXPECT_EQ(Shell("ntfscat -a 0xC0 " + copy + " " + link.name, &data), 0) << link.name;
      EXPECT_EQ(data, link.expected) << link.name;
    }
  }
}

// A single partition, the system, copied by files onto a partition of a
// second disk that lies elsewhere than the source's (an MBR disk, its
// partition at 64 MiB; a GPT disk, its partition at 40 MiB): the copy's
// SYSTEM hive names the copy's own partition where it named the source's
// (MBR: the signature the copy's disk has after the run, as sfdisk -d reads
// it, and the copy's offset; GPT: "DMIO:ID:" and the partition's unique GUID
// as sgdisk -i reads it), and so does its boot store; values naming a
// partition that was not copied stay. Read back with ntfscat and hivexsh.
TEST_F(CloneRunTest, ACopiedSystemPartitionNamesItsOwnPartition) {
  constexpr uint32_t kSource = kSourceSignature;
  const uint64_t system = kSystemStart * 512, data = kDataStart * 512;
  const auto record = MbrRecordHex;
  const std::string volumeName = kSystemVolumeName;
  constexpr uint64_t kMbrCopyStart = 64 * 2048, kGptCopyStart = 40 * 2048, kCopyCount = 200 * 2048;
  pc_.WriteMbr(1, {Part{.start = kMbrCopyStart, .count = kCopyCount, .mbrType = 0x07, .fs = "ntfs", .label = "MCOPY"}},
               0x0DE57001);
  pc_.WriteGpt(2, {Part{.start = kGptCopyStart, .count = kCopyCount, .fs = "ntfs", .label = "GCOPY"}});
  Start();
  const std::string loader = kLoaderObject;
  PutSourceSystem(false);
  platform::fs::ReleaseAllDrivers();

  for (const int destination : {1, 2}) {
    const bool gpt = destination == 2;
    SCOPED_TRACE(gpt ? "GPT destination" : "MBR destination");
    const uint64_t start = gpt ? kGptCopyStart : kMbrCopyStart;
    PrepareWizard(destination, true, false);
    CloneSettings.sourceDisk = Listed(0);
    CloneSettings.partitionMode = 1;
    CloneSettings.copySourceFsCode = 7;
    CloneSettings.sourceLetter = u'C';
    DestinationSelection = DiskSelectionRecord{};
    DestinationSelection.diskNumber = PhysicalDiskNumber{destination};
    DestinationSelection.kind = kSelectionPartition;
    for (int i = 0; i < kLetterCount; ++i)
      if (DiskContext.letterToDisk[i] == destination + 1) DestinationSelection.driveLetter = static_cast<WCHAR>(u'A' + i);
    ASSERT_NE(DestinationSelection.driveLetter, 0);
    DestinationSelection.sectorCount = kCopyCount;
    platform::ui::Script run;
    run.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed");
    run.key("escape");
    ASSERT_EQ(RunScript(run), "");
    platform::fs::ReleaseAllDrivers();

    std::string ownSystem, ownStore;
    if (gpt) {
      std::string info;
      ASSERT_EQ(Shell("sgdisk -i 1 " + pc_.Image(2), &info), 0) << info;
      std::smatch unique, disk;
      ASSERT_TRUE(std::regex_search(info, unique, std::regex("Partition unique GUID: ([0-9A-F-]+)"))) << info;
      // The match points into `info`, which the next listing replaces.
      const std::string partitionGuid = unique[1];
      Shell("sgdisk -p " + pc_.Image(2), &info);
      ASSERT_TRUE(std::regex_search(info, disk, std::regex("Disk identifier \\(GUID\\): ([0-9A-F-]+)"))) << info;
      ownSystem = "444d494f3a49443a" + clone_fixture::StoredGuidHex(partitionGuid);  // "DMIO:ID:"
      ownStore = clone_fixture::GptDeviceHex(disk[1], partitionGuid);
    } else {
      std::string dump;
      Shell("sfdisk -d " + pc_.Image(1), &dump);
      std::smatch label, at;
      ASSERT_TRUE(std::regex_search(dump, label, std::regex("label-id: 0x([0-9a-f]+)"))) << dump;
      ASSERT_TRUE(std::regex_search(dump, at, std::regex("start=\\s*(\\d+), size=\\s*\\d+, type=7"))) << dump;
      const uint32_t signature = static_cast<uint32_t>(std::stoul(label[1], nullptr, 16));
      ownSystem = record(signature, std::stoull(at[1]) * 512);
      ownStore = clone_fixture::MbrDeviceHex(signature, std::stoull(at[1]) * 512);
    }
    const std::string copy = pc_.ExtractVolume(destination, start, kCopyCount, "partition-copy.img");
    const std::string hive = pc_.folder() + "/SYSTEM.copy";
    ASSERT_EQ(Shell("ntfscat " + copy + " /Windows/System32/Config/SYSTEM > " + hive), 0);
    EXPECT_EQ(MountedDeviceHex(hive, "\\DosDevices\\C:"), ownSystem);
    EXPECT_EQ(MountedDeviceHex(hive, volumeName), ownSystem);
    EXPECT_EQ(MountedDeviceHex(hive, "\\DosDevices\\D:"), record(kSource, data)) << "not copied, left alone";
    const std::string store = pc_.folder() + "/BCD.copy";
    ASSERT_EQ(Shell("ntfscat " + copy + " /Boot/BCD > " + store), 0);
    EXPECT_EQ(clone_fixture::StoreElementHex(store, clone_fixture::kBootManagerObject, "11000001"), ownStore);
    EXPECT_EQ(clone_fixture::StoreElementHex(store, loader, "21000001"), ownStore);
  }
}

// The wait for the new volumes after the table is written: on this PC they
// appear with the table, so the wait ends at once instead of taking its 30 s
// for each new volume; with automatic mounting off none appears and the
// wait ends when its passes run out (the upper bound stays). sfdisk reads
// the table written either way.
TEST_F(CloneRunTest, MountWaitEndsAsSoonAsTheNewVolumesAppear) {
  struct Case {
    const char* what;
    bool automount;
    int volumes;          // on the destination afterwards
    uint64_t least_ms;    // virtual time the wait takes at least
    uint64_t most_ms;     // and at most
  };
  const Case cases[] = {
      {"volumes appear with the table", true, 2, 0, 10000},
      {"automatic mounting off", false, 0, 20000, 30000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.automount) {
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\MountMgr", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
                ERROR_SUCCESS);
      DWORD one = 1;
      ASSERT_EQ(RegSetValueExW(key, u"NoAutoMount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
                ERROR_SUCCESS);
      RegCloseKey(key);
    }
    PrepareWizard(1, true, false);
    platform::ui::HeadlessSession session(platform::ui::Script{}, {});
    const uint64_t before = GetTickCount64();
    CreateDestinationLayout(nullptr, Listed(0), Listed(1));
    const uint64_t waited = GetTickCount64() - before;
    EXPECT_EQ(LayoutWriterState.layoutWritten, 1);
    EXPECT_EQ(CountDiskVolumes(1), c.volumes);
    EXPECT_GE(waited, c.least_ms);
    EXPECT_LE(waited, c.most_ms);
    const std::vector<std::string> rows = SfdiskRows(1);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], std::to_string(kSystemStart) + " " + std::to_string(kSystemCount) + " 7 *");
  }
}

// The new MBR table from the wizard's automatic plan, whose entries are
// sorted by start: a source (sfdisk) whose extended partition holds three
// logical drives of three types, ending after the last of them, and a
// primary partition behind it; none holds a file system, so the plan keeps
// the logical drives in their places and sizes. Onto the larger disk, the
// table written is the source's, row by row as sfdisk reads it: every
// partition keeps its type, the logical drives stay in the chain in order,
// and the primary behind the container starts at its end.
TEST_F(CloneRunTest, TheNewTableKeepsEachLogicalDriveWithItsOwnType) {
  pc_.AddDisk(DiskSpec{.number = 4, .sizeBytes = 640 * kMiB, .product = "Chain Source", .serial = "SN4"});
  const std::string table =
      "label: dos\nstart=2048, size=131072, type=7, bootable\nstart=133120, size=819200, type=f\n"
      "start=135168, size=204800, type=c\nstart=342016, size=204800, type=7\nstart=548864, size=401408, type=b\n"
      "start=952320, size=358400, type=6\n";
  std::string out;
  ASSERT_EQ(Shell("printf '" + table + "' | sfdisk -q " + pc_.Image(4), &out), 0) << out;
  Start();
  PlanAutomatically(1, false, 4);
  {
    platform::ui::HeadlessSession session(platform::ui::Script{}, {});
    CreateDestinationLayout(nullptr, Listed(4), Listed(1));
  }
  EXPECT_EQ(LayoutWriterState.layoutWritten, 1);
  platform::fs::ReleaseAllDrivers();
  const std::vector<std::string> source = SfdiskRows(4);
  ASSERT_EQ(source.size(), 6u) << ::testing::PrintToString(source);
  const std::vector<std::string> copy = SfdiskRows(1);
  ASSERT_EQ(copy.size(), 6u) << ::testing::PrintToString(copy);
  // Each row as its start (from the extended partition's, which moves with
  // the surplus the first partition takes), size and type; the primary
  // behind the container (sfdisk's third row), which may take room the
  // larger disk has, by its start and type.
  auto placed = [](const std::vector<std::string>& rows) {
    std::vector<std::string> out;
    const uint64_t base = std::stoull(rows[1]);
    for (size_t r = 1; r < rows.size(); ++r) {
      std::istringstream in(rows[r]);
      uint64_t start = 0;
      std::string size, type;
      in >> start >> size >> type;
      out.push_back(std::to_string(start - base) + " " + (r == 2 ? "" : size) + " " + type);
    }
    return out;
  };
  EXPECT_EQ(placed(copy), placed(source)) << ::testing::PrintToString(copy);
  EXPECT_EQ(copy[0].substr(copy[0].size() - 3), "7 *") << copy[0];
}

// Items the file copy had to leave out make the summary say the copy
// completed with errors, never plain "Completed"; the page counts them and
// its List button names them (the first 20, and how many more there are).
// An offline repair that could not run is said, and is an error too.
TEST_F(CloneRunTest, SkippedItemsMakeTheSummaryReportErrors) {
  PrepareWizard(1, true, false);
  struct Case {
    int32_t skipped;
    bool repairFailed;
    const char* result;
    const char* countLine;
    const char* more;  // in the list, "" when every item is listed
  };
  const Case cases[] = {{0, false, "Completed", "", ""},
                        {1, false, "Completed with errors", "1 items were not copied.", ""},
                        {25, false, "Completed with errors", "25 items were not copied.", "5 more items are not listed."},
                        {0, true, "Completed with errors", "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.skipped);
    CloneRunState.cloneAborted = 0;
    CloneRunState.verifyMismatchCount = 0;
    DiskContext.ioErrorCount = 0;
    CloneRunState.skippedItemCount = c.skipped;
    CloneRunState.skippedItems.Empty();
    for (int i = 0; i < std::min(c.skipped, kSkippedItemsListed); ++i)
      CloneRunState.skippedItems += CString(u"C:\\Docs\\left out ") + Int64ToText(i) + u".txt\r\n";
    CloneRunState.offlineRepairFailed = c.repairFailed ? 1 : 0;
    platform::ui::Script script;
    script.expect_dialog(CMirrorProgressSummary::IDD).expect_text(1024, c.result);
    script.expect_text(CMirrorProgressSummary::kNotCopiedLine, c.countLine);
    script.expect_text(CMirrorProgressSummary::kRepairLine,
                       c.repairFailed ? "The copy's boot store could not be repaired (the PC has no usable temporary "
                                        "folder), so the copy may not start."
                                      : "");
    if (c.skipped > 0) {
      script.expect_visible(CMirrorProgressSummary::kNotCopiedList).click(CMirrorProgressSummary::kNotCopiedList);
      script.answer("ok");
    } else {
      script.expect_hidden(CMirrorProgressSummary::kNotCopiedList);
    }
    script.key("escape");
    const std::string log = ShowSummary(script);
    if (c.skipped > 0) {
      EXPECT_NE(log.find("These items were not copied:"), std::string::npos) << log;
      EXPECT_NE(log.find("left out 0.txt"), std::string::npos) << log;
      EXPECT_NE(log.find(std::string("left out ") + std::to_string(std::min(c.skipped, 20) - 1) + ".txt"),
                std::string::npos);
      EXPECT_EQ(log.find("left out 20.txt"), std::string::npos);
      if (*c.more) EXPECT_NE(log.find(c.more), std::string::npos) << log;
    }
  }
  CloneRunState.offlineRepairFailed = 0;
}

// The verify line counts what it names: files for a basic copy (with the
// blocks of partitions it copied by sectors where any of them differ or went
// uncompared), blocks for a sector-by-sector copy; in both languages. A
// file or block that differs or went uncompared is never called complete.
TEST_F(CloneRunTest, VerifyLineCountsWhatItNames) {
  PrepareWizard(1, true, true);
  struct Case {
    bool basic;
    int32_t files, filesUnread, blocks, blocksUnread;
    const char* english;
    const char* japanese;
    const char* result;
  };
  const Case cases[] = {
      {true, 0, 0, 0, 0, "0 files differ, 0 files not compared", "0 ファイルが不一致、 0 ファイルが未比較", "Completed"},
      {true, 2, 0, 0, 0, "2 files differ, 0 files not compared", "2 ファイルが不一致、 0 ファイルが未比較",
       "Completed with errors"},
      {true, 0, 3, 0, 0, "0 files differ, 3 files not compared", "0 ファイルが不一致、 3 ファイルが未比較",
       "Completed with errors"},
      {true, 1, 0, 4, 5, "1 files differ, 0 files not compared; 4 blocks differ, 5 blocks not compared",
       "1 ファイルが不一致、 0 ファイルが未比較; 4 ブロックが不一致、 5 ブロックが未比較", "Completed with errors"},
      {false, 0, 0, 4, 0, "4 blocks differ, 0 blocks not compared", "4 ブロックが不一致、 0 ブロックが未比較",
       "Completed with errors"},
      // Blocks the verify could not compare (a disk gone before it) leave
      // the copy unproven.
      {false, 0, 0, 0, 3, "0 blocks differ, 3 blocks not compared", "0 ブロックが不一致、 3 ブロックが未比較",
       "Completed with errors"},
      {true, 0, 0, 0, 2, "0 files differ, 0 files not compared; 0 blocks differ, 2 blocks not compared",
       "0 ファイルが不一致、 0 ファイルが未比較; 0 ブロックが不一致、 2 ブロックが未比較", "Completed with errors"},
  };
  for (const char* language : {"English", "Japanese"}) {
    LanguageTable = LanguageTableRecord{};
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    const bool english = std::string(language) == "English";
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(language) + ": " + c.english);
      CloneSettings.basicDuplication = c.basic ? 1 : 0;
      CloneRunState.cloneAborted = 0;
      CloneRunState.skippedItemCount = 0;
      CloneRunState.offlineRepairFailed = 0;
      DiskContext.ioErrorCount = 0;
      CloneRunState.verifyDifferingFiles = c.files;
      CloneRunState.verifyUncomparedFiles = c.filesUnread;
      CloneRunState.verifyMismatchCount = c.blocks;
      CloneCounters.verifySecondCount = c.blocksUnread;
      platform::ui::Script script;
      script.expect_dialog(CMirrorProgressSummary::IDD).expect_text(1030, english ? c.english : c.japanese);
      if (english) script.expect_text(1024, c.result);
      script.key("escape");
      ShowSummary(script);
      EXPECT_EQ(CloneRunHadErrors(), std::string(c.result) != "Completed");
    }
  }
  CloneRunState.verifyDifferingFiles = CloneRunState.verifyUncomparedFiles = CloneRunState.verifyMismatchCount = 0;
  CloneCounters.verifySecondCount = 0;
  LanguageTable = LanguageTableRecord{};
  ShellState.languageName = u"English";
  ASSERT_TRUE(LoadLanguageStrings());
}

// The summary of a run with errors in English and Japanese, pictured where
// DRUM_SCREENSHOT_DIR says (else in the test's folder), its list named in
// each language.
TEST_F(CloneRunTest, SummaryWithErrorsInBothLanguages) {
  PrepareWizard(1, true, true);
  const char* dir = getenv("DRUM_SCREENSHOT_DIR");
  const std::string pictures = dir && *dir ? dir : pc_.folder();
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    LanguageTable = LanguageTableRecord{};
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    CloneRunState.cloneAborted = 0;
    CloneRunState.verifyMismatchCount = 2;
    DiskContext.ioErrorCount = 0;
    CloneRunState.skippedItemCount = 25;
    CloneRunState.skippedItems.Empty();
    for (int i = 0; i < kSkippedItemsListed; ++i)
      CloneRunState.skippedItems += CString(u"C:\\Users\\User\\Documents\\locked file ") + Int64ToText(i) + u".docx\r\n";
    CloneRunState.offlineRepairFailed = 1;
    const std::string name = std::string("clone-summary-errors-") + language + ".png";
    platform::ui::Script script;
    script.expect_dialog(CMirrorProgressSummary::IDD).screenshot(name);
    script.click(CMirrorProgressSummary::kNotCopiedList).answer("ok").key("escape");
    platform::ui::DriverOptions options;
    std::ostringstream log;
    options.log = &log;
    options.screenshots_dir = pictures;
    {
      platform::ui::HeadlessSession session(script, options);
      CMirrorProgressSummary summary;
      summary.DoModal();
      EXPECT_TRUE(session.driver().finished()) << log.str();
    }
    EXPECT_TRUE(std::filesystem::exists(pictures + "/" + name));
    EXPECT_NE(log.str().find(platform::to_utf8(LookupString(u"IDS_NotCopiedListHead").GetString())), std::string::npos)
        << log.str();
    EXPECT_NE(log.str().find("locked file 19.docx"), std::string::npos) << log.str();
  }
  CloneRunState.offlineRepairFailed = 0;
  LanguageTable = LanguageTableRecord{};
  ShellState.languageName = u"English";
  ASSERT_TRUE(LoadLanguageStrings());
}

// A sector-by-sector clone: every byte of the source's range arrives; a
// Cancel before the start leaves the destination as it was.
TEST_F(CloneRunTest, SectorBySectorCloneAndCancelBeforeStart) {
  PrepareWizard(1, false, true);
  ASSERT_EQ(RunClone("Completed", "0 blocks differ, 0 blocks not compared"), "");
  const uint64_t bytes = CloneSettings.copySourceLength * 512;
  EXPECT_EQ(Shell("cmp -n " + std::to_string(bytes) + " " + pc_.Image(0) + " " + pc_.Image(1)), 0);

  PrepareWizard(3, false, false);
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(2).answer("yes");
  EXPECT_EQ(RunScript(script), "");
  EXPECT_EQ(Shell("cmp -s -n " + std::to_string(900 * kMiB) + " " + pc_.Image(3) + " /dev/zero"), 0);
}

// Under WinPE a sector-by-sector copy marks the drive the boot fix repairs:
// "ZyX" and the letter of the first drive holding \Boot\BCD at byte 440 of
// the destination's native sector 1, on a 512-byte and on a 4096-byte disk;
// every other byte of that sector is the source's. Without a boot store no
// sector changes.
TEST_F(CloneRunTest, SectorCopyUnderWinPeMarksTheBootFixDrive) {
  // Sector 1 of the source holds bytes of its own, which the copy keeps.
  pc_.WriteBytes(0, 512, std::vector<uint8_t>(512, 0x5A));
  Start();
  struct Case {
    int destination;
    bool bootStore;
  } cases[] = {{1, false}, {1, true}, {3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.destination) + (c.bootStore ? " with a boot store" : " without"));
    if (c.bootStore && GetFileAttributesW(u"C:\\Boot\\BCD") == INVALID_FILE_ATTRIBUTES) {
      ASSERT_TRUE(CreateDirectoryW(u"C:\\Boot", nullptr));
      PutFile(u"C:\\Boot\\BCD", "a boot store");
      platform::fs::ReleaseAllDrivers();
    }
    PrepareWizard(c.destination, false, false);
    ShellState.winPEMode = 1;
    ShellState.bootFixDrive.Empty();
    platform::ui::Script script;
    script.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed");
    script.key("escape");
    const std::string failure = RunScript(script);
    ShellState.winPEMode = 0;
    ASSERT_EQ(failure, "");
    platform::fs::ReleaseAllDrivers();
    const uint32_t native = pc_.SectorSize(c.destination);
    std::vector<uint8_t> expected = pc_.ReadBytes(0, native, native);
    if (c.bootStore) {
      EXPECT_EQ(platform::to_utf8(ShellState.bootFixDrive.GetString()), "C:");
      const uint8_t marker[] = {'Z', 'y', 'X', 'C'};
      std::copy(std::begin(marker), std::end(marker), expected.begin() + 440);
    } else {
      EXPECT_TRUE(ShellState.bootFixDrive.IsEmpty());
    }
    EXPECT_EQ(pc_.ReadBytes(c.destination, native, native), expected);
  }
}

// A plan that does not fit the destination, and a missing plan, are refused
// before the destination is touched; the summary reports the abort.
TEST_F(CloneRunTest, PlanThatDoesNotFitIsRefused) {
  for (bool empty : {false, true}) {
    SCOPED_TRACE(empty);
    PrepareWizard(2, true, false);
    for (LayoutEntry& e : DiskContext.layoutTable) {
      if (empty) e.newLengthBytes = 0;
      else if (e.newLengthBytes) e.newStartBytes += 200 * kMiB;  // the data partition now ends past 500 MiB
    }
    platform::ui::Script script;
    script.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Aborted");
    script.key("escape");
    std::ostringstream log;
    platform::ui::DriverOptions options;
    options.log = &log;
    {
      platform::ui::HeadlessSession session(script, options);
      RunClonePageModal(nullptr);  // the page itself: the hook would plan afresh
      EXPECT_TRUE(session.driver().finished()) << log.str();
    }
    EXPECT_NE(log.str().find("\"Partition Error\""), std::string::npos) << log.str();
    EXPECT_EQ(Shell("cmp -s -n " + std::to_string(500 * kMiB) + " " + pc_.Image(2) + " /dev/zero"), 0);
  }
}

// A destination whose writes fail part-way: the run goes on, and the summary
// says the copy completed with errors and how many, never plain "Completed".
TEST_F(CloneRunTest, FailingDestinationWritesAreReported) {
  pc_.SetIni("disk 1", "failing_writes", "300000-300007");
  Start();
  PrepareWizard(1, false, false);
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138);
  script.expect_text(1024, "Completed with errors").expect_text(1033, "Read or write errors: 1 reads or writes of a block failed.");
  script.key("escape");
  std::string log;
  ASSERT_EQ(RunScript(script, &log), "");
  // Everything before the failing block arrived.
  EXPECT_EQ(Shell("cmp -n " + std::to_string(300000ull * 512 / (1008 * 512) * (1008 * 512)) + " " + pc_.Image(0) +
                  " " + pc_.Image(1)),
            0);
}

// A format that fails is a failure: on a 4096-byte disk a 96 MiB partition
// is too small for FAT32, the run says it cannot format, copies nothing into
// it and the summary reports the abort.
TEST_F(CloneRunTest, FailedFormatStopsTheRun) {
  PrepareWizard(3, true, false);
  for (LayoutEntry& e : DiskContext.layoutTable)
    if (e.fsCode == 12) e.newLengthBytes = 96 * kMiB;
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Aborted");
  script.key("escape");
  std::string log;
  ASSERT_EQ(RunScript(script, &log), "");
  EXPECT_NE(log.find("could not be formatted"), std::string::npos) << log;
  EXPECT_EQ(log.find("The duplication is complete."), std::string::npos) << log;
}

// A partition copy whose destination cannot be formatted stops there, and
// its summary says so instead of "Completed".
TEST_F(CloneRunTest, PartitionCopyWhoseFormatFailsEndsAborted) {
  PrepareWizard(3, true, false);
  CloneSettings.partitionMode = 1;
  CloneSettings.copySourceFsCode = 6;
  CloneSettings.sourceLetter = u'C';
  DestinationSelection = DiskSelectionRecord{};
  DestinationSelection.diskNumber = PhysicalDiskNumber{3};
  DestinationSelection.kind = kSelectionPartition;
  DestinationSelection.driveLetter = u'Q';  // no volume has this letter
  DestinationSelection.sectorCount = 64 * 2048;
  const std::string before = ImageHash(3);
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Aborted");
  script.key("escape");
  std::string log;
  ASSERT_EQ(RunScript(script, &log), "");
  EXPECT_NE(log.find("could not be formatted"), std::string::npos) << log;
  EXPECT_EQ(ImageHash(3), before);
}

std::string CloneRunTest::RunClone(const std::string& result, const std::string& verifyLine) {
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(1011).answer("ok").expect_dialog(138).expect_text(1024, result);
  script.expect_text(1030, verifyLine).key("escape");
  return RunScript(script);
}

// Cancel pressed while the copy runs, once the clone page's bar has passed a
// share of its range: the run stops there, says the destination is not
// usable, the summary says "Aborted", and no disk but the destination
// changes (hashes of the others before and after). The sector-by-sector copy
// stops before the source's last megabytes (they stay zero on the copy);
// the basic copy stops inside the system partition's files: some of its
// files arrived, not all, and the data partition got none.
TEST_F(CloneRunTest, CancelMidCopyStopsAndChangesNothingButTheDestination) {
  constexpr int kFiles = 24;
  constexpr size_t kFileSize = kMiB;
  PutTailAndBigFiles(kFiles, kFileSize);

  // The basic run's Cancel is disabled while the layout is written and the
  // volumes formatted, and its bar shows the formats before it starts again
  // low for the copy: the script waits for Cancel to come back first.
  struct Case {
    bool basic;
    int percent;
  };
  for (const Case c : {Case{false, 30}, Case{true, 10}}) {
    SCOPED_TRACE(c.basic ? "basic" : "sector by sector");
    const std::string hashes = ImageHash(0) + ImageHash(2) + ImageHash(3);
    PrepareWizard(1, c.basic, true);
    platform::ui::Script script;
    script.expect_dialog(CClone::IDD).click(1011);
    if (c.basic) script.expect_disabled(2).expect_enabled(2);
    script.expect_progress(1025, c.percent).click(2).answer("yes");
    script.answer("ok").expect_dialog(138).expect_text(1024, "Aborted").key("escape");
    std::string log;
    ASSERT_EQ(RunScript(script, &log), "");
    EXPECT_NE(log.find("The duplication was stopped. The destination disk is not usable."), std::string::npos) << log;
    EXPECT_EQ(log.find("The duplication is complete."), std::string::npos) << log;
    EXPECT_EQ(CloneRunState.cloneAborted, 1);
    EXPECT_EQ(ImageHash(0) + ImageHash(2) + ImageHash(3), hashes) << "only the destination may change";
    if (!c.basic) {
      // Everything up to the cancel arrived; the source's tail did not.
      EXPECT_EQ(Shell("cmp -n " + std::to_string(640 * kMiB / 4) + " " + pc_.Image(0) + " " + pc_.Image(1)), 0);
      EXPECT_EQ(Shell("cmp -s -n " + std::to_string(kMiB) + " -i " + std::to_string(600 * kMiB) + ":0 " +
                      pc_.Image(1) + " /dev/zero"),
                0);
      continue;
    }
    const std::string system = pc_.ExtractVolume(1, kSystemStart, kSystemCount, "cancelled-system.img");
    int whole = 0;
    for (int i = 0; i < kFiles; ++i) {
      std::string out;
      Shell("ntfscat " + system + " big/" + std::to_string(i) + ".bin", &out);
      whole += out == disk_fixture::Pattern(kFileSize, 40 + i) ? 1 : 0;
    }
    EXPECT_GT(whole, 0) << "the copy had begun";
    EXPECT_LT(whole, kFiles) << "the copy went on after Cancel";
    const std::string data = pc_.ExtractVolume(1, kDataStart, kDataCount, "cancelled-data.img");
    std::string out;
    EXPECT_NE(Shell("mtype -i " + data + " ::/DOCS/REPORT.BIN", &out), 0) << "the data partition was copied";
  }
}

// The pre-scan reads the destination before the copy: its unreadable
// sectors show on the summary and the copy goes on; a scan cancelled before
// it read anything asks whether to copy anyway, and No leaves the
// destination untouched and the summary says the clone was aborted.
TEST_F(CloneRunTest, PreScanOfTheDestinationIsReportedAndItsCancelCanStopTheRun) {
  pc_.SetIni("disk 1", "unreadable", "1000000-1000001");
  Start();
  PrepareWizard(1, true, false);
  CloneSettings.badSectorScan = 1;
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(1011).expect_dialog(155).expect_disabled(1011).expect_disabled(4);
  script.answer("ok").expect_dialog(138).expect_text(1024, "Completed");
  script.expect_text(1023, "2 errors, 2 bad sectors").key("escape");
  ASSERT_EQ(RunScript(script), "");
  EXPECT_EQ(ScanTarget.diskNumber.value, 1);
  EXPECT_EQ(ScanTarget.kind, kSelectionWholeDisk);
  ASSERT_EQ(ScanState.failedSectors.size(), 2u);
  EXPECT_EQ(platform::to_utf8(ScanState.failedSectors[0].str()), "Read error in sector 1000000");
  EXPECT_EQ(platform::to_utf8(ScanState.failedSectors[1].str()), "Read error in sector 1000001");
  CheckCopy(1);

  PrepareWizard(2, true, false);
  CloneSettings.badSectorScan = 1;
  platform::ui::Script cancelled;
  cancelled.expect_dialog(CClone::IDD).click(1011).expect_dialog(155).click(1026).answer("yes").answer("no");
  cancelled.expect_dialog(138).expect_text(1024, "Aborted").expect_text(1023, "Aborted").key("escape");
  std::string log;
  ASSERT_EQ(RunScript(cancelled, &log), "");
  EXPECT_NE(log.find("The bad sector scan did not finish. Copy anyway?"), std::string::npos) << log;
  EXPECT_EQ(Shell("cmp -s -n " + std::to_string(500 * kMiB) + " " + pc_.Image(2) + " /dev/zero"), 0);
}

// A GPT source (EFI system partition, reserved partition, NTFS data) cloned
// onto an empty disk: the destination is a GPT disk that sgdisk finds
// whole, with the same partitions, types and places, and its NTFS volume
// holds the source's files.
TEST_F(CloneRunTest, GptSourceOntoAnEmptyDiskGivesAWholeGptCopy) {
  pc_.AddDisk(DiskSpec{.number = 4, .sizeBytes = 400 * kMiB, .product = "GPT Source", .serial = "SN4"});
  Part esp{.start = 2048, .count = 100 * 2048, .gptType = disk_fixture::kGptEsp, .name = u"EFI system partition",
           .fs = "fat32", .label = "ESP"};
  esp.files = {{"/EFI/BOOT/BOOTX64.EFI", disk_fixture::Pattern(40000, 5)}};
  Part msr{.start = 102 * 2048, .count = 16 * 2048, .gptType = disk_fixture::kGptMsr, .name = disk_fixture::kMsrName};
  Part data{.start = 118 * 2048, .count = 200 * 2048, .name = u"Basic data partition", .fs = "ntfs", .label = "GDATA"};
  data.files = {{"/archive.bin", disk_fixture::Pattern(2000000, 21)}, {"/readme.txt", "gpt data\n"}};
  pc_.WriteGpt(4, {esp, msr, data});
  Start();
  PrepareWizard(1, true, true, 4);
  ASSERT_EQ(CloneSettings.sourceIsGpt, 1);
  ASSERT_EQ(RunClone("Completed", "0 files differ, 0 files not compared"), "");
  std::string out;
  EXPECT_EQ(Shell("sgdisk -v " + pc_.Image(1), &out), 0) << out;
  EXPECT_NE(out.find("No problems found"), std::string::npos) << out;
  Shell("sfdisk -d " + pc_.Image(1), &out);
  EXPECT_NE(out.find("label: gpt"), std::string::npos) << out;
  for (const std::string row : {"start=        2048, size=      204800, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
                                "start=      208896, size=       32768, type=E3C9E316-0B5C-4DB8-817D-F92DF00215AE",
                                "start=      241664, size=      409600, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"})
    EXPECT_NE(out.find(row), std::string::npos) << row << "\n" << out;
  const std::string copy = pc_.ExtractVolume(1, 118 * 2048, 200 * 2048, "gpt-data-copy.img");
  EXPECT_EQ(Shell("ntfsfix -n " + copy, &out), 0) << out;
  Shell("ntfscat " + copy + " archive.bin", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(2000000, 21)) << "archive.bin differs";
  const std::string espCopy = pc_.ExtractVolume(1, 2048, 100 * 2048, "esp-copy.img");
  EXPECT_EQ(Shell("fsck.fat -n " + espCopy, &out), 0) << out;
  Shell("mtype -i " + espCopy + " ::/EFI/BOOT/BOOTX64.EFI", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(40000, 5)) << "BOOTX64.EFI differs";
}


// An MBR source whose extended partition holds two logical drives (NTFS and
// FAT32, the last one running to the disk's end; the table by sfdisk, the
// file systems by mkntfs and mkfs.fat, their files by ntfscp and mcopy),
// cloned onto the smaller disk twice: with a plan that gives both logical
// drives less room, as manual sizing does, and with the plan the wizard's
// automatic sizing makes (its table sorted by start, so its entries do not
// stand where the source layout lists them). Each drive is copied by files
// into a new file system of its new size, never by its sectors cut short:
// sfdisk reads the copy's chain (the drives' own types, in order), ntfsfix -n
// and fsck.fat -n find the volumes clean and no larger than their
// partitions, ntfscat, mtype and cmp find every file, and the source is
// never written.
TEST_F(CloneRunTest, ResizedLogicalDrivesAreCopiedByFiles) {
  constexpr uint64_t kSource = 640 * 2048, kDestination = 500 * 2048;  // 512-byte sectors
  constexpr uint64_t kPrimary = 2048, kPrimaryCount = 64 * 2048, kContainer = kPrimary + kPrimaryCount;
  constexpr uint64_t kNtfs = kContainer + 2048, kNtfsCount = 200 * 2048;
  constexpr uint64_t kFat = kNtfs + kNtfsCount + 2048, kFatCount = kSource - kFat;
  const std::string ntfsFile = disk_fixture::Pattern(5000000, 6), fatFile = disk_fixture::Pattern(3000000, 7);
  pc_.AddDisk(DiskSpec{.number = 4, .sizeBytes = kSource * 512, .product = "Logical Source", .serial = "SN4"});
  auto row = [](uint64_t start, uint64_t size, const char* type) {
    return "start=" + std::to_string(start) + ", size=" + std::to_string(size) + ", type=" + type + "\n";
  };
  const std::string table = "label: dos\n" + row(kPrimary, kPrimaryCount, "7, bootable") +
                            row(kContainer, kSource - kContainer, "5") + row(kNtfs, kNtfsCount, "7") +
                            row(kFat, kFatCount, "c");
  std::string out;
  ASSERT_EQ(Shell("printf '" + table + "' | sfdisk -q " + pc_.Image(4), &out), 0) << out;
  pc_.MakeFileSystem(4, kPrimary, kPrimaryCount, "ntfs", "PRIMARY", {{"/primary.txt", "a primary\n"}});
  pc_.MakeFileSystem(4, kNtfs, kNtfsCount, "ntfs", "LOGNTFS", {{"/big.bin", ntfsFile}, {"/notes.txt", "logical\n"}});
  pc_.MakeFileSystem(4, kFat, kFatCount, "fat32", "LOGFAT", {{"/DOCS/REPORT.BIN", fatFile}});
  const std::string ntfsRef = pc_.folder() + "/big.ref", fatRef = pc_.folder() + "/report.ref";
  std::ofstream(ntfsRef, std::ios::binary) << ntfsFile;
  std::ofstream(fatRef, std::ios::binary) << fatFile;
  Start();
  // The plan: the container ends at the destination's listed end (its last
  // whole cylinder), the NTFS drive 120 MiB long, the FAT32 drive (and the
  // link to it) after it up to the container's end.
  const uint64_t ntfsLength = 120 * kMiB, fatStart = (kNtfs + 2048) * 512 + ntfsLength;
  const uint64_t end = kDestination / (255 * 63) * (255 * 63) * 512;
  for (const bool automatic : {false, true}) {
    SCOPED_TRACE(automatic ? "the automatic plan" : "a manual plan");
    if (automatic) {
      PlanAutomatically(2, true, 4);
    } else {
      PrepareWizard(2, true, true, 4);
      int resized = 0;
      for (LayoutEntry& e : DiskContext.layoutTable) {
        if (e.startBytes == kContainer * 512) {
          e.newLengthBytes = end - e.startBytes;
        } else if (e.startBytes == (kFat - 2048) * 512) {
          e.newStartBytes = fatStart - 2048 * 512;
          e.newLengthBytes = end - e.newStartBytes;
        } else if (e.startBytes == kNtfs * 512) {
          e.newLengthBytes = ntfsLength;
          ++resized;
        } else if (e.startBytes == kFat * 512) {
          e.newStartBytes = fatStart;
          e.newLengthBytes = end - fatStart;
          ++resized;
        }
      }
      ASSERT_EQ(resized, 2) << "both logical drives are in the layout table";
    }
    platform::fs::ReleaseAllDrivers();
    const std::string sourceHash = ImageHash(4);
    ASSERT_EQ(RunClone("Completed", "0 files differ, 0 files not compared"), "")
        << platform::to_utf8(CloneRunState.skippedItems.GetString()) << " io errors " << DiskContext.ioErrorCount;
    platform::fs::ReleaseAllDrivers();
    EXPECT_EQ(ImageHash(4), sourceHash) << "the source is never written";

    const std::vector<std::string> rows = SfdiskRows(2);
    ASSERT_EQ(rows.size(), 4u) << ::testing::PrintToString(rows);
    // The rows as numbers: start, size, type.
    auto field = [&](size_t r, int n) {
      std::istringstream in(rows[r]);
      std::string parts[3];
      in >> parts[0] >> parts[1] >> parts[2];
      return parts[n];
    };
    EXPECT_EQ(field(0, 2) + field(1, 2) + field(2, 2) + field(3, 2), "757c") << ::testing::PrintToString(rows);
    if (!automatic) {
      EXPECT_EQ(rows[2], std::to_string(kNtfs) + " " + std::to_string(ntfsLength / 512) + " 7");
      EXPECT_EQ(rows[3], std::to_string(fatStart / 512) + " " + std::to_string((end - fatStart) / 512) + " c");
    }
    const uint64_t ntfsAt = std::stoull(field(2, 0)), ntfsSectors = std::stoull(field(2, 1));
    const uint64_t fatAt = std::stoull(field(3, 0)), fatSectors = std::stoull(field(3, 1));
    // The sectors a volume's boot sector claims: NTFS at 0x28, FAT32 at 0x20.
    auto claimed = [&](uint64_t start, int at, int width) {
      const std::vector<uint8_t> boot = pc_.ReadBytes(2, start * 512, 512);
      uint64_t n = 0;
      for (int i = width - 1; i >= 0; --i) n = (n << 8) | boot[static_cast<size_t>(at + i)];
      return n;
    };
    const std::string ntfs = pc_.ExtractVolume(2, ntfsAt, ntfsSectors, "logical-ntfs.img");
    EXPECT_EQ(Shell("ntfsfix -n " + ntfs, &out), 0) << out;
    EXPECT_LT(claimed(ntfsAt, 0x28, 8), ntfsSectors) << "an NTFS no larger than its partition";
    EXPECT_EQ(Shell("ntfscat " + ntfs + " big.bin | cmp - " + ntfsRef, &out), 0) << out;
    Shell("ntfscat " + ntfs + " notes.txt", &out);
    EXPECT_EQ(out, "logical\n");
    const std::string fat = pc_.ExtractVolume(2, fatAt, fatSectors, "logical-fat.img");
    EXPECT_EQ(Shell("fsck.fat -n " + fat, &out), 0) << out;
    EXPECT_LE(claimed(fatAt, 0x20, 4), fatSectors) << "a FAT no larger than its partition";
    EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + fat + " ::/DOCS/REPORT.BIN | cmp - " + fatRef, &out), 0) << out;
  }
}

// The source goes away while the copy runs: unplugged by another program
// (simpc detach) or its image cut short on the host (truncate). Sectors that
// are no longer there are not zeros: neither the basic nor the sector-by-
// sector copy may call the run "Completed"; the summary says it completed
// with errors and counts the blocks that could not be copied.
TEST_F(CloneRunTest, SourceThatGoesAwayMidCopyIsNoSuccess) {
  constexpr int kFiles = 24;
  PutTailAndBigFiles(kFiles, kMiB);
  const std::string saved = pc_.folder() + "/source.saved";
  ASSERT_EQ(Shell("cp --sparse=always " + pc_.Image(0) + " " + saved), 0);

  struct Case {
    bool basic;
    bool unplug;  // else the image is cut to 100 MiB, inside the system partition
    int percent;
  };
  for (const Case c : {Case{false, true, 30}, Case{false, false, 30}, Case{true, true, 10}, Case{true, false, 10}}) {
    SCOPED_TRACE(std::string(c.basic ? "basic, " : "sector by sector, ") + (c.unplug ? "unplugged" : "cut short"));
    ASSERT_EQ(Shell("cp --sparse=always " + saved + " " + pc_.Image(0)), 0);
    pc_.SetIni("disk 0", "attached", "yes");
    Start();
    PrepareWizard(1, c.basic, true);
    platform::ui::Script script;
    script.expect_dialog(CClone::IDD).click(1011);
    if (c.basic) script.expect_disabled(2).expect_enabled(2);
    script.expect_progress(1025, c.percent).device(false, 0);
    script.answer("ok").expect_dialog(138).expect_text(1024, "Completed with errors").key("escape");
    std::string log;
    ASSERT_EQ(RunScript(script, &log,
                        [&](bool, int, std::string* why) {
                          const std::string command =
                              c.unplug ? std::string(SIMPC_PATH) + " detach " + pc_.folder() + " 0"
                                       : "truncate -s " + std::to_string(100 * kMiB) + " " + pc_.Image(0);
                          if (Shell(command) != 0) {
                            *why = command + " failed";
                            return false;
                          }
                          platform::storage::PollDeviceChanges();
                          return true;
                        }),
              "");
    // The summary names them, shown again from the run's records: failed
    // block transfers on the error line, files the copy could not read on
    // the line of items not copied.
    ASSERT_GT(DiskContext.ioErrorCount + CloneRunState.skippedItemCount, 0);
    platform::ui::Script summary;
    summary.expect_dialog(CMirrorProgressSummary::IDD).expect_text(1024, "Completed with errors");
    if (DiskContext.ioErrorCount > 0)
      summary.expect_text(1033, "Read or write errors: " + std::to_string(DiskContext.ioErrorCount) +
                                    " reads or writes of a block failed.");
    if (CloneRunState.skippedItemCount > 0)
      summary.expect_text(CMirrorProgressSummary::kNotCopiedLine,
                          std::to_string(CloneRunState.skippedItemCount) + " items were not copied.");
    summary.key("escape");
    ShowSummary(summary);
  }
}


// A file that another program of the PC rewrites while the basic copy runs
// arrives as it was when the run began: the files are read from a
// copy-on-write snapshot of the source volume, which the other program's
// writes fill with the old blocks. The rewrite lands while the snapshot is
// held and before the copy has reached the file (it is not on the
// destination yet). Read back with ntfscat; the snapshot leaves no record in
// the machine folder and no file in the temporary folder.
TEST_F(CloneRunTest, FileRewrittenByAnotherProgramDuringTheCopyArrivesAsItWas) {
  constexpr int kFiles = 24;
  PutTailAndBigFiles(kFiles, kMiB);
  auto repeated = [](const std::string& text) {
    std::string body;
    while (body.size() < 40000) body += text;
    return body;
  };
  PutFile(u"C:\\big\\zz.bin", repeated("old-"));  // read last of the big files
  platform::fs::ReleaseAllDrivers();
  const std::string temp = pc_.folder() + "/tmp";
  ASSERT_EQ(Shell("mkdir -p " + temp), 0);
  const char* savedTemp = getenv("TMPDIR");
  const std::string keepTemp = savedTemp ? savedTemp : "";
  PrepareWizard(1, true, false);
  setenv("TMPDIR", temp.c_str(), 1);
  platform::ui::Script script;
  script.expect_dialog(CClone::IDD).click(1011).expect_disabled(2).expect_enabled(2);
  script.expect_progress(1025, 10).device(true, 9);
  script.answer("ok").expect_dialog(138).expect_text(1024, "Completed").key("escape");
  std::string log;
  const std::string failure = RunScript(script, &log, [&](bool, int, std::string* why) {
    if (SnapshotsInUse(pc_.folder()) != 1) {
      *why = "snapshots in use: " + std::to_string(SnapshotsInUse(pc_.folder()));
      return false;
    }
    std::u16string copied;
    for (auto& v : platform::storage::MountedVolumes())
      if (v.disk_number == 1 && v.offset == kSystemStart * 512 && v.letter)
        copied = std::u16string(1, static_cast<char16_t>(v.letter)) + u":\\big\\zz.bin";
    if (copied.empty() || GetFileAttributesW(copied.c_str()) != INVALID_FILE_ATTRIBUTES) {
      *why = "the copy's system volume is not there, or already holds zz.bin";
      return false;
    }
    std::string out;
    if (Shell("TMPDIR=" + temp + " " + FS_SNAPSHOT_HELPER + " " + pc_.folder() + " write C 'big\\zz.bin' new-",
              &out) != 0) {
      *why = "the other program failed: " + out;
      return false;
    }
    return true;
  });
  if (savedTemp) setenv("TMPDIR", keepTemp.c_str(), 1); else unsetenv("TMPDIR");
  ASSERT_EQ(failure, "");
  std::string out;
  const std::string source = pc_.ExtractVolume(0, kSystemStart, kSystemCount, "system-source.img");
  Shell("ntfscat " + source + " big/zz.bin", &out);
  EXPECT_TRUE(out == repeated("new-")) << "the other program's rewrite is not on the source";
  const std::string copy = pc_.ExtractVolume(1, kSystemStart, kSystemCount, "system-copy.img");
  EXPECT_EQ(Shell("ntfsfix -n " + copy, &out), 0) << out;
  Shell("ntfscat " + copy + " big/zz.bin", &out);
  EXPECT_TRUE(out == repeated("old-")) << out.substr(0, 16);
  Shell("ntfscat " + copy + " big/23.bin", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(kMiB, 40 + 23)) << "23.bin differs";
  EXPECT_EQ(SnapshotsInUse(pc_.folder()), 0u);
  int left = 0;
  for (auto& entry : std::filesystem::recursive_directory_iterator(temp)) left += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(left, 0) << "files left in the temporary folder";
}

}  // namespace
