// The clone wizard on simulated PCs: the source page's list, tick rules and
// Next, the options page, and the plan applied to real disks (an MBR source
// with a logical drive, a GPT source, a 4096-byte destination, a smaller
// destination that still holds the used space, one too small, and one that
// has gone). Expected layouts are worked out by hand from the planning rules
// on disks of whole cylinders (so that D is exactly twice S, or half of it);
// every run ends with the disk images unchanged byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_plan.h"
#include "mainapp/clone/clone_settings.h"
#include "mainapp/clone/options_page.h"
#include "mainapp/clone/plan_application.h"
#include "mainapp/clone/source_page.h"
#include "mainapp/shell/clone_page_hook.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
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
  EXPECT_EQ(c.copySourceDisk, 0);
  EXPECT_EQ(c.copySourceStart, 0u);
  EXPECT_EQ(c.copySourceLength, 8 * kCylinder512 / 512);
  EXPECT_EQ(Utf8(c.sourceName), "Disk 0");
  EXPECT_EQ(c.chosenDestinationDisk, -1);
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
  EXPECT_EQ(again.rows[0].texts[1], "ACMESource Disk");  // vendor and product
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
void ExpectMap(const std::vector<Item>& want) {
  ASSERT_EQ(PlannedDiskMap.count, static_cast<int32_t>(want.size()));
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

TEST_F(CloneWizardTest, PlanMbrWithLogicalDriveOntoDiskTwiceItsSize) {
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 8 * kCylinder512, .product = "Source Disk"});
  Part c{.start = 2048, .count = 16 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"};
  Part extended{.start = 17 * 2048, .count = 18 * 2048, .mbrType = 0x0F};
  Part logical{.start = 18 * 2048, .count = 16 * 2048, .mbrType = 0x06, .logical = true, .fs = "fat16", .label = "DATA"};
  pc_.WriteMbr(0, {c, extended, logical});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 16 * kCylinder512, .product = "Target Disk"});
  Boot(2);
  CloneSettings.copySourceDisk = 0;
  CloneSettings.chosenDestinationDisk = 1;
  CloneSettings.sizingMode = SizingMode::Automatic;
  std::string failure;
  ASSERT_TRUE(Apply(&failure));
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

  CloneSettings.copySourceDisk = 0;
  CloneSettings.chosenDestinationDisk = 1;
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

  CloneSettings.copySourceDisk = 2;
  CloneSettings.chosenDestinationDisk = 3;
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
  CloneSettings.copySourceDisk = 0;
  CloneSettings.sizingMode = SizingMode::Automatic;
  std::string failure;

  // Half the size still holds the used space: the partition runs to the end
  // (63,963,136 bytes: the disk less 1 MiB, cut to whole MiB).
  CloneSettings.chosenDestinationDisk = 1;
  ASSERT_TRUE(Apply(&failure)) << failure;
  EXPECT_DOUBLE_EQ(ScaleFactor, 0.5);
  EXPECT_EQ(DiskContext.layoutTable[0].newStartBytes, kMiB);
  EXPECT_EQ(DiskContext.layoutTable[0].newLengthBytes, 61 * kMiB);
  ExpectMap({{2048, 61 * 2048, 0}});

  // One cylinder (16,065 sectors) cannot hold 12 MiB plus a quarter.
  CloneSettings.chosenDestinationDisk = 2;
  EXPECT_FALSE(Apply(&failure, "ok"));
  EXPECT_EQ(failure, "");
  EXPECT_GE(PlanRequiredSectors, 12u * 2048 + 12 * 2048 / 4);
  EXPECT_EQ(ComputeRequiredSectors(), PlanRequiredSectors);  // one lettered partition, nothing else

  // A destination that has gone since it was listed.
  CloneSettings.chosenDestinationDisk = 7;
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
  CloneSettings.copySourceDisk = 0;
  CloneSettings.chosenDestinationDisk = 1;
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

}  // namespace
