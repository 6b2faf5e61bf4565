// The clone wizard on simulated PCs: the source page's list, tick rules and
// Next, the options page, and the plan applied to real disks (an MBR source
// with a logical drive, a GPT source, a 4096-byte destination, a smaller
// destination that still holds the used space, one too small, and one that
// has gone). Expected layouts are worked out by hand from the planning rules
// on disks of whole cylinders (so that D is exactly twice S, or half of it);
// every run ends with the disk images unchanged byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_commands.h"
#include "mainapp/clone/clone_plan.h"
#include "mainapp/clone/destination_page.h"
#include "mainapp/clone/manual_sizing.h"
#include "mainapp/clone/options_page.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/clone/plan_application.h"
#include "mainapp/clone/source_page.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/clone_page_hook.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;
using platform::ui::Script;

constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kCylinder512 = 255ull * 63 * 512;     // bytes of one cylinder, 512-byte sectors
constexpr uint64_t kCylinder4096 = 255ull * 63 * 4096;  // and 4096-byte sectors

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }

// FNV-1a over a whole image file, read in 1 MiB pieces.
uint64_t Digest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(kMiB);
  uint64_t h = 1469598103934665603ull;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    for (std::streamsize i = 0; i < in.gcount(); ++i) h = (h ^ static_cast<uint8_t>(buffer[i])) * 1099511628211ull;
  }
  return h;
}

struct ListRow {
  std::vector<std::string> texts;
  int image = 0;
  bool ticked = false;
};
std::vector<ListRow> ListRows(CWnd& page) {
  std::vector<ListRow> out;
  auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(page.GetDlgItem(1027)->GetSafeHwnd());
  if (!model) return out;
  for (const auto& row : model->rows) {
    ListRow r;
    for (const auto& t : row.texts) r.texts.push_back(platform::to_utf8(t));
    r.texts.resize(4);
    r.image = row.image;
    r.ticked = ((row.state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    out.push_back(r);
  }
  return out;
}

// What the destination page would have been handed.
struct Handed {
  int calls = 0;
  CloneSettingsRecord settings;
  DiskMapRecord sourceMap;
};
Handed handed;
INT_PTR RecordDestination(CWnd*) {
  ++handed.calls;
  handed.settings = CloneSettings;
  handed.sourceMap = SourceDiskMap;
  return IDOK;
}
int clonePageCalls = 0;
INT_PTR RecordClonePage(CWnd*) {
  ++clonePageCalls;
  return IDOK;
}

template <class Page>
class Probe : public Page {
 public:
  std::vector<ListRow> rows;
  bool basicEnabled = true;
  std::function<void(Probe&)> atCancel;
  void OnCancel() override {
    rows = ListRows(*this);
    if (atCancel) atCancel(*this);
    Page::OnCancel();
  }
};

class CloneWizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShellState = ShellStateRecord{};
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
    CloneSettings = CloneSettingsRecord{};
    WizardList = WizardListState{};
    SourceDiskMap = PlannedDiskMap = DestinationDiskMap = DiskMapRecord{};
    ManualSizing = ManualSizingState{};
    DestinationPageState = DestinationPageStateRecord{};
    RunDestinationPage = &RecordDestination;
    RunClonePage = &RecordClonePage;
    handed = Handed{};
    clonePageCalls = 0;
    ShellState.titleFontHeight = 15;
    ShellState.textFontHeight = 13;
    ShellState.messageCaption = u"Drummetworks";
  }
  void TearDown() override {
    RunDestinationPage = nullptr;
    RunClonePage = nullptr;
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
    CloneSettings = CloneSettingsRecord{};
  }
  // Boots the PC with the program's language files and reads the disk tables.
  void Boot(int disks) {
    ASSERT_TRUE(disk_fixture::MountProgramFolder(pc_, pc_.folder() + "/program"));
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
    ShellState.programFolder = u"P:";
    ShellState.languageName = u"English";
    ASSERT_TRUE(LoadLanguageStrings());
    DiskContext.diskCount = ReadDiskCount();
    EnumerateDisks();
    MapLettersToDisks();
    ListLetterVolumes();
    for (int n = 0; n < disks; ++n) images_.push_back(Digest(pc_.Image(n)));
  }
  void ExpectImagesUnchanged() {
    for (size_t n = 0; n < images_.size(); ++n)
      EXPECT_EQ(Digest(pc_.Image(static_cast<int>(n))), images_[n]) << "disk " << n << " was written";
  }
  template <class Page>
  std::string Run(Page& page, const Script& script) {
    std::string failure;
    auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
    return run.failure.empty() ? std::string() : run.failure + "\n" + run.log;
  }

  SimulatedPc pc_;
  std::vector<uint64_t> images_;
};

// ---- the source page ------------------------------------------------------------

