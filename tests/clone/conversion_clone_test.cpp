// A Windows system disk with an MBR table cloned onto a disk of more than
// 2 TiB, which the copy turns into a GPT disk, through the whole run: once
// through the wizard's pages and once by one-click copy, which plans without
// the destination page's Next. The copy is checked with tools that did not
// write it: sgdisk -v finds no problem and every partition ends before the
// backup table (sfdisk's last-lba); the new EFI system partition holds the
// boot files (fsck.fat -n, mdir); the copied SYSTEM hive's MountedDevices
// binds C: to the new system partition's unique GUID as sgdisk reports it
// (ntfscat, hivexsh); the boot store on the ESP names the copied system's
// volume (mcopy, hivexsh); the copied files read back (ntfscat, mtype).
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "tests/support/sparse_copy.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "disk/shadow_copy.h"
#include "mainapp/clone/clone_commands.h"
#include "mainapp/clone/destination_page.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/clone/source_page.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/startup/startup.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/headless_driver.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

constexpr uint64_t kMiB = 1ull << 20;
// A little over 2 TiB: a whole number of cylinders (so its listed size is all
// of it) and not a whole number of MiB.
constexpr uint64_t kDestinationBytes = 267355ull * 255 * 63 * 512;
const std::string kBootFile = disk_fixture::Pattern(200000, 41);
const std::string kReport = disk_fixture::Pattern(1300000, 43);

// A host copy of `count` bytes of an image from byte `offset` that copies only
// the image's data extents: a partition of a terabyte is mostly holes.
std::string ExtractSparse(const std::string& image, uint64_t offset, uint64_t count, const std::string& out) {
  EXPECT_TRUE(test_support::CopyRangeSparse(image, offset, count, out)) << "extracting " << out;
  return out;
}

using clone_fixture::StoredGuidHex;

struct GptRow {
  uint64_t start = 0, size = 0;
  std::string type, uuid;
};

// The rows and the last usable sector of a GPT as sfdisk reads it.
struct GptTable {
  uint64_t lastLba = 0;
  std::vector<GptRow> rows;
};
GptTable ReadGpt(const std::string& image) {
  std::string out;
  Shell("sfdisk -d '" + image + "'", &out);
  GptTable table;
  std::smatch m;
  if (std::regex_search(out, m, std::regex("last-lba: (\\d+)"))) table.lastLba = std::stoull(m[1]);
  std::regex row("start=\\s*(\\d+), size=\\s*(\\d+), type=([0-9A-Fa-f-]+), uuid=([0-9A-Fa-f-]+)");
  for (std::sregex_iterator it(out.begin(), out.end(), row), end; it != end; ++it)
    table.rows.push_back({std::stoull((*it)[1]), std::stoull((*it)[2]), (*it)[3].str(), (*it)[4].str()});
  return table;
}

// How the copy is started: the wizard's pages or one-click copy.
struct Route {
  const char* name;
  std::function<void()> start;
  std::function<void(platform::ui::Script&)> pages;  // up to the clone page
};
void PrintTo(const Route& route, std::ostream* os) { *os << route.name; }

class ConversionCloneTest : public clone_fixture::ClonePcTest, public ::testing::WithParamInterface<Route> {
 protected:
  void SetUp() override {
    ClonePcTest::SetUp();
    platform::startup::ConnectLayers();  // offline hives on the simulated PC's volumes
    // The BCD editor and the ESP image in the program folder; a work folder T:
    // whose Windows\System32 is where the command interpreter is found.
    const std::string program = pc_.folder() + "/program", temp = pc_.folder() + "/temp";
    std::filesystem::create_directories(program + "/Resources");
    std::filesystem::create_directories(temp + "/Windows/System32");
    for (const char* file : {"espimage", "espimage4096", "Vastrel.exe"})
      std::filesystem::copy_file(std::string(DRUM_STAGE_DIR) + "/Resources/" + file,
                                 program + "/Resources/" + file);
    pc_.AppendIni("\n[mount T]\npath = T:\nhost = " + temp + "\ndrive_type = fixed\n");
    pc_.SetIni("os", "system_folder", "T:\\Windows\\System32");

    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 400 * kMiB, .product = "System Disk", .serial = "S0"});
    Part system{.start = 2048, .count = 200 * 2048, .mbrType = 0x07, .active = true, .fs = "ntfs",
                .label = "SYSTEM"};
    system.files = {{"/bootmgr", kBootFile}};
    // The data partition runs to the disk's very end, as a disk's last one often does.
    Part data{.start = 202 * 2048, .count = 198 * 2048, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"};
    data.files = {{"/DOCS/REPORT.BIN", kReport}};
    pc_.WriteMbr(0, {system, data}, 0x5EED4321);
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = kDestinationBytes, .product = "Huge Disk", .serial = "H1"});
    Start();
    TempFolder = u"T:\\";
    RegisterCloneCommands();
    RunDestinationPage = &RunDestinationPageModal;
    // The system on C:, its SYSTEM hive binding C: and D: to the old MBR disk.
    const std::string script = "add MountedDevices\ncd MountedDevices\nsetval 2\n"
                               "\\DosDevices\\C:\nhex:3:2143ed5e0000100000000000\n"
                               "\\DosDevices\\D:\nhex:3:2143ed5e0000a00c00000000\ncommit\n";
    clone_fixture::PutSystemHive(pc_.folder() + "/SYSTEM", "SYSTEM", script, u"C:");
    platform::fs::ReleaseAllDrivers();
  }
  void TearDown() override {
    RunDestinationPage = nullptr;
    TempFolder.Empty();
    ClonePcTest::TearDown();
  }
};

