// The partition manager run headless by script on a simulated PC: the list
// and the bar of a disk with primaries, an extended partition with logical
// drives and free space; the context menu's offers for each kind of item;
// a primary partition created through the wizard and formatted (checked by
// sfdisk and fsck.fat), a logical drive removed from the middle of the chain
// (sfdisk), a GPT disk refused with a message and left unchanged, and a disk
// plugged in while the manager is open. Screenshots of the manager and the
// wizard pages in English and Japanese go to the test's folder.
#include "mainapp/partition/partition_manager_dialog.h"

#include <gtest/gtest.h>

#include <QImage>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "fixture_partition.h"
#include "mainapp/partition/earlier_dialog.h"
#include "mainapp/partition/part_dialogs.h"
#include "mainapp/partition/partition_state.h"
#include "disk/partition_list.h"
#include "mainapp/records/disk_bars.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/controls.h"
#include "platform/ui/device_events.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/support/headless_run.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;
using partition_fixture::ReadTable;
using partition_fixture::Row;
using platform::ui::Script;

constexpr uint64_t MiB(uint64_t n) { return n * 2048; }

// The manager with a hook that runs when the dialog is set up.
class Manager : public CCreatePart1 {
 public:
  std::function<void(Manager&)> afterInit;
  BOOL OnInitDialog() override {
    BOOL r = CCreatePart1::OnInitDialog();
    if (afterInit) afterInit(*this);
    return r;
  }
  std::vector<std::vector<std::string>> Rows() {
    std::vector<std::vector<std::string>> out;
    auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(GetDlgItem(kList)->GetSafeHwnd());
    for (const auto& row : model->rows) {
      std::vector<std::string> texts;
      for (const auto& t : row.texts) texts.push_back(platform::to_utf8(t));
      out.push_back(texts);
    }
    return out;
  }
};

class PartitionManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShellState = ShellStateRecord{};
    ShellState.titleFontHeight = 15;
    ShellState.textFontHeight = 13;
    ShellState.messageCaption = u"Drummetworks";
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20, .product = "Main Disk"});
    pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(40), .mbrType = 0x06, .fs = "fat16", .label = "FIRST",
                     .files = {{"/DATA.BIN", std::string(10u << 20, 'd')}}},
                    {.start = MiB(80), .count = MiB(120), .mbrType = 0x0F},
                    {.start = MiB(81), .count = MiB(30), .mbrType = 0x06, .logical = true, .fs = "fat16", .label = "LOGA"},
                    {.start = MiB(120), .count = MiB(20), .mbrType = 0x06, .logical = true, .fs = "fat16", .label = "LOGB"},
                    {.start = MiB(150), .count = MiB(20), .mbrType = 0x06, .logical = true, .fs = "fat16", .label = "LOGC"}});
    partition_fixture::InstallLanguageFiles(pc);
  }
  void Boot() {
    pc.Boot();
    platform::fs::ReleaseAllDrivers();
    DiskContext = DiskContextRecord{};
    PartitionManagerState = PartitionManagerStateRecord{};
    ASSERT_TRUE(partition_fixture::UseLanguage("English"));
  }
  void TearDown() override {
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }
  // Runs the manager under `script`; the driver's failure or an empty text.
  std::string Run(Manager& manager, const Script& script, platform::ui::DriverOptions options = {}) {
    auto run = test_support::RunHeadless(script, [&] { manager.DoModal(); }, [&](platform::ui::DriverOptions& o) {
      std::ostream* log = o.log;
      o = options;
      o.log = log;
      o.screenshots_dir = ::testing::TempDir();
    });
    log_ = run.log;
    return test_support::FailureReport(run);
  }
  // Where map item `item` lies on the bar (the manager measured in a first run).
  CPoint Point(int item) {
    if (points_.empty()) {
      Manager probe;
      probe.afterInit = [&](Manager& m) {
        for (int i = 0; i < PartitionManagerState.diskMapCount; ++i) points_.push_back(m.ItemPoint(i));
      };
      EXPECT_EQ(Run(probe, Script().expect_dialog(233).click(2)), "");
    }
    return item >= 0 && item < static_cast<int>(points_.size()) ? points_[item] : CPoint(-1, -1);
  }
  // The labels under the bar's segments, as the manager draws them now.
  static std::vector<std::string> BarLabels() {
    std::vector<std::string> labels;
    const DiskBarStyle style = CCreatePart1::BarStyle();
    for (int i = 0; i < PartitionManagerState.diskMapCount; ++i)
      labels.push_back(platform::to_utf8(DiskBarSegmentLabel(PartitionManagerState.diskMap[i], i, style).GetString()));
    return labels;
  }
  // The list row of the disk whose model text holds `model` (a first run reads the list).
  int DiskRow(const std::string& model) {
    int found = -1;
    Manager first;
    first.afterInit = [&](Manager& self) {
      auto rows = self.Rows();
      for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].size() > 1 && rows[i][1].find(model) != std::string::npos) found = static_cast<int>(i);
    };
    EXPECT_EQ(Run(first, Script().expect_dialog(233).click(2)), "");
    return found;
  }

  // Formats the partition at `at` of the bar with `fileSystem` ("NTFS" or
  // "FAT") through the manager's Format command (quick); the driver's failure
  // or an empty text.
  std::string FormatAs(CPoint at, const char* fileSystem, const char* screenshot = nullptr) {
    Manager manager;
    Script script = BarMenu(at, CCreatePart1::kFormat);
    script.expect_dialog(237).select_text(1030, fileSystem).click(1167);
    if (screenshot) script.screenshot(screenshot);
    script.click(1007);
    return Run(manager, FormatsAndCloses(script));
  }
  // The outside checker finds a sound volume of `fileSystem` at [start,
  // start + count) of disk 0 (ntfs-3g's ntfsfix for "NTFS", fsck.fat for
  // "FAT"), and blkid names it so.
  void ExpectVolume(const std::string& fileSystem, uint64_t start, uint64_t count) {
    const bool ntfs = fileSystem == "NTFS";
    std::string out;
    std::string volume = pc.ExtractVolume(0, start, count, "formatted.img");
    EXPECT_EQ(disk_fixture::Shell((ntfs ? "ntfsfix -n " : "fsck.fat -n ") + volume, &out), 0) << out;
    EXPECT_EQ(disk_fixture::Shell("blkid -o value -s TYPE " + volume, &out), 0);
    EXPECT_EQ(out, ntfs ? "ntfs\n" : "vfat\n");
  }
  // The manager's script up to the bar menu's `command` on the item at `at`.
  static Script BarMenu(CPoint at, UINT command) {
    Script script;
    script.expect_dialog(233).rclick_at(CCreatePart1::kBarFrame, at.x, at.y).menu(command);
    return script;
  }
  // The format page (216) runs to its end and the manager closes.
  static Script& FormatsAndCloses(Script& script) {
    return script.expect_dialog(216).wait(60000).expect_dialog(233).click(2);
  }

  SimulatedPc pc;
  std::vector<CPoint> points_;
  std::string log_;
};