TEST_F(CloneWizardTest, SourcePageListsDisksAndTicksAsTheRulesSay) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  Part system{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .active = true, .fs = "fat16", .label = "SYSTEM"};
  system.files = {{"/README.TXT", std::string(5000, 'r')}};
  Part raw{.start = 18 * 2048, .count = 4 * 2048, .mbrType = 0x83};
  pc_.WriteMbr(0, {system, raw});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 2 * kCylinder4096, .sectorSize = 4096, .product = "Target Disk"});
  Boot(2);

  // Tick the partition without a letter: sector by sector only. Then the
  // disk: every row of the disk ticked, Basic allowed again. Next hands over
  // the whole disk.
  Probe<CMirrorSource> page;
  std::vector<std::vector<bool>> ticks;
  Script s;
  s.expect_dialog(130).expect_disabled(1007).expect_disabled(4);
  s.tick(1027, 2).expect_disabled(1008).expect_checked(1009).expect_enabled(1007);
  s.tick(1027, 0).expect_enabled(1008).expect_checked(1008);
  s.expect_checked(1027, 1).expect_checked(1027, 2);
  s.untick(1027, 1);  // unticking any row of a disk clears the disk
  s.expect_disabled(1007);
  s.tick(1027, 0).click(1007);
  ASSERT_EQ(Run(page, s), "");
  EXPECT_EQ(handed.calls, 1);
  const CloneSettingsRecord& c = handed.settings;
  EXPECT_EQ(c.partitionMode, 0);
  EXPECT_EQ(c.basicDuplication, 1);
  EXPECT_EQ(c.copySourceDisk.value, 0);
  EXPECT_EQ(c.copySourceStart, 0u);
  EXPECT_EQ(c.copySourceLength, 8 * kCylinder512 / 512);
  EXPECT_EQ(Utf8(c.sourceName), "Disk 0");
  EXPECT_EQ(c.chosenDestinationDisk.value, -1);
  EXPECT_EQ(c.sizingMode, SizingMode::None);
  EXPECT_EQ(c.checkedRow, 0);
  // The bar's map: the two partitions and the free tail.
  ASSERT_EQ(handed.sourceMap.count, 3);
  EXPECT_EQ(handed.sourceMap.items[0].start, 2048u);
  EXPECT_EQ(handed.sourceMap.items[1].length, 4u * 2048);
  EXPECT_EQ(handed.sourceMap.items[2].partitionIndex, -1);
  for (int i = 0; i < 3; ++i) EXPECT_GE(handed.sourceMap.items[i].pixelWidth, 44);
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, SourcePageRowsAndPartitionChoice) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  Part system{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .active = true, .fs = "fat16", .label = "SYSTEM"};
  Part raw{.start = 18 * 2048, .count = 4 * 2048, .mbrType = 0x83};
  pc_.WriteMbr(0, {system, raw});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 2 * kCylinder4096, .sectorSize = 4096, .product = "Target Disk"});
  Boot(2);
  Probe<CMirrorSource> page;
  Script s;
  s.expect_dialog(130).tick(1027, 1).expect_enabled(1008).click(1007);
  ASSERT_EQ(Run(page, s), "");
  ASSERT_EQ(handed.calls, 1);
  const CloneSettingsRecord& c = handed.settings;
  EXPECT_EQ(c.partitionMode, 1);
  EXPECT_EQ(c.copySourceStart, 2048u);
  EXPECT_EQ(c.copySourceLength, 16u * 2048);
  EXPECT_EQ(c.sourceActive, 1);  // the boot indicator of slot 0
  EXPECT_EQ(c.copySourceFsCode, 12);
  EXPECT_EQ(c.sourceMapItem, 0);
  std::smatch m;
  std::string description = Utf8(c.sourceDescription);
  ASSERT_TRUE(std::regex_search(description, m, std::regex("\\(([C-Z]):\\)  ")));
  EXPECT_EQ(Utf8(c.sourceName), "Partition " + m[1].str() + ":");
  EXPECT_EQ(c.sourceLetter, m[1].str()[0]);

  // The rows as listed (read again on a page that is cancelled).
  CloneSettings = CloneSettingsRecord{};
  Probe<CMirrorSource> again;
  Script cancel;
  cancel.expect_dialog(130).click(2);
  ASSERT_EQ(Run(again, cancel), "");
  ASSERT_EQ(again.rows.size(), 4u);
  EXPECT_EQ(again.rows[0].texts[0], "Disk 0 ");
  EXPECT_EQ(again.rows[0].texts[1], "ACME Source Disk");  // vendor and product, joined by a blank
  EXPECT_EQ(again.rows[0].image, 0);
  EXPECT_EQ(again.rows[1].texts[0], "  Partition");
  EXPECT_EQ(again.rows[1].image, 1);
  EXPECT_EQ(again.rows[2].texts[1].rfind("No drive letter ( ", 0), 0u) << again.rows[2].texts[1];
  EXPECT_EQ(again.rows[2].texts[3], "");
  EXPECT_EQ(again.rows[3].texts[0], "Disk 1 ");
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, SystemMigrationQuestion) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  Part boot{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "BOOT"};
  boot.files = {{"/BOOT/BCD", std::string(100, 'b')}};
  Part windows{.start = 18 * 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "WIN"};
  windows.files = {{"/WINDOWS/SYSTEM32/KERNEL32.DLL", std::string(100, 'k')}};
  pc_.WriteMbr(0, {boot, windows});
  Boot(1);
  struct Case {
    const char* answer;
    int partitionMode;
    uint8_t migration;
  } cases[] = {{"yes", 0, 1}, {"no", 1, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.answer);
    CloneSettings = CloneSettingsRecord{};
    handed = Handed{};
    Probe<CMirrorSource> page;
    Script s;
    s.expect_dialog(130).tick(1027, 2).answer(k.answer).expect_dialog(130).click(1007);
    ASSERT_EQ(Run(page, s), "");
    ASSERT_EQ(handed.calls, 1);
    EXPECT_EQ(handed.settings.systemMigration, k.migration);
    EXPECT_EQ(handed.settings.partitionMode, k.partitionMode);
    if (k.migration) {
      EXPECT_EQ(handed.settings.migrationPartitionCount, 2);
      EXPECT_EQ(handed.settings.migrationRow, 2);
      EXPECT_EQ(handed.settings.copySourceStart, 0u);
    }
  }
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, NoDisksMeansNoChoice) {
  Boot(0);
  Probe<CMirrorSource> page;
  Script s;
  s.expect_dialog(130).expect_disabled(1007).click(2);
  ASSERT_EQ(Run(page, s), "");
  EXPECT_TRUE(page.rows.empty());
  EXPECT_EQ(handed.calls, 0);
}

// ---- the options page -------------------------------------------------------------

TEST_F(CloneWizardTest, OptionsPageKeepsItsChoices) {
  Boot(0);
  CloneSettings.badSectorScan = 0;
  CloneSettings.verifyAfterCopy = 1;
  COption page;
  Script s;
  s.expect_dialog(136).expect_checked(1032).click(1030).click(1032).click(1007);
  ASSERT_EQ(Run(page, s), "");
  EXPECT_EQ(CloneSettings.badSectorScan, 1);
  EXPECT_EQ(CloneSettings.verifyAfterCopy, 0);
  EXPECT_EQ(CloneSettings.changeSid, 0);
  EXPECT_EQ(clonePageCalls, 1);
}

// ---- the plan on real disks ---------------------------------------------------------

struct Item {
  uint64_t start, length;
  int32_t partitionIndex;
};
std::string MapText(const DiskMapRecord& map) {
  std::string out;
  for (int32_t i = 0; i < map.count && i < kMaxDiskMapItems; ++i)
    out += "{" + std::to_string(map.items[i].start) + ", " + std::to_string(map.items[i].length) + ", " +
           std::to_string(map.items[i].partitionIndex) + "} ";
  return out;
}
void ExpectMap(const std::vector<Item>& want) {
  ASSERT_EQ(PlannedDiskMap.count, static_cast<int32_t>(want.size())) << MapText(PlannedDiskMap);
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(PlannedDiskMap.items[i].start, want[i].start);
    EXPECT_EQ(PlannedDiskMap.items[i].length, want[i].length);
    EXPECT_EQ(PlannedDiskMap.items[i].partitionIndex, want[i].partitionIndex);
  }
}