TEST_P(ConversionCloneTest, TheCopyIsAWholeGptDiskThatBootsTheCopiedSystem) {
  const Route& route = GetParam();
  const std::string source = ImageHash(0);
  platform::ui::Script script;
  route.pages(script);
  script.expect_dialog(191).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed").key("escape");
  auto run = disk_fixture::RunHeadless(script, route.start);
  ASSERT_EQ(run.failure, "") << run.log;
  ASSERT_EQ(CloneSettings.convertToGpt, 1);
  ASSERT_EQ(CloneRunState.systemDestinationText.GetLength(), 2) << "the run found no copied system";
  platform::fs::ReleaseAllDrivers();
  EXPECT_EQ(ImageHash(0), source) << "the source is never written";

  const std::string image = pc_.Image(1);
  std::string out;
  EXPECT_EQ(Shell("sgdisk -v '" + image + "'", &out), 0) << out;
  EXPECT_NE(out.find("No problems found"), std::string::npos) << out;
  const GptTable gpt = ReadGpt(image);
  ASSERT_EQ(gpt.rows.size(), 3u) << "the ESP and the two copied partitions";
  ASSERT_GT(gpt.lastLba, 0u);
  EXPECT_LE(gpt.lastLba, kDestinationBytes / 512 - 34) << "room for the backup entries and header";
  for (const GptRow& row : gpt.rows) EXPECT_LE(row.start + row.size - 1, gpt.lastLba) << row.start;
  EXPECT_GT(gpt.rows[2].start + gpt.rows[2].size, gpt.lastLba - 4096) << "the last partition reaches the disk's end";
  EXPECT_EQ(gpt.rows[0].type, disk_fixture::kGptEsp);

  // The EFI system partition with its boot files.
  const std::string esp = ExtractSparse(image, gpt.rows[0].start * 512, gpt.rows[0].size * 512,
                                        pc_.folder() + "/esp.img");
  EXPECT_EQ(Shell("fsck.fat -n '" + esp + "'", &out), 0) << out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdir -i '" + esp + "' ::/EFI/Microsoft/Boot", &out), 0) << out;
  EXPECT_NE(out.find("bootmgfw"), std::string::npos) << out;
  EXPECT_NE(out.find("BCD"), std::string::npos) << out;

  // The copied system and its SYSTEM hive: C: is the new system partition.
  const std::string system = ExtractSparse(image, gpt.rows[1].start * 512, gpt.rows[1].size * 512,
                                           pc_.folder() + "/system.img");
  EXPECT_EQ(Shell("ntfsfix -n '" + system + "'", &out), 0) << out;
  Shell("ntfscat '" + system + "' bootmgr", &out);
  EXPECT_TRUE(out == kBootFile) << "bootmgr differs";
  const std::string hive = pc_.folder() + "/SYSTEM.copy";
  ASSERT_EQ(Shell("ntfscat '" + system + "' /Windows/System32/Config/SYSTEM > '" + hive + "'"), 0);
  ASSERT_EQ(Shell("printf 'cd MountedDevices\\nlsval\\n' | hivexsh '" + hive + "'", &out), 0) << out;
  std::string values;
  for (char c : out)
    if (c != ',') values += c;
  const std::string record = "444d494f3a49443a" + StoredGuidHex(gpt.rows[1].uuid);  // "DMIO:ID:" + GUID
  EXPECT_NE(values.find("DosDevices\\\\C:\"=hex(3):" + record), std::string::npos) << record << "\n" << out;
  EXPECT_EQ(out.find("DosDevices\\\\D:"), std::string::npos) << out;

  // The boot store names the copied system's volume.
  const std::string store = pc_.folder() + "/BCD.copy";
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + esp + "' ::/EFI/Microsoft/Boot/BCD '" + store + "'", &out), 0)
      << out;
  // In binary form: the copy's own disk GUID and system partition GUID.
  std::string dump;
  Shell("sfdisk -d '" + image + "'", &dump);
  std::smatch label;
  ASSERT_TRUE(std::regex_search(dump, label, std::regex("label-id: ([0-9A-Fa-f-]+)"))) << dump;
  clone_fixture::ExpectStoreNamesSystem(store, clone_fixture::GptDeviceHex(label[1], gpt.rows[1].uuid));

  // The data partition, formatted NTFS at its new size (32 GiB or more), and its files.
  const std::string data = ExtractSparse(image, gpt.rows[2].start * 512, gpt.rows[2].size * 512,
                                         pc_.folder() + "/data.img");
  EXPECT_EQ(Shell("ntfsfix -n '" + data + "'", &out), 0) << out;
  Shell("ntfscat '" + data + "' /DOCS/REPORT.BIN", &out);
  EXPECT_TRUE(out == kReport) << "REPORT.BIN differs";
}

INSTANTIATE_TEST_SUITE_P(
    Routes, ConversionCloneTest,
    ::testing::Values(
        Route{"Wizard",
              [] {
                CMirrorSource page;
                page.DoModal();
              },
              [](platform::ui::Script& s) {
                s.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
                s.click(1007).expect_dialog(136).click(1007);
              }},
        Route{"OneClick", [] { OnOneClickCopy(nullptr); }, [](platform::ui::Script&) {}}),
    [](const ::testing::TestParamInfo<Route>& info) { return std::string(info.param.name); });

}  // namespace