TEST_F(PartitionManagerTest, ListsLetteredPartitionsAndDrawsTheWholeDisk) {
  Boot();
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(partition_fixture::UseLanguage(language));
    Manager manager;
    std::vector<std::vector<std::string>> rows;
    manager.afterInit = [&](Manager& m) { rows = m.Rows(); };
    ASSERT_EQ(Run(manager, Script().expect_dialog(233).screenshot(std::string("manager-") + language + ".png").click(2)),
              "");
    ASSERT_EQ(rows.size(), 5u);  // the disk and its four lettered partitions
    const std::string diskText = platform::to_utf8(std::u16string(LookupString(u"IDS_Drive").GetString())) + "0 ";
    const std::string partText = "  " + platform::to_utf8(std::u16string(LookupString(u"IDS_Partition").GetString()));
    EXPECT_EQ(rows[0][0], diskText);
    EXPECT_NE(rows[0][1].find("Main Disk"), std::string::npos);
    EXPECT_LE(rows[0].size(), 3u) << "the disk row shows no used total";
    // Each partition row: its letter and type, a size and the used space of
    // its volume; its DiskListRows entry points at the disk row and holds the
    // start and length sfdisk reads from the image.
    const std::vector<Row> data = partition_fixture::DataRows(ReadTable(pc.Image(0), 512));
    ASSERT_EQ(data.size(), 4u);
    ASSERT_EQ(DiskListRows.rowCount, 5);
    EXPECT_EQ(DiskListRows.rowKind[0], -1);
    for (int r = 1; r <= 4; ++r) {
      SCOPED_TRACE(r);
      ASSERT_EQ(rows[r].size(), 4u);
      EXPECT_EQ(rows[r][0], partText);
      EXPECT_TRUE(std::regex_match(rows[r][1], std::regex(R"(\([A-Z]:\)  .+)"))) << rows[r][1];
      EXPECT_FALSE(rows[r][2].empty());
      EXPECT_FALSE(rows[r][3].empty());
      EXPECT_EQ(DiskListRows.rowKind[r], 0);
      EXPECT_EQ(DiskListRows.rowStart[r], data[r - 1].start);
      EXPECT_EQ(DiskListRows.rowLength[r], data[r - 1].count);
    }
    // The bar: P1, free, L1, L2, L3 (the 9 MiB between L1 and L2 are too
    // small for an item), free in the extended partition, free after it.
    const auto& s = PartitionManagerState;
    ASSERT_EQ(s.diskMapCount, 7);
    EXPECT_EQ(s.diskMap[1].partitionIndex, -1);
    EXPECT_EQ(s.diskMap[1].outsideExtended, 1);
    EXPECT_EQ(s.diskMap[5].partitionIndex, -1);
    EXPECT_EQ(s.diskMap[5].outsideExtended, 0);
    EXPECT_EQ(s.diskMap[6].outsideExtended, 1);
    for (int i = 0; i < s.diskMapCount; ++i) EXPECT_GE(s.diskMap[i].pixelWidth, 44);
  }
}

// Which commands the bar's menu offers on each kind of item: the script
// picks an offered command and escapes; a disabled pick fails the script.
TEST_F(PartitionManagerTest, BarMenuOffersWhatTheItemAllows) {
  Boot();
  const CPoint freeOutside = Point(1), logical = Point(2), lastLogical = Point(4), freeInside = Point(5), last = Point(6);
  struct Case {
    CPoint at;
    UINT pick;
    bool allowed;
  };
  const Case cases[] = {
      {freeOutside, CCreatePart1::kNewLogicalDrive, false}, {freeOutside, CCreatePart1::kFormat, false},
      {freeInside, CCreatePart1::kNewPartition, false},     {logical, CCreatePart1::kNewPartition, false},
      {logical, CCreatePart1::kResize, false},              {lastLogical, CCreatePart1::kResize, true},
      {last, CCreatePart1::kResize, false},                 {freeInside, CCreatePart1::kNewLogicalDrive, true},
      {CPoint(5, -6), CCreatePart1::kDelete, false},        {CPoint(5, -6), CCreatePart1::kProperties, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.at.x) + "," + std::to_string(c.at.y) + " pick " + std::to_string(c.pick));
    Manager manager;
    Script script;
    script.expect_dialog(233).rclick_at(CCreatePart1::kBarFrame, c.at.x, c.at.y).menu(c.pick);
    if (c.allowed) script.key("escape");  // the page the command opened
    script.click(2);
    std::string failure = Run(manager, script);
    if (c.allowed)
      EXPECT_EQ(failure, "");
    else
      EXPECT_NE(failure.find("is disabled"), std::string::npos) << failure;
  }
}