bool Apply(std::string* failure, const char* answer = nullptr) {
  bool ok = false;
  Script s;
  if (answer) s.answer(answer);
  auto run = disk_fixture::RunHeadless(s, [&] { ok = ApplyDestinationPlan(); });
  *failure = run.failure;
  return ok;
}

// The plan of disk 0 onto disk 1 with automatic sizing.
bool ApplyAutomaticPlan(std::string* failure) {
  CloneSettings.copySourceDisk = ListedDiskIndex{0};
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
  CloneSettings.sizingMode = SizingMode::Automatic;
  return Apply(failure);
}

// Disk 0 (C: 16 MiB at 1 MiB and a logical drive of 16 MiB at 18 MiB in an
// extended partition at 17 MiB) and an empty disk 1.
void PlanMbrWithLogical(SimulatedPc& pc, uint64_t sourceCylinders, uint64_t extendedMiB,
                        uint64_t destinationCylinders) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = sourceCylinders * kCylinder512, .product = "Source Disk"});
  Part c{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"};
  Part extended{.start = 17 * 2048, .count = extendedMiB * 2048, .mbrType = 0x0F};
  Part logical{.start = 18 * 2048, .count = 16 * 2048, .mbrType = 0x06, .logical = true, .fs = "fat16", .label = "DATA"};
  pc.WriteMbr(0, {c, extended, logical});
  pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = destinationCylinders * kCylinder512, .product = "Target Disk"});
}

// A source whose extended partition holds much free space behind its one
// logical drive, onto a disk of half its size: the container ends after its
// logical drive, so the plan the After bar shows is one Start can write.
TEST_F(CloneWizardTest, PlanMbrWithAWideExtendedPartitionOntoASmallerDisk) {
  PlanMbrWithLogical(pc_, 16, 100, 8);
  Boot(2);
  std::string failure;
  ASSERT_TRUE(ApplyAutomaticPlan(&failure));
  EXPECT_EQ(failure, "");
  const uint64_t dbytes = PlanDestinationSectors * 512;
  const LayoutEntry* t = DiskContext.layoutTable;
  const LayoutEntry *container = nullptr, *drive = nullptr;
  for (int i = 0; i < 8; ++i) {
    if (t[i].newLengthBytes == 0) continue;
    EXPECT_LE(t[i].newStartBytes + t[i].newLengthBytes, dbytes) << "entry " << i;
    if (t[i].fsCode == 5 || t[i].fsCode == 15) container = &t[i];
    if (t[i].nesting > 0) drive = &t[i];
  }
  ASSERT_NE(container, nullptr);
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(container->newStartBytes + container->newLengthBytes, drive->newStartBytes + drive->newLengthBytes);
  EXPECT_EQ(drive->newLengthBytes, 16 * kMiB) << "the logical drive keeps its size";
  EXPECT_TRUE(PlanFitsDestination(PlanDestinationSectors));
}

TEST_F(CloneWizardTest, PlanMbrWithLogicalDriveOntoDiskTwiceItsSize) {
  PlanMbrWithLogical(pc_, 8, 18, 16);
  Boot(2);
  std::string failure;
  ASSERT_TRUE(ApplyAutomaticPlan(&failure));
  EXPECT_EQ(failure, "");
  EXPECT_EQ(PlanSourceSectors, 128520u);
  EXPECT_EQ(PlanDestinationSectors, 257040u);
  EXPECT_DOUBLE_EQ(ScaleFactor, 2.0);
  EXPECT_EQ(CloneSettings.convertToGpt, 0);
  const LayoutEntry* t = DiskContext.layoutTable;
  // C: doubled to 32 MiB, then 18 MiB of surplus (75.5 MiB free on the
  // destination against 2 x 28.75 MiB on the source); the extended partition
  // keeps its size and the logical drive its offset inside it, both moved up.
  EXPECT_EQ(t[0].newStartBytes, kMiB);
  EXPECT_EQ(t[0].newLengthBytes, 50 * kMiB);
  EXPECT_EQ(t[1].newStartBytes, 51 * kMiB);
  EXPECT_EQ(t[1].newLengthBytes, 18 * kMiB);
  EXPECT_EQ(t[2].newStartBytes, 52 * kMiB);
  EXPECT_EQ(t[2].newLengthBytes, 16 * kMiB);
  EXPECT_EQ(t[2].newType, 6);
  ExpectMap({{2048, 50 * 2048, 0}, {52 * 2048, 16 * 2048, 1}, {68 * 2048, 257040 - 68 * 2048, -1}});
  EXPECT_EQ(PlannedDiskMap.items[1].outsideExtended, 0);
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, PlanGptSourceAndFourKilobyteDestination) {
  // A GPT source with two data partitions onto a 512-byte disk twice its size.
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Gpt Source"});
  pc_.WriteGpt(0, {{.start = 2048, .count = 16 * 2048, .fs = "fat16", .label = "ONE"},
                   {.start = 17 * 2048, .count = 16 * 2048, .fs = "fat16", .label = "TWO"}});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});
  // An MBR source with one partition onto a 4096-byte disk twice its size.
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 8 * kCylinder512, .product = "Mbr Source"});
  pc_.WriteMbr(2, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"}});
  pc_.AddDisk(DiskSpec{.number = 3, .sizeBytes = 2 * kCylinder4096, .sectorSize = 4096, .product = "Big Sectors"});
  Boot(4);
  std::string failure;

  CloneSettings.copySourceDisk = ListedDiskIndex{0};
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
  CloneSettings.sizingMode = SizingMode::Automatic;
  CloneSettings.sourceIsGpt = 1;
  ASSERT_TRUE(Apply(&failure));
  EXPECT_EQ(CloneSettings.convertToGpt, 0);
  EXPECT_EQ(NewPartitionCount, 2);
  const LayoutEntry* t = DiskContext.layoutTable;
  // Doubled; the surplus is exactly 1 MiB, which stays free.
  EXPECT_EQ(t[0].newStartBytes, kMiB);
  EXPECT_EQ(t[0].newLengthBytes, 32 * kMiB);
  EXPECT_EQ(t[1].newStartBytes, 33 * kMiB);
  EXPECT_EQ(t[1].newLengthBytes, 32 * kMiB);
  // A GPT result's last partition reaches to the disk's end on the map.
  ExpectMap({{2048, 32 * 2048, 0}, {33 * 2048, 257040 - 33 * 2048, 1}});

  CloneSettings.copySourceDisk = ListedDiskIndex{2};
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{3};
  CloneSettings.sourceIsGpt = 0;
  ASSERT_TRUE(Apply(&failure));
  EXPECT_EQ(PlanDestinationSectors, 257040u);
  // The only partition runs to the end, cut to whole 8 MiB units (15 x 8 MiB).
  EXPECT_EQ(t[0].newStartBytes, kMiB);
  EXPECT_EQ(t[0].newLengthBytes, 120 * kMiB);
  ExpectMap({{2048, 120 * 2048, 0}});
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, PlanOntoSmallerDisks) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 16 * kCylinder512, .product = "Source Disk"});
  Part c{.start = 2048, .count = 64 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"};
  c.files = {{"/BIG.BIN", disk_fixture::Pattern(12 << 20, 7)}};
  pc_.WriteMbr(0, {c});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 8 * kCylinder512, .product = "Half Disk"});
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 1 * kCylinder512, .product = "Tiny Disk"});
  Boot(3);
  CloneSettings.copySourceDisk = ListedDiskIndex{0};
  CloneSettings.sizingMode = SizingMode::Automatic;
  std::string failure;

  // Half the size still holds the used space: the partition runs to the end
  // (63,963,136 bytes: the disk less 1 MiB, cut to whole MiB).
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
  ASSERT_TRUE(Apply(&failure)) << failure;
  EXPECT_DOUBLE_EQ(ScaleFactor, 0.5);
  EXPECT_EQ(DiskContext.layoutTable[0].newStartBytes, kMiB);
  EXPECT_EQ(DiskContext.layoutTable[0].newLengthBytes, 61 * kMiB);
  ExpectMap({{2048, 61 * 2048, 0}});

  // One cylinder (16,065 sectors) cannot hold 12 MiB plus a quarter.
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{2};
  EXPECT_FALSE(Apply(&failure, "ok"));
  EXPECT_EQ(failure, "");
  EXPECT_GE(PlanRequiredSectors, 12u * 2048 + 12 * 2048 / 4);
  EXPECT_EQ(ComputeRequiredSectors(), PlanRequiredSectors);  // one lettered partition, nothing else

  // A destination that has gone since it was listed.
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{7};
  EXPECT_FALSE(Apply(&failure, "ok"));
  EXPECT_EQ(failure, "");
  ExpectImagesUnchanged();
}

