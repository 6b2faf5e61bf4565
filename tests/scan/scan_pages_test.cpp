// The stand-alone bad-sector scan run headless through its three pages on a
// simulated PC whose disks have unreadable sectors (machine.ini faults):
// the ticked partition of a 4096-byte disk, listed as disk 2 but physical
// disk 2 of a machine without a disk 1, is scanned from its first to its
// last native sector, every unreadable sector is found, listed and counted
// as bad, and the result page says so; a whole disk is scanned the same way. The boot
// medium's rows refuse a tick.
#include "mainapp/scan/scan_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/clone/prescan_page.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/main_commands.h"
#include "platform/core/text.h"
#include "platform/ui/render.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

constexpr uint64_t kMiB = 1ull << 20;
// Disk 2: 4096-byte sectors, one NTFS partition of 8192 native sectors at 256.
constexpr uint64_t kPartStart = 256, kPartCount = 8192;
// Rows of the target list: disk 0, its C:, disk 2, its D:.
constexpr int kRowDisk0 = 0, kRowDisk2 = 2, kRowPartitionD = 3;

class ScanPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    ScanState = ScanStateRecord{};
    CloneSettings = CloneSettingsRecord{};
    ShellState = ShellStateRecord{};
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 1024 * kMiB, .product = "System Disk", .serial = "S0"});
    pc.WriteMbr(0, {Part{.start = 2048, .count = 64 * 2048, .mbrType = 0x06, .fs = "fat16", .label = "SYS"}});
    pc.AddDisk(DiskSpec{.number = 2, .sizeBytes = 64 * kMiB, .sectorSize = 4096, .product = "Native Disk",
                        .serial = "S2"});
    pc.WriteMbr(2, {Part{.start = kPartStart, .count = kPartCount, .mbrType = 0x07, .fs = "ntfs", .label = "DATA"}});
    // One bad sector inside the partition and its very last sector; one
    // outside it, which the partition's scan must not report.
    // And one in the disk's last 319 sectors, past its last whole cylinder.
    pc.SetIni("disk 2", "unreadable", "3000, 8447, 9000, 16380");
    // Past the partition, only the whole disk's scan reads it: its first
    // read fails, the retry reads it.
    pc.SetIni("disk 2", "flaky_reads", "10000");
    pc.SetIni("disk 0", "unreadable", "700000-700003");
    ASSERT_TRUE(disk_fixture::MountProgramFolder(pc, pc.folder() + "/program"));
    pc.Boot();
    ShellState.programFolder = u"P:";
    ShellState.languageName = u"English";
    ShellState.messageCaption = u"Drummetworks";
    ShellState.titleFontHeight = 16;
    ShellState.textFontHeight = 13;
    ASSERT_TRUE(LoadLanguageStrings());
    RegisterScanCommands();
  }
  void TearDown() override {
    RunScanSummaryPage = nullptr;
    RunScanTargetPage = nullptr;
    LanguageTable = LanguageTableRecord{};
    ShellState = ShellStateRecord{};
  }
  std::vector<std::string> FailedSectors() {
    std::vector<std::string> lines;
    for (const CString& line : ScanState.failedSectors) lines.push_back(platform::to_utf8(line.str()));
    return lines;
  }
  SimulatedPc pc;
};

// One scan through the three pages: tick a row, Next, confirm, Start, the
// result page. The first Next may be declined, which keeps the target page.
struct ScanCase {
  const char* what;
  int row;
  int alsoTicked;     // a row the tick carries along, -1 none
  bool declineFirst;  // answer No to the first Next
  int32_t disk;       // the physical disk scanned
  int32_t kind;
  uint64_t start, count;  // native sectors; count 0: not checked
  const char* letter;     // in the target text, "" not checked
  std::vector<std::string> failed;
  int32_t bad;  // of those, sectors that no retry read
  const char* result;
};