TEST_F(PartitionManagerTest, NewPrimaryThroughTheWizardIsCreatedAndFormatted) {
  Boot();
  const CPoint gap = Point(1);
  Manager manager;
  Script script = BarMenu(gap, CCreatePart1::kNewPartition);
  script.expect_dialog(236)
      // Typed before the 39 the page shows: 139 MB, more than the free
      // item holds, which takes the item's exact length.
      .type(1136, "1")
      .click(1133)
      .expect_text(1136, "39")
      .screenshot("wizard-1.png")
      .click(1161)
      .expect_dialog(242)
      .click(1032)
      .select_text(1030, "FAT")
      .screenshot("wizard-2.png")
      .click(1161)
      .expect_dialog(243)
      .screenshot("wizard-3.png")
      .click(1161)
      .expect_dialog(216)  // the format runs
      .wait(60000)
      .expect_dialog(233)
      .click(2);
  ASSERT_EQ(Run(manager, script), "");
  auto rows = ReadTable(pc.Image(0), 512);
  partition_fixture::ExpectSound(rows);
  const Row* added = nullptr;
  for (const Row& r : rows)
    if (r.start == MiB(41)) added = &r;
  ASSERT_NE(added, nullptr) << log_;
  EXPECT_EQ(added->count, MiB(39));
  ExpectVolume("FAT", added->start, added->count);
}

TEST_F(PartitionManagerTest, DeletingTheMiddleLogicalDriveKeepsTheChain) {
  Boot();
  const CPoint middle = Point(3);  // L2 at 120 MiB
  Manager manager;
  Script script = BarMenu(middle, CCreatePart1::kDelete);
  script.answer("yes")
      .expect_dialog(233)
      .click(2);
  ASSERT_EQ(Run(manager, script), "");
  auto rows = partition_fixture::DataRows(ReadTable(pc.Image(0), 512));
  EXPECT_EQ(rows, (std::vector<Row>{{MiB(1), MiB(40), 6}, {MiB(81), MiB(30), 6}, {MiB(150), MiB(20), 6}}));
}

// A command the second disk cannot take is refused with a message, and the
// disk is left as it was, sector for sector.
struct RefusedCase {
  const char* name;
  bool gpt;                 // the disk holds a GPT, else an MBR
  disk_fixture::Part part;  // the table's first partition (a second follows on a GPT)
  CPoint at;                // where the bar is right-clicked
  UINT command;
  const char* message;      // what the log then holds
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class RefusedCommandTest : public PartitionManagerTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedCommandTest, ShowsAMessageAndLeavesTheDiskAlone) {
  const RefusedCase& c = GetParam();
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 128ull << 20, .product = "Second Disk"});
  if (c.gpt)
    pc.WriteGpt(1, {c.part, {.start = MiB(60), .count = MiB(20)}});
  else
    pc.WriteMbr(1, {c.part});
  Boot();
  const uint64_t before = partition_fixture::HashSectors(pc, 1, 0, MiB(128));
  const int diskRow = DiskRow("Second Disk");
  ASSERT_GE(diskRow, 0);
  Manager manager;
  Script script;
  script.expect_dialog(233)
      .select(CCreatePart1::kList, diskRow)
      .wait(3000)  // the disk's map is rebuilt
      .rclick_at(CCreatePart1::kBarFrame, c.at.x, c.at.y)
      .menu(c.command)
      .answer("ok")
      .expect_dialog(233)
      .click(2);
  ASSERT_EQ(Run(manager, script), "");
  EXPECT_NE(log_.find(c.message), std::string::npos) << log_;
  EXPECT_EQ(log_.find("dialog 216"), std::string::npos) << "no format page runs\n" << log_;
  EXPECT_EQ(partition_fixture::HashSectors(pc, 1, 0, MiB(128)), before);
}