// A source table whose partition runs far past the disk's end: the plan
// still ends inside the destination, and nothing is written anywhere.
TEST_F(CloneWizardTest, PlanFromADamagedTableStaysInsideTheDestination) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Damaged Disk"});
  pc_.WriteMbr(0, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"},
                   {.start = 17 * 2048, .count = 16 * 2048, .mbrType = 0x07}});
  pc_.WriteBytes(0, 446 + 16 + 12, std::vector<uint8_t>{0x00, 0x00, 0x00, 0x70});  // slot 1: 0x70000000 sectors
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});
  Boot(2);
  CloneSettings.copySourceDisk = ListedDiskIndex{0};
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
  CloneSettings.sizingMode = SizingMode::Automatic;
  std::string failure;
  Apply(&failure, nullptr);
  const uint64_t dbytes = 257040ull * 512;
  for (int i = 0; i < kMaxLayoutEntries; ++i) {
    const LayoutEntry& e = DiskContext.layoutTable[i];
    if (e.newLengthBytes == 0) continue;
    EXPECT_LE(e.newStartBytes + e.newLengthBytes, dbytes) << i;
  }
  for (int i = 0; i < PlannedDiskMap.count; ++i)
    EXPECT_LE(PlannedDiskMap.items[i].start + PlannedDiskMap.items[i].length, 257040u) << i;
  ExpectImagesUnchanged();
}

// ---- the destination page ----------------------------------------------------------

// The wizard from its source page on, with the real destination and options
// pages; the clone page is recorded. Returns the script's failure with the log.
std::string Wizard(const Script& s, std::string* log = nullptr,
                   std::function<void(platform::ui::DriverOptions&)> configure = {}) {
  RunDestinationPage = &RunDestinationPageModal;
  CMirrorSource page;
  auto run = configure ? disk_fixture::RunHeadless(s, [&] { page.DoModal(); }, configure)
                       : disk_fixture::RunHeadless(s, [&] { page.DoModal(); });
  if (log) *log = run.log;
  return run.failure.empty() ? std::string() : run.failure + "\n" + run.log;
}

// New starts and lengths of the first layout entries, in MiB.
void ExpectEntries(const std::vector<std::pair<uint64_t, uint64_t>>& want) {
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_EQ(DiskContext.layoutTable[i].newStartBytes, want[i].first * kMiB);
    EXPECT_EQ(DiskContext.layoutTable[i].newLengthBytes, want[i].second * kMiB);
  }
}

// Disk 0: C: (16 MiB at 1 MiB) and a logical drive (16 MiB at 18 MiB in an
// extended partition of 18 MiB at 17 MiB) on 8 cylinders (128,520 sectors).
void MbrWithLogical(SimulatedPc& pc) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  Part c{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .active = true, .fs = "fat16", .label = "SYS"};
  Part extended{.start = 17 * 2048, .count = 18 * 2048, .mbrType = 0x0F};
  Part logical{.start = 18 * 2048, .count = 16 * 2048, .mbrType = 0x06, .logical = true, .fs = "fat16", .label = "DATA"};
  pc.WriteMbr(0, {c, extended, logical});
}