// Chunks are one track: 63 units, so 7 native sectors on disk 2 and 63 on
// disk 0, counted from the target's first sector; a chunk whose read fails
// is read sector by sector, so each unreadable sector is listed by its own
// number. The lines below are worked out by hand from the fault maps in SetUp.
const ScanCase kScanCases[] = {
    // 3000 and 8447, the partition's last sector, lie inside it; 9000 lies
    // outside.
    {"partition of the 4096-byte physical disk 2", kRowPartitionD, -1, false, 2, kSelectionPartition, kPartStart,
     kPartCount, "(D:)", {"Read error in sector 3000", "Read error in sector 8447"}, 2, "2 errors, 2 bad sectors"},
    {"whole disk 0, its partition ticked along", kRowDisk0, kRowDisk0 + 1, true, 0, kSelectionWholeDisk, 0, 0, "",
     {"Read error in sector 700000", "Read error in sector 700001", "Read error in sector 700002",
      "Read error in sector 700003"},
     4, "4 errors, 4 bad sectors"},
    // Disk 2 to its real end, 16,384 native sectors (its geometry stops at
    // one whole cylinder of 255 x 63, 16,065). The flaky 10000 fails its
    // chunk's (9996-10002) first read only: every sector then reads, and the
    // chunk is listed as read on a retry; it is an error, not a bad sector.
    // 16380 lies past the last whole cylinder.
    {"whole 4096-byte disk 2", kRowDisk2, kRowPartitionD, false, 2, kSelectionWholeDisk, 0, 16384, "",
     {"Read error in sector 3000", "Read error in sector 8447", "Read error in sector 9000",
      "Read error in sector 9996-10002, read on a retry", "Read error in sector 16380"},
     4, "5 errors, 4 bad sectors"},
};

// The lines of the progress page's error list as the page closes (and its
// picture when a path is set): the result page is opened from the progress
// page, which is then still open, found by its caption.
std::vector<std::string> shownErrors;
std::string errorListPicture;
void (*openResultPage)() = nullptr;
void ReadErrorListThenOpenResultPage() {
  shownErrors.clear();
  const HWND handle = FindWindowW(nullptr, LookupString(u"IDS_BadSectorScanProgCap"));
  if (platform::ui::Window* window = platform::ui::FindWindowModel(handle); window && !errorListPicture.empty()) {
    std::string why;
    EXPECT_TRUE(platform::ui::SaveWindowPicture(*window, errorListPicture, &why)) << why;
  }
  CWnd* page = CWnd::FromHandle(handle);
  auto* list = page ? static_cast<CListBox*>(page->GetDlgItem(CBadSectorScanSummary::kErrorList)) : nullptr;
  for (int i = 0; list && i < list->GetCount(); ++i) {
    std::u16string line;
    list->GetText(i, line);
    shownErrors.push_back(platform::to_utf8(line));
  }
  openResultPage();
}

TEST_F(ScanPagesTest, TheTickedRowIsScannedOnItsPhysicalDiskAndEveryBadSectorIsShown) {
  ASSERT_NE(shell::FindMainCommand(shell::kCmdScan), nullptr);
  openResultPage = RunScanSummaryPage;
  RunScanSummaryPage = &ReadErrorListThenOpenResultPage;
  for (const ScanCase& c : kScanCases) {
    SCOPED_TRACE(c.what);
    ScanState = ScanStateRecord{};
    ScanTarget = DiskSelectionRecord{};
    shownErrors = {"not read"};
    platform::ui::Script script;
    script.expect_dialog(CScanNewDiskPartition::IDD)
        .expect_disabled(CScanNewDiskPartition::kNext)
        .tick(CScanNewDiskPartition::kList, c.row)
        .expect_enabled(CScanNewDiskPartition::kNext);
    if (c.alsoTicked >= 0) script.expect_checked(CScanNewDiskPartition::kList, c.alsoTicked);
    if (c.declineFirst)
      script.click(CScanNewDiskPartition::kNext).answer("no").expect_dialog(CScanNewDiskPartition::IDD);
    script.click(CScanNewDiskPartition::kNext)
        .answer("yes")
        .expect_dialog(155)
        .click(1011)
        .wait(39000)  // the result message stays open: not part of the time taken
        .answer("ok")
        .expect_dialog(CScanSummary::IDD)
        .expect_text(CScanSummary::kResult, c.result)
        .expect_text(CScanSummary::kTime, "00:00:00")
        .click(1000);
    CScanNewDiskPartition page;
    auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_EQ(ScanTarget.diskNumber.value, c.disk);
    EXPECT_EQ(ScanTarget.kind, c.kind);
    EXPECT_EQ(ScanTarget.startSector, c.start);
    if (c.count) {
      EXPECT_EQ(ScanTarget.sectorCount, c.count);
    }
    EXPECT_EQ(FailedSectors(), c.failed);
    EXPECT_EQ(ScanState.scanErrorCount, static_cast<int32_t>(c.failed.size()));
    EXPECT_EQ(ScanState.badSectorCount, c.bad);
    EXPECT_EQ(shownErrors, c.failed) << "the progress page's error list";
    if (*c.letter) {
      EXPECT_NE(platform::to_utf8(ScanState.scanTargetText.str()).find(c.letter), std::string::npos);
    }
    EXPECT_EQ(ScanState.scanOnlySummary, 1);
    EXPECT_EQ(CloneSettings.checkedRow, -1) << "the result page forgets the tick";
  }
}