INSTANTIATE_TEST_SUITE_P(
    PartitionManager, RefusedCommandTest,
    ::testing::Values(
        // A new partition asked for outside any item of a GPT disk.
        RefusedCase{"GptDisk", true, {.start = MiB(1), .count = MiB(20)}, CPoint(5, -6), CCreatePart1::kNewPartition,
                    "GPT partition table"},
        // A format of a Linux partition, which has no drive letter (the first
        // item, near the bar's left edge).
        RefusedCase{"PartitionWithoutALetter", false, {.start = MiB(1), .count = MiB(40), .mbrType = 0x83},
                    CPoint(10, 10), CCreatePart1::kFormat, "could not be formatted"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST_F(PartitionManagerTest, PluggedInDiskJoinsTheListWhileOpen) {
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 64ull << 20, .sectorSize = 4096, .product = "Plugged Disk"});
  pc.SetIni("disk 1", "attached", "no");
  Boot();
  Manager manager;
  platform::ui::DriverOptions options;
  options.device_hook = [&](bool arrive, int disk, std::string*) {
    pc.SetIni("disk " + std::to_string(disk), "attached", arrive ? "yes" : "no");
    platform::storage::PollDeviceChanges();
    return true;
  };
  size_t before = 0;
  manager.afterInit = [&](Manager& m) { before = m.Rows().size(); };
  Script script;
  script.expect_dialog(233).device(true, 1).wait(100).click(2);
  platform::ui::ConnectDeviceNotifications();
  std::string failure = Run(manager, script, options);
  platform::ui::DisconnectDeviceNotifications();
  ASSERT_EQ(failure, "");
  EXPECT_EQ(before, 5u);

  bool found = false;
  for (int i = 1; i <= DiskContext.diskCount && i <= kMaxListedDisks; ++i)
    if (platform::to_utf8(DiskContext.listedModel[i].GetString()).find("Plugged Disk") != std::string::npos) found = true;
  EXPECT_TRUE(found);
  EXPECT_EQ(DiskListRows.rowCount, 6) << log_;
}

TEST_F(PartitionManagerTest, ResizeGrowsTheLastLogicalDriveToTheEndOfTheExtendedPartition) {
  Boot();
  const CPoint lastLogical = Point(4);  // L3 at 150 MiB, free space behind it up to 200 MiB
  const uint64_t before = partition_fixture::HashSectors(pc, 0, MiB(150), MiB(20));
  Manager manager;
  Script script = BarMenu(lastLogical, CCreatePart1::kResize);
  script.expect_dialog(235)
      .expect_text(1136, "50")
      .screenshot("resize.png")
      .click(1007)
      .expect_dialog(233)
      .click(2);
  ASSERT_EQ(Run(manager, script), "");
  auto rows = ReadTable(pc.Image(0), 512);
  partition_fixture::ExpectSound(rows);
  EXPECT_EQ(partition_fixture::DataRows(rows),
            (std::vector<Row>{{MiB(1), MiB(40), 6}, {MiB(81), MiB(30), 6}, {MiB(120), MiB(20), 6}, {MiB(150), MiB(50), 6}}));
  EXPECT_EQ(partition_fixture::HashSectors(pc, 0, MiB(150), MiB(20)), before);  // the file system is not touched
}

TEST_F(PartitionManagerTest, ResizeNeverShrinksAndCancelKeepsTheTable) {
  Boot();
  const CPoint lastLogical = Point(4);
  for (const char* typed : {"1", ""}) {
    SCOPED_TRACE(typed);
    const auto table = ReadTable(pc.Image(0), 512);
    Manager manager;
    Script script = BarMenu(lastLogical, CCreatePart1::kResize);
    script.expect_dialog(235);
    if (*typed) {
      // "150" is more than the 50 MB maximum; then the minimum is the current 20 MB, never less.
      script.type(1136, typed).click(1133).expect_text(1136, "50");
    }
    script.click(2).expect_dialog(233).click(2);
    ASSERT_EQ(Run(manager, script), "");
    EXPECT_EQ(PartitionManagerState.minSectors, static_cast<int64_t>(MiB(20)));
    EXPECT_EQ(ReadTable(pc.Image(0), 512), table);
  }
}

TEST_F(PartitionManagerTest, FormatWritesTheChosenFileSystemAndKeepsTheOthers) {
  Boot();
  // L1 (D:): the formatter leaves C: alone outside WinPE.
  const CPoint first = Point(2);
  const uint64_t primary = partition_fixture::HashSectors(pc, 0, MiB(1), MiB(40));
  ASSERT_EQ(FormatAs(first, "NTFS", "format.png"), "");
  ExpectVolume("NTFS", MiB(81), MiB(30));
  EXPECT_EQ(partition_fixture::HashSectors(pc, 0, MiB(1), MiB(40)), primary);
  // The logical drive's type follows its new file system; the others keep theirs.
  EXPECT_EQ(partition_fixture::DataRows(ReadTable(pc.Image(0), 512)),
            (std::vector<Row>{{MiB(1), MiB(40), 6}, {MiB(81), MiB(30), 7}, {MiB(120), MiB(20), 6}, {MiB(150), MiB(20), 6}}));
}

TEST_F(PartitionManagerTest, PropertiesShowTheVolumeAndItsPie) {
  Boot();
  const CPoint first = Point(0);
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(partition_fixture::UseLanguage(language));
    Manager manager;
    Script script = BarMenu(first, CCreatePart1::kProperties);
    script.expect_dialog(238)
        .expect_visible(1159)
        .screenshot(std::string("properties-") + language + ".png")
        .click(2)
        .expect_dialog(233)
        .click(2);
    ASSERT_EQ(Run(manager, script), "");
    // The free and used clusters shown are fsck.fat's.
    const auto& p = PartitionProperties;
    std::string out;
    disk_fixture::Shell("fsck.fat -n -v " + pc.ExtractVolume(0, MiB(1), MiB(40), "first.img"), &out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("(\\d+)/(\\d+) clusters"))) << out;
    EXPECT_EQ(p.totalClusters, std::stoul(m[2]));
    EXPECT_EQ(p.totalClusters - p.freeClusters, std::stoul(m[1]));
    EXPECT_GT(p.totalClusters - p.freeClusters, 0u);
    // The pie: the magenta slice is the free share of the circle, the navy one
    // the used share (the legend swatches lie in the left third).
    QImage shot(QString::fromStdString(::testing::TempDir() + "/properties-" + language + ".png"));
    ASSERT_FALSE(shot.isNull());
    int magenta = 0, navy = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = shot.width() / 3; x < shot.width(); ++x) {
        QRgb c = shot.pixel(x, y);
        if (c == qRgb(255, 0, 255)) ++magenta;
        if (c == qRgb(0, 0, 128)) ++navy;
      }
    ASSERT_GT(magenta + navy, 5000);
    EXPECT_NEAR(static_cast<double>(magenta) / (magenta + navy),
                static_cast<double>(p.freeClusters) / p.totalClusters, 0.05);
  }
}