TEST_F(CloneWizardTest, DestinationSizingAutomaticSameSizeAndManual) {
  MbrWithLogical(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});  // 257,040 sectors
  Boot(2);
  // Automatic: C: doubled plus 18 MiB of surplus, the extended partition
  // and its logical drive moved up. Same size: every partition where it was
  // on the source. Manual (from the automatic plan): C: set to 40 MiB in the
  // MiB field or to 30 MiB with the trackbar (3,840 steps of 16 sectors);
  // the logical drive and its container move back by as much.
  struct Case {
    const char* what;
    std::function<void(Script&)> sizing;
    SizingMode mode;
    std::vector<std::pair<uint64_t, uint64_t>> entries;
    std::vector<Item> map;
  } cases[] = {
      {"automatic", [](Script&) {}, SizingMode::Automatic, {{1, 50}, {51, 18}, {52, 16}},
       {{2048, 50 * 2048, 0}, {52 * 2048, 16 * 2048, 1}, {68 * 2048, 257040 - 68 * 2048, -1}}},
      {"same size", [](Script& s) { s.click(1032).expect_checked(1032); }, SizingMode::SameSize,
       {{1, 16}, {17, 18}, {18, 16}},
       // The source's own map: 1 MiB free at the end of the extended partition.
       {{2048, 16 * 2048, 0}, {18 * 2048, 16 * 2048, 1}, {34 * 2048, 2048, -1}, {35 * 2048, 257040 - 35 * 2048, -1}}},
      {"manual, typed",
       [](Script& s) {
         s.click(1033).expect_visible(1059).expect_visible(1126).expect_text(1017, "50");
         s.type(1017, "40").click(1126).expect_text(1017, "40").expect_text(1029, "Partition 0 40 MB");
       },
       SizingMode::Manual, {{1, 40}, {41, 18}, {42, 16}},
       {{2048, 40 * 2048, 0}, {42 * 2048, 16 * 2048, 1}, {58 * 2048, 257040 - 58 * 2048, -1}}},
      {"manual, trackbar", [](Script& s) { s.click(1033).select(1059, 3840).expect_text(1017, "30"); },
       SizingMode::Manual, {{1, 30}, {31, 18}, {32, 16}},
       {{2048, 30 * 2048, 0}, {32 * 2048, 16 * 2048, 1}, {48 * 2048, 257040 - 48 * 2048, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CloneSettings = CloneSettingsRecord{};
    ManualSizing = ManualSizingState{};
    clonePageCalls = 0;
    Script s;
    s.expect_dialog(130).tick(1027, 0).click(1007);
    s.expect_dialog(134).expect_disabled(1007).expect_checked(1031).expect_checked(1035);
    s.tick_text(1027, "Disk 1:").expect_enabled(1007).expect_text(1062, "Disk 1");
    c.sizing(s);
    s.click(1007).expect_dialog(136).click(1032).click(1007);
    ASSERT_EQ(Wizard(s), "");
    EXPECT_EQ(clonePageCalls, 1);
    EXPECT_EQ(CloneSettings.sizingMode, c.mode);
    EXPECT_EQ(CloneSettings.verifyAfterCopy, 1);
    EXPECT_EQ(CloneSettings.chosenDestinationDisk.value, 1);
    EXPECT_EQ(CloneSettings.partitionMode, 0);
    EXPECT_EQ(DestinationSelection.kind, kSelectionWholeDisk);
    EXPECT_EQ(DestinationSelection.diskNumber.value, 1);
    EXPECT_EQ(DestinationSelection.sectorCount, 257040u);
    EXPECT_EQ(ScanTarget.diskNumber.value, 1);
    ExpectEntries(c.entries);
    ExpectMap(c.map);
  }
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, DestinationWithFourKilobyteSectors) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Mbr Source"});
  pc_.WriteMbr(0, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"}});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 2 * kCylinder4096, .sectorSize = 4096, .product = "Big Sectors"});
  Boot(2);
  // Automatic: the only partition runs to the end in whole 8 MiB units
  // (120 MiB). Manual, 100 MiB typed: the 50,192 sectors behind it are free.
  struct Case {
    bool manual;
    uint64_t lengthMiB;
    std::vector<Item> map;
  } cases[] = {{false, 120, {{2048, 120 * 2048, 0}}},
               {true, 100, {{2048, 100 * 2048, 0}, {101 * 2048, 257040 - 101 * 2048, -1}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.manual ? "manual" : "automatic");
    CloneSettings = CloneSettingsRecord{};
    ManualSizing = ManualSizingState{};
    Script s;
    s.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
    if (c.manual) s.click(1033).type(1017, "100").click(1126);
    s.click(1007).expect_dialog(136).click(1007);
    ASSERT_EQ(Wizard(s), "");
    ExpectEntries({{1, c.lengthMiB}});
    ExpectMap(c.map);
    EXPECT_EQ(DestinationSelection.diskNumber.value, 1);
    EXPECT_EQ(DestinationSelection.sectorCount, 257040u / 8);  // native sectors
  }
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, DestinationRefusals) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 16 * kCylinder512, .product = "Source Disk"});
  Part c{.start = 2048, .count = 64 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"};
  c.files = {{"/BIG.BIN", disk_fixture::Pattern(12 << 20, 7)}};
  pc_.WriteMbr(0, {c});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 8 * kCylinder512, .product = "Half Disk"});
  pc_.WriteMbr(1, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "OLD"}});
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 1 * kCylinder512, .product = "Tiny Disk"});
  Boot(3);
  const std::string tooSmall = Utf8(LookupString(u"IDS_DestinationTooSmall"));
  const std::string cannot2 = Utf8(LookupString(u"IDS_CANNOT2"));
  struct Case {
    const char* what;
    bool sectorBySector;
    std::function<void(Script&)> steps;
    std::string message;  // a message the log must hold
    int clonePages;
  } cases[] = {
      {"a partition row while copying a whole disk", false,
       [](Script& s) { s.tick(1027, 3).answer("ok").expect_disabled(1007).click(2); }, cannot2, 0},
      {"a disk that cannot hold the used space", false,
       [](Script& s) { s.tick_text(1027, "Disk 2:").answer("ok").expect_disabled(1007).click(2); }, tooSmall,
       0},
      {"sector by sector onto a smaller disk", true,
       [](Script& s) {
         s.expect_checked(1032).expect_disabled(1031).expect_disabled(1033);
         s.tick_text(1027, "Disk 1:").answer("ok").expect_disabled(1007).click(2);
       },
       tooSmall, 0},
      {"a destination holding partitions: No keeps the page, Yes goes on", false,
       [](Script& s) {
         s.tick_text(1027, "Disk 1:").click(1007).answer("no").expect_dialog(134);
         s.click(1007).answer("yes").expect_dialog(136).click(1007);
       },
       Utf8(LookupString(u"IDS_CHECKBEFORESTART")).substr(0, 20), 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CloneSettings = CloneSettingsRecord{};
    clonePageCalls = 0;
    Script s;
    s.expect_dialog(130).tick(1027, 0);
    if (k.sectorBySector) s.click(1009);
    s.click(1007).expect_dialog(134);
    k.steps(s);
    std::string log;
    ASSERT_EQ(Wizard(s, &log), "");
    EXPECT_NE(log.find(k.message), std::string::npos) << log;
    EXPECT_EQ(clonePageCalls, k.clonePages);
    if (k.clonePages == 0) {
      EXPECT_EQ(CloneSettings.destinationRow, -1);
    }
  }
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, DestinationPartitionCopy) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  pc_.WriteMbr(0, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"}});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 2 * kCylinder4096, .sectorSize = 4096, .product = "Big Sectors"});
  // Starts and counts of a 4096-byte disk are in its own sectors: 1 MiB and 40 MiB.
  pc_.WriteMbr(1, {{.start = 256, .count = 40 * 256, .mbrType = 0x07}});
  Boot(2);
  const std::string cannot3 = Utf8(LookupString(u"IDS_CANNOT3"));
  Script s;
  s.expect_dialog(130).tick(1027, 1).click(1007).expect_dialog(134);
  s.tick_text(1027, "Disk 1:").answer("ok").expect_disabled(1007);  // a disk for a partition: refused
  s.tick(1027, 3).expect_enabled(1007).expect_disabled(1029);
  s.click(1007).answer("yes").expect_dialog(136).click(1007);
  std::string log;
  ASSERT_EQ(Wizard(s, &log), "");
  EXPECT_NE(log.find(cannot3), std::string::npos) << log;
  EXPECT_EQ(clonePageCalls, 1);
  EXPECT_EQ(CloneSettings.partitionMode, 1);
  EXPECT_EQ(CloneSettings.destinationRow, 3);
  EXPECT_EQ(DestinationSelection.kind, kSelectionPartition);
  EXPECT_EQ(DestinationSelection.diskNumber.value, 1);
  EXPECT_EQ(DestinationSelection.startSector, 2048u / 8);  // native sectors of the 4096-byte disk
  EXPECT_EQ(DestinationSelection.sectorCount, 40u * 2048 / 8);
  EXPECT_TRUE(DestinationSelection.driveLetter >= u'C' && DestinationSelection.driveLetter <= u'Z');
  EXPECT_EQ(ScanTarget.startSector, 256u);
  // The After bar is the destination as it is; the copy goes into its partition.
  ASSERT_GE(PlannedDiskMap.count, 1);
  EXPECT_EQ(PlannedDiskMap.items[0].start, 2048u);
  EXPECT_EQ(PlannedDiskMap.items[0].length, 40u * 2048);
  ExpectImagesUnchanged();
}