// The target page as it closes: each row's image and tick.
class RowProbe : public CScanNewDiskPartition {
 public:
  std::vector<int> images;
  std::vector<bool> ticks;
  void OnCancel() override {
    if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kList)))
      for (int i = 0; i < list->GetItemCount(); ++i) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        images.push_back(list->GetItem(&item) ? item.iImage : -1);
        ticks.push_back(list->GetCheck(i));
      }
    CScanNewDiskPartition::OnCancel();
  }
};

// Disk 0 carries the one-touch marker in its sector 0, which makes it the
// boot medium: its rows show greyed and refuse a tick, on their own or with
// another row ticked; disk 2's rows stay free.
TEST_F(ScanPagesTest, TheBootMediumsRowsAreGreyedAndCannotBeTicked) {
  {
    std::fstream image(pc.Image(0), std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(16);
    image.write("DRUMMETWORKSOTBDISK", 19);
  }
  platform::ui::Script script;
  script.expect_dialog(CScanNewDiskPartition::IDD)
      .tick(CScanNewDiskPartition::kList, kRowDisk0)
      .expect_disabled(CScanNewDiskPartition::kNext)
      .tick(CScanNewDiskPartition::kList, kRowDisk0 + 1)
      .expect_disabled(CScanNewDiskPartition::kNext)
      .tick(CScanNewDiskPartition::kList, kRowPartitionD)
      .expect_enabled(CScanNewDiskPartition::kNext)
      .tick(CScanNewDiskPartition::kList, kRowDisk0)
      .expect_checked(CScanNewDiskPartition::kList, kRowPartitionD)
      .expect_enabled(CScanNewDiskPartition::kNext)
      .click(IDCANCEL);
  RowProbe page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(DiskContext.markedBootDisk, 1);
  EXPECT_EQ(page.images, (std::vector<int>{2, 3, 0, 1}));
  EXPECT_EQ(page.ticks, (std::vector<bool>{false, false, false, true}));
  EXPECT_EQ(CloneSettings.checkedRow, kRowPartitionD);
}

// The three pages in both languages, for a person to look at, the progress
// page also with its error list filled (in Japanese with the line of the
// sector read on a retry, which fails only the first scan's read).
TEST_F(ScanPagesTest, PagesInEnglishAndJapanese) {
  for (const char* language : {"Japanese", "English"}) {
    SCOPED_TRACE(language);
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    const std::string suffix = std::string("-") + language + ".png";
    platform::ui::Script script;
    script.expect_dialog(CScanNewDiskPartition::IDD)
        .tick(CScanNewDiskPartition::kList, kRowDisk2)
        .screenshot("scan-target" + suffix)
        .click(CScanNewDiskPartition::kNext)
        .answer("yes")
        .expect_dialog(155)
        .screenshot("scan-progress" + suffix)
        .click(1011)
        .answer("ok")
        .expect_dialog(CScanSummary::IDD)
        .screenshot("scan-summary" + suffix)
        .click(1000);
    CScanNewDiskPartition page;
    const std::string folder = ::testing::TempDir();
    openResultPage = RunScanSummaryPage;
    RunScanSummaryPage = &ReadErrorListThenOpenResultPage;
    errorListPicture = folder + "/scan-errors" + suffix;
    auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); },
                                         [&](platform::ui::DriverOptions& o) { o.screenshots_dir = folder; });
    ASSERT_EQ(run.failure, "") << run.log;
    RunScanSummaryPage = openResultPage;
    errorListPicture.clear();
    for (const char* name : {"scan-target", "scan-progress", "scan-errors", "scan-summary"})
      EXPECT_TRUE(std::filesystem::exists(folder + "/" + name + suffix)) << name;
  }
}

}  // namespace