// The earlier single-page dialog, which nothing in the program opens: its
// inline panel creates a partition in the clicked free item with a quick
// format, and its properties are a plain message.
TEST_F(PartitionManagerTest, EarlierDialogCreatesThroughItsInlinePanel) {
  Boot();
  const CPoint gap = Point(1);  // the bar lies where it lies in the manager
  CCreatePart dialog;
  Script script;
  script.expect_dialog(213)
      .rclick_at(CCreatePart1::kBarFrame, gap.x, gap.y)
      .menu(CCreatePart1::kNewPartition)
      .expect_enabled(1138)
      .expect_text(1136, "39")
      .select_text(1030, "FAT")
      .screenshot("earlier.png")
      .click(1138)
      .expect_dialog(216)
      .wait(60000)
      .expect_dialog(213)
      .rclick_at(CCreatePart1::kBarFrame, 5, -6)
      .menu(CCreatePart1::kProperties)
      .answer("ok")
      .click(2);
  std::ostringstream log;
  platform::ui::DriverOptions options;
  options.log = &log;
  options.screenshots_dir = ::testing::TempDir();
  {
    platform::ui::HeadlessSession session(script, options);
    dialog.DoModal();
    ASSERT_TRUE(session.driver().finished()) << log.str();
  }
  EXPECT_NE(log.str().find("Diskno: 1"), std::string::npos) << log.str();
  auto rows = ReadTable(pc.Image(0), 512);
  partition_fixture::ExpectSound(rows);
  const Row* added = nullptr;
  for (const Row& r : rows)
    if (r.start == MiB(41)) added = &r;
  ASSERT_NE(added, nullptr) << log.str();
  EXPECT_EQ(added->count, MiB(39));
  ExpectVolume("FAT", added->start, added->count);
}