// A partition copy onto an empty disk: the disk row, once the user agrees,
// becomes one partition from the first track's end (63 sectors of the disk's
// own size) to the disk's end, type 7, active like the source, and the new
// partition is the ticked destination. sfdisk reads the new table; the old
// boot code and the sector where the new partition starts are zero. A disk
// that holds partitions, one too small for the used space, and a No to the
// question leave the disk as it was.
struct PrepareCase {
  const char* what;
  int disk;
  int answer;           // the question's button: 1122 prepares, 2 does not, 0 no question
  std::string message;  // a message the run shows, empty for none
  uint64_t sectors;     // the new partition's length in native sectors, 0: nothing written
};

// The source: a 32 MiB FAT16 partition, active, holding 12 MiB, on disk 0 (its row is 1).
void AddPartitionSource(SimulatedPc& pc) {
  pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  Part c{.start = 2048, .count = 32 * 2048, .mbrType = 0x06, .active = true, .fs = "fat16", .label = "SYS"};
  c.files = {{"/BIG.BIN", disk_fixture::Pattern(12 << 20, 5)}};
  pc.WriteMbr(0, {c});
}

void RunPrepareCases(SimulatedPc& pc, const std::vector<PrepareCase>& cases) {
  for (const PrepareCase& k : cases) {
    SCOPED_TRACE(k.what);
    CloneSettings = CloneSettingsRecord{};
    clonePageCalls = 0;
    const uint64_t before = k.sectors == 0 ? Digest(pc.Image(k.disk)) : 0;
    Script s;
    s.expect_dialog(130).tick(1027, 1).click(1007).expect_dialog(134);
    s.tick_text(1027, "Disk " + std::to_string(k.disk) + ":");
    if (k.answer) s.expect_dialog(206).click(k.answer);
    if (!k.message.empty()) s.answer("ok");
    if (k.sectors == 0) s.expect_disabled(1007).click(2);
    else s.expect_enabled(1007).click(1007).expect_dialog(136).click(1007);
    std::string log;
    ASSERT_EQ(Wizard(s, &log), "");
    if (!k.message.empty()) {
      EXPECT_NE(log.find(k.message), std::string::npos) << log;
    }
    if (k.sectors == 0) {
      EXPECT_EQ(clonePageCalls, 0);
      EXPECT_EQ(CloneSettings.destinationRow, -1);
      EXPECT_EQ(Digest(pc.Image(k.disk)), before) << "disk " << k.disk << " was written";
      continue;
    }
    // Next went on without asking about the new partition.
    EXPECT_EQ(log.find(Utf8(LookupString(u"IDS_CHECKBEFORESTART")).substr(0, 20)), std::string::npos) << log;
    EXPECT_EQ(clonePageCalls, 1);
    EXPECT_EQ(CloneSettings.partitionMode, 1);
    EXPECT_EQ(DestinationSelection.kind, kSelectionPartition);
    EXPECT_EQ(DestinationSelection.diskNumber.value, k.disk);
    EXPECT_EQ(DestinationSelection.startSector, 63u);
    EXPECT_EQ(DestinationSelection.sectorCount, k.sectors);
    EXPECT_TRUE(DestinationSelection.driveLetter >= u'C' && DestinationSelection.driveLetter <= u'Z');
    std::string dump;
    ASSERT_EQ(disk_fixture::Shell("sfdisk -d " + pc.Image(k.disk), &dump), 0) << dump;
    const std::regex row("start=\\s*(\\d+), size=\\s*(\\d+), type=(\\w+)(, bootable)?");
    std::vector<std::string> rows;
    for (std::sregex_iterator it(dump.begin(), dump.end(), row), end; it != end; ++it)
      rows.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() + ((*it)[4].matched ? " *" : ""));
    EXPECT_EQ(rows, std::vector<std::string>{"63 " + std::to_string(k.sectors) + " 7 *"}) << dump;
    const uint64_t ss = pc.SectorSize(k.disk);
    for (uint64_t at : {uint64_t{0}, 63 * ss}) {
      const std::vector<uint8_t> bytes = pc.ReadBytes(k.disk, at, 440);
      EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), 440) << "at byte " << at;
    }
  }
}

TEST_F(CloneWizardTest, PartitionCopyOntoAnEmptyDiskPreparesIt) {
  AddPartitionSource(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 4 * kCylinder512, .product = "Empty Disk"});
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = kCylinder4096, .sectorSize = 4096, .product = "Empty Big Sectors"});
  // 400,000 cylinders: 6,426,000,000 sectors, more than an MBR entry reaches.
  pc_.AddDisk(DiskSpec{.number = 3, .sizeBytes = 400000 * kCylinder512, .product = "Huge Disk"});
  // Leftovers of an earlier use where the new table and partition go.
  const std::string junk = disk_fixture::Pattern(440, 9);
  for (int n : {1, 2}) {
    pc_.WriteBytes(n, 0, junk);
    pc_.WriteBytes(n, 63ull * pc_.SectorSize(n), junk);
  }
  Boot(1);
  // Last disk first: each prepared disk gains a row, the list shows five.
  RunPrepareCases(pc_, {
                           {"a disk past what an MBR reaches", 3, 1122, "", 0xFFFFFFFFull - 63},
                           {"an empty 4096-byte disk", 2, 1122, "", 16065 - 63},
                           {"No to the question", 1, 2, "", 0},
                           {"an empty 512-byte disk", 1, 1122, "", 4 * 16065 - 63},
                       });
  ExpectImagesUnchanged();  // the source
}

TEST_F(CloneWizardTest, PartitionCopyOntoADiskThatCannotBePreparedWritesNothing) {
  AddPartitionSource(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = kCylinder512, .product = "Tiny Disk"});
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 4 * kCylinder512, .product = "Used Disk"});
  pc_.WriteMbr(2, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x83}});
  Boot(3);
  RunPrepareCases(pc_, {
                           {"a disk smaller than the used space", 1, 1122,
                            Utf8(LookupString(u"IDS_cannotformat")), 0},
                           {"a disk that holds a partition", 2, 0, Utf8(LookupString(u"IDS_CANNOT3")), 0},
                       });
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, DestinationKeptWhenComingBackFromTheOptions) {
  MbrWithLogical(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});
  Boot(2);
  Script s;
  s.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
  s.click(1033).type(1017, "40").click(1126).click(1007);
  s.expect_dialog(136).click(4);
  s.expect_dialog(134).expect_checked(1033).expect_enabled(1007).expect_text(1017, "40").expect_visible(1059);
  s.click(1007).expect_dialog(136).click(4).expect_dialog(134).expect_text(1017, "40");
  s.click(1007).expect_dialog(136).click(1007);
  ASSERT_EQ(Wizard(s), "");
  EXPECT_EQ(clonePageCalls, 1);
  EXPECT_EQ(CloneSettings.sizingMode, SizingMode::Manual);
  ExpectEntries({{1, 40}, {41, 18}, {42, 16}});

  // Back to the source page: it keeps its row, and its Next starts the
  // destination over (no destination ticked, automatic sizing).
  clonePageCalls = 0;
  Script again;
  again.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
  again.click(1033).type(1017, "40").click(1126).click(1007).expect_dialog(136).click(4);
  again.expect_dialog(134).click(4);
  again.expect_dialog(130).expect_checked(1027, 0).click(1007);
  again.expect_dialog(134).expect_disabled(1007).expect_checked(1031).tick_text(1027, "Disk 1:");
  again.click(1007).expect_dialog(136).click(1007);
  ASSERT_EQ(Wizard(again), "");
  EXPECT_EQ(clonePageCalls, 1);
  EXPECT_EQ(CloneSettings.sizingMode, SizingMode::Automatic);
  ExpectEntries({{1, 50}, {51, 18}, {52, 16}});
  ExpectImagesUnchanged();
}

TEST_F(CloneWizardTest, DestinationThatDisappearsBeforeNext) {
  MbrWithLogical(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});
  Boot(2);
  Script s;
  s.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
  s.device(false, 1).wait(2000).click(1007).answer("ok").expect_dialog(134).expect_disabled(1007).click(2);
  std::string log;
  ASSERT_EQ(Wizard(s, &log,
                   [&](platform::ui::DriverOptions& options) {
                     options.device_hook = [&](bool arrive, int disk, std::string*) {
                       pc_.SetIni("disk " + std::to_string(disk), "attached", arrive ? "yes" : "no");
                       platform::storage::PollDeviceChanges();
                       return true;
                     };
                   }),
            "");
  EXPECT_NE(log.find(Utf8(LookupString(u"IDS_SelectDestination"))), std::string::npos) << log;
  EXPECT_EQ(clonePageCalls, 0);
  EXPECT_EQ(CloneSettings.destinationRow, -1);
  ExpectImagesUnchanged();
}


int32_t systemAfterSource = -2;