// A partition left without a file system (its table entry was written, then
// the run was killed before the format): the list and the bar's label say it
// is unformatted (English and Japanese) with no used size, the bar's menu
// offers Format on it, and Format gives it the chosen file system (ntfsfix)
// and the list and the bar its type again.
TEST_F(PartitionManagerTest, UnformattedPartitionIsShownSoAndOffersFormat) {
  pc.WriteBytes(0, MiB(120) * 512, std::string(1u << 20, '\0'));  // L2's file system is gone
  Boot();
  const CPoint unformatted = Point(3);
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(partition_fixture::UseLanguage(language));
    Manager manager;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> labels;
    std::string typeName;
    manager.afterInit = [&](Manager& m) {
      rows = m.Rows();
      labels = BarLabels();
      typeName = platform::to_utf8(PartitionTypeName(PartitionManagerState.diskMap[3].type).GetString());
    };
    ASSERT_EQ(Run(manager, Script().expect_dialog(233).screenshot(std::string("unformatted-") + language + ".png").click(2)), "");
    ASSERT_EQ(rows.size(), 5u);
    const std::string shown = platform::to_utf8(std::u16string(LookupString(u"IDS_Unformatted").GetString()));
    EXPECT_NE(shown, "IDS_Unformatted");
    EXPECT_NE(rows[3][1].find(shown), std::string::npos) << rows[3][1];
    EXPECT_EQ(rows[3][3], "");
    for (int other : {1, 2, 4}) EXPECT_EQ(rows[other][1].find(shown), std::string::npos) << rows[other][1];
    // The bar names the partition as the list does, and no other segment so.
    ASSERT_GT(labels.size(), 3u);
    EXPECT_NE(labels[3].find(shown), std::string::npos) << labels[3];
    ASSERT_FALSE(typeName.empty());
    EXPECT_EQ(labels[3].find(typeName), std::string::npos) << labels[3];
    for (size_t other = 0; other < labels.size(); ++other) {
      if (other != 3) EXPECT_EQ(labels[other].find(shown), std::string::npos) << other << ": " << labels[other];
    }
  }
  ASSERT_TRUE(partition_fixture::UseLanguage("English"));
  ASSERT_EQ(FormatAs(unformatted, "NTFS"), "");
  ExpectVolume("NTFS", MiB(120), MiB(20));
  std::vector<std::vector<std::string>> after;
  std::vector<std::string> labelsAfter;
  Manager again;
  again.afterInit = [&](Manager& m) {
    after = m.Rows();
    labelsAfter = BarLabels();
  };
  ASSERT_EQ(Run(again, Script().expect_dialog(233).click(2)), "");
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after[3][1].find("Unformatted"), std::string::npos) << after[3][1];
  ASSERT_GT(labelsAfter.size(), 3u);
  EXPECT_EQ(labelsAfter[3].find("Unformatted"), std::string::npos) << labelsAfter[3];
  EXPECT_NE(labelsAfter[3].find("NTFS"), std::string::npos) << labelsAfter[3];
}

// A disk whose extended partition holds no logical drive (as the wizard makes
// it, or as deleting its last drive leaves it), beside a type 07 partition
// that holds NTFS.
class EmptyExtendedTest : public PartitionManagerTest {
 protected:
  void SetUp() override {
    PartitionManagerTest::SetUp();
    pc.WriteMbr(0, {{.start = MiB(1), .count = MiB(40), .mbrType = 0x06, .fs = "fat16", .label = "FIRST"},
                    {.start = MiB(41), .count = MiB(30), .mbrType = 0x07, .fs = "ntfs", .label = "SECOND"},
                    {.start = MiB(80), .count = MiB(120), .mbrType = 0x0F}});
    // No boot record at the extended partition's start: the first disk's
    // chain of logical drives is gone.
    std::fstream image(pc.Image(0), std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(static_cast<std::streamoff>(MiB(80) * 512));
    image.write(std::string(512, '\0').data(), 512);
  }
  // Map items: P1, P2, the extended partition's space, the free space after it.
  static constexpr int kExtendedItem = 2;
};

// The extended partition's space is free space for logical drives: drawn and
// labelled so, New Logical Drive offered on it (New Partition not), and
// Delete deletes the empty extended partition (sfdisk).
TEST_F(EmptyExtendedTest, ItsSpaceIsFreeLogicalSpaceThatTakesALogicalDrive) {
  Boot();
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(partition_fixture::UseLanguage(language));
    const CPoint space = Point(kExtendedItem);
    Manager manager;
    Script script;
    script.expect_dialog(233)
        .click_at(CCreatePart1::kBarFrame, space.x, space.y)
        .screenshot(std::string("manager-empty-extended-") + language + ".png")
        .rclick_at(CCreatePart1::kBarFrame, space.x, space.y)
        .menu(CCreatePart1::kNewLogicalDrive)
        .expect_dialog(236)
        .click(2)
        .expect_dialog(233)
        .click(2);
    ASSERT_EQ(Run(manager, script), "") << log_;
    const DiskMapItem& item = PartitionManagerState.diskMap[kExtendedItem];
    EXPECT_EQ(item.partitionIndex, -1);
    EXPECT_EQ(item.outsideExtended, 0);
    EXPECT_EQ(item.start, MiB(80));
    EXPECT_EQ(item.length, MiB(120));
    EXPECT_EQ(platform::to_utf8(DiskBarSegmentLabel(item, kExtendedItem, DiskBarStyle{}).GetString()),
              platform::to_utf8(LookupString(u"IDS_Free").GetString()));
  }
  ASSERT_TRUE(partition_fixture::UseLanguage("English"));
  const CPoint space = Point(kExtendedItem);
  for (UINT refused : {CCreatePart1::kNewPartition, CCreatePart1::kFormat, CCreatePart1::kResize}) {
    Manager manager;
    std::string failure = Run(manager, BarMenu(space, refused).click(2));
    EXPECT_NE(failure.find("is disabled"), std::string::npos) << refused << ": " << failure;
  }
  // A logical drive through the wizard: the whole space, quick FAT.
  Manager manager;
  Script script = BarMenu(space, CCreatePart1::kNewLogicalDrive);
  script.expect_dialog(236).click(1161).expect_dialog(242).click(1032).select_text(1030, "FAT").click(1161);
  script.expect_dialog(243).click(1161);
  ASSERT_EQ(Run(manager, FormatsAndCloses(script)), "") << log_;
  auto rows = ReadTable(pc.Image(0), 512);
  partition_fixture::ExpectSound(rows);
  // The data rows are kept: the pointer below points into them.
  const std::vector<Row> data = partition_fixture::DataRows(rows);
  const Row* logical = nullptr;
  for (const Row& r : data)
    if (r.start > MiB(80) && r.start < MiB(200)) logical = &r;
  ASSERT_NE(logical, nullptr) << log_;
  EXPECT_LE(logical->start + logical->count, MiB(200));
  EXPECT_GE(logical->count, MiB(110));
  ExpectVolume("FAT", logical->start, logical->count);
}

TEST_F(EmptyExtendedTest, DeleteOnItsSpaceDeletesTheEmptyExtendedPartition) {
  Boot();
  const CPoint space = Point(kExtendedItem);
  Manager manager;
  ASSERT_EQ(Run(manager, BarMenu(space, CCreatePart1::kDelete).answer("yes").expect_dialog(233).click(2)), "") << log_;
  EXPECT_EQ(ReadTable(pc.Image(0), 512), (std::vector<Row>{{MiB(1), MiB(40), 6}, {MiB(41), MiB(30), 7}}));
}

// Formatting sets the partition's type to the one its new file system needs
// (sfdisk -d reads it): the type 07 partition formatted FAT becomes 06.
TEST_F(EmptyExtendedTest, FormattingSetsTheTypeTheFileSystemNeeds) {
  Boot();
  const CPoint second = Point(1);
  ASSERT_EQ(FormatAs(second, "FAT"), "") << log_;
  std::string dump;
  ASSERT_EQ(disk_fixture::Shell("sfdisk -d " + pc.Image(0), &dump), 0);
  EXPECT_TRUE(std::regex_search(dump, std::regex("start= *83968, size= *61440, type=6\\b"))) << dump;
  ExpectVolume("FAT", MiB(41), MiB(30));
  EXPECT_EQ(ReadTable(pc.Image(0), 512)[0], (Row{MiB(1), MiB(40), 6})) << "the other partition keeps its type";
}

}  // namespace