// Physical disks 0, 2 and 3 (no disk 1): listed indexes 0, 1 and 2. The
// running Windows lies on physical disk 2, so the system disk is 2 while its
// listed index is 1; the destination chosen as the third listed disk is
// physical disk 3. Both the wizard and the quick duplicate keep the two
// numberings apart.
TEST_F(CloneWizardTest, GapInDiskNumbersKeepsListedAndPhysicalApart) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Data Disk"});
  pc_.WriteMbr(0, {{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "DATA"}});
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 8 * kCylinder512, .product = "System Disk"});
  Part windows{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "WIN"};
  windows.files = {{"/WINDOWS/SYSTEM32/KERNEL32.DLL", std::string(100, 'k')}};
  pc_.WriteMbr(2, {windows});
  pc_.AddDisk(DiskSpec{.number = 3, .sizeBytes = 16 * kCylinder512, .product = "Empty Disk"});
  pc_.SetIni("os", "windows_folder", "D:\\Windows");  // C: is disk 0's volume, D: disk 2's
  Boot(0);
  std::vector<uint64_t> before;
  for (int n : {0, 2, 3}) before.push_back(Digest(pc_.Image(n)));

  // The wizard: the system disk's rows cannot be ticked, the disk after the gap can.
  Script s;
  s.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134);
  s.tick_text(1027, "Disk 2:").expect_disabled(1007);
  s.tick_text(1027, "Disk 3:").expect_enabled(1007).expect_text(1062, "Disk 3");
  s.click(1007).expect_dialog(136).click(1007);
  ASSERT_EQ(Wizard(s), "");
  EXPECT_EQ(DiskContext.systemDisk.value, 2);
  EXPECT_EQ(DiskContext.listedToPhysical[2], 2);
  EXPECT_EQ(CloneSettings.copySourceDisk.value, 0);
  EXPECT_EQ(CloneSettings.chosenDestinationDisk.value, 2);
  EXPECT_EQ(DestinationSelection.diskNumber.value, 3);
  EXPECT_EQ(PlanDestinationSectors, 257040u);
  EXPECT_EQ(clonePageCalls, 1);

  // The quick duplicate: Disk 2 as the source is physical disk 2 in
  // systemDisk and listed index 1 in the clone settings.
  CloneSettings = CloneSettingsRecord{};
  DiskContext.destinationDisk = ListedDiskIndex{-1};
  clonePageCalls = 0;
  Script q;
  q.expect_dialog(246).tick(1027, 2).click(1079);
  q.expect_dialog(247).tick_text(1027, "Disk 2 ").expect_disabled(1079);
  q.tick_text(1027, "Disk 3 ").click(1079);
  q.expect_dialog(245).expect_enabled(1).click(1);
  systemAfterSource = -2;
  RunClonePage = [](CWnd*) -> INT_PTR {
    systemAfterSource = DiskContext.systemDisk.value;
    return RecordClonePage(nullptr);
  };
  auto run = disk_fixture::RunHeadless(q, [&] { RunQuickDuplicate(); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(systemAfterSource, 2);  // physical, as the clone page found it
  EXPECT_EQ(DiskContext.destinationDisk.value, 2);
  EXPECT_EQ(clonePageCalls, 1);
  EXPECT_EQ(CloneSettings.sourceDisk.value, 1);
  EXPECT_EQ(CloneSettings.copySourceDisk.value, 1);
  EXPECT_EQ(CloneSettings.chosenDestinationDisk.value, 2);
  EXPECT_EQ(DiskSelection.diskNumber.value, 2);
  EXPECT_EQ(DestinationSelection.diskNumber.value, 3);

  std::vector<uint64_t> after;
  for (int n : {0, 2, 3}) after.push_back(Digest(pc_.Image(n)));
  EXPECT_EQ(after, before);
}


// Every wizard page in English and Japanese: each text comes from its
// language file, and each page is saved as a picture (in
// DRUM_SCREENSHOT_DIR when set) to be looked at.
TEST_F(CloneWizardTest, WizardPagesInBothLanguages) {
  MbrWithLogical(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});
  Boot(2);
  const char* dir = std::getenv("DRUM_SCREENSHOT_DIR");
  const std::string shots = dir ? dir : pc_.folder();
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    CloneSettings = CloneSettingsRecord{};
    ManualSizing = ManualSizingState{};
    const std::string tag = language == std::string("English") ? "en" : "ja";
    Script s;
    s.expect_dialog(130).tick(1027, 0).screenshot("wizard-source-" + tag + ".png").click(1007);
    s.expect_dialog(134).expect_text(1003, Utf8(LookupString(u"IDS_MDestHI")));
    s.expect_text(1031, Utf8(LookupString(u"IDS_RadioAuto"))).tick_text(1027, Utf8(LookupString(u"IDS_Drive")) + "1:");
    s.screenshot("wizard-destination-" + tag + ".png");
    s.click(1033).type(1017, "40").click(1126).screenshot("wizard-manual-" + tag + ".png");
    s.click(1034).screenshot("wizard-before-" + tag + ".png").click(1035);
    s.click(1007).expect_dialog(136).expect_text(1032, Utf8(LookupString(u"IDS_VERIFY")));
    s.screenshot("wizard-options-" + tag + ".png").click(1007);
    std::string log;
    ASSERT_EQ(Wizard(s, &log, [&](platform::ui::DriverOptions& o) { o.screenshots_dir = shots; }), "");
    EXPECT_EQ(clonePageCalls, 1);
    clonePageCalls = 0;
    for (const char* page : {"source", "destination", "manual", "before", "options"})
      EXPECT_TRUE(fs::exists(shots + "/wizard-" + page + "-" + tag + ".png")) << page;
  }
  ExpectImagesUnchanged();
}

// The copy itself onto a prepared disk: the clone page formats the new
// partition and copies the files; fsck.fat finds the copy sound and mtools
// read the file back as it was.
TEST_F(CloneWizardTest, PartitionCopyOntoAPreparedDiskHoldsTheFiles) {
  AddPartitionSource(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 8 * kCylinder512, .product = "Empty Disk"});
  Boot(1);
  RegisterCloneCommands();
  Script s;
  s.expect_dialog(130).tick(1027, 1).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
  s.expect_dialog(206).click(1122).expect_dialog(134).expect_enabled(1007).click(1007).expect_dialog(136).click(1007);
  s.expect_dialog(191).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed").key("escape");
  std::string log;
  ASSERT_EQ(Wizard(s, &log), "");
  const uint64_t sectors = 8 * 16065 - 63;
  const std::string copy = pc_.ExtractVolume(1, 63, sectors, "prepared-copy.img");
  std::string out;
  EXPECT_EQ(disk_fixture::Shell("fsck.fat -n " + copy, &out), 0) << out;
  disk_fixture::Shell("mtype -i " + copy + " ::/BIG.BIN", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(12 << 20, 5)) << "BIG.BIN differs";
  ExpectImagesUnchanged();  // the source
}

// The pages this change touched, saved in both languages for a look: the
// After bar of a conversion to GPT (the added EFI partition labelled new),
// the question before an empty disk is prepared, and the page with the new
// partition ticked.
TEST_F(CloneWizardTest, PreparedAndConvertedDestinationsInBothLanguages) {
  AddPartitionSource(pc_);
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 400000 * kCylinder512, .product = "Huge Disk"});
  pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 4 * kCylinder512, .product = "Empty Disk"});
  pc_.AddDisk(DiskSpec{.number = 3, .sizeBytes = 4 * kCylinder512, .product = "Empty Disk"});
  Boot(1);
  const char* dir = std::getenv("DRUM_SCREENSHOT_DIR");
  const std::string shots = dir ? dir : pc_.folder();
  // Japanese prepares disk 3 and English disk 2: a prepared disk gains a
  // row, and the list shows five.
  for (const char* language : {"Japanese", "English"}) {
    SCOPED_TRACE(language);
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    const std::string tag = language == std::string("English") ? "en" : "ja";
    const std::string drive = Utf8(LookupString(u"IDS_Drive"));
    CloneSettings = CloneSettingsRecord{};
    Script whole;
    whole.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, drive + "1:");
    whole.screenshot("wizard-conversion-" + tag + ".png").click(2);
    ASSERT_EQ(Wizard(whole, nullptr, [&](platform::ui::DriverOptions& o) { o.screenshots_dir = shots; }), "");
    EXPECT_EQ(CloneSettings.convertToGpt, 1);
    CloneSettings = CloneSettingsRecord{};
    Script part;
    part.expect_dialog(130).tick(1027, 1).click(1007).expect_dialog(134);
    part.tick_text(1027, drive + (tag == "ja" ? "3:" : "2:"));
    part.expect_dialog(206).screenshot("wizard-prepare-question-" + tag + ".png").click(1122);
    part.expect_dialog(134).expect_enabled(1007).screenshot("wizard-prepared-" + tag + ".png").click(2);
    ASSERT_EQ(Wizard(part, nullptr, [&](platform::ui::DriverOptions& o) { o.screenshots_dir = shots; }), "");
    for (const char* page : {"conversion", "prepare-question", "prepared"})
      EXPECT_TRUE(fs::exists(shots + "/wizard-" + page + "-" + tag + ".png")) << page;
  }
}

}  // namespace
