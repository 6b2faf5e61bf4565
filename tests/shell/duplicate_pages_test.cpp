// The quick duplicate pages on a simulated PC of three disks: a 512-byte
// disk with a FAT32 and a FAT16 partition (lettered) and an unformatted one
// (no letter), an empty 4096-byte disk and an empty 512-byte disk. The pages
// run headless from scripts on the virtual clock; small probe subclasses
// note what the lists showed and every check-box state the user could see.
// Sizes are checked against the images' sizes, used space against what
// fsck.fat reports of a copy of each volume.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/clone_page_hook.h"
#include "mainapp/shell/duplicate_destination_page.h"
#include "mainapp/shell/duplicate_page.h"
#include "mainapp/shell/duplicate_source_page.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }
std::string Utf8(const std::u16string& s) { return platform::to_utf8(s); }

// A disk's size as the disk layer reports it: whole cylinders of 255 heads x
// 63 sectors of the image, in 512-byte units.
uint64_t GeometryUnits(uint64_t bytes, uint32_t sector) {
  const uint64_t cylinder = 255ull * 63 * sector;
  return bytes / cylinder * cylinder / 512;
}
std::string GeometrySize(uint64_t bytes, uint32_t sector) { return Utf8(FormatSectorCount(GeometryUnits(bytes, sector))); }

// What a list view or list box showed: per row its texts, image and tick.
struct ListRow {
  std::vector<std::string> texts;
  int image = 0;
  bool ticked = false;
};
struct Shown {
  std::string caption;
  std::vector<std::string> texts;      // every control's text
  std::vector<std::string> headings;   // list view columns
  std::vector<int> widths;
  std::vector<ListRow> rows;
  std::vector<std::string> sourceLines, destinationLines;
  bool okEnabled = false, nextEnabled = false;
  LOGFONTW titleFont{}, textFont{};
};

std::vector<ListRow> ListRows(CWnd& page, int id) {
  std::vector<ListRow> out;
  auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(page.GetDlgItem(id)->GetSafeHwnd());
  if (!model) return out;
  for (const auto& row : model->rows) {
    ListRow r;
    for (const auto& t : row.texts) r.texts.push_back(Utf8(t));
    r.texts.resize(4);
    r.image = row.image;
    r.ticked = ((row.state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    out.push_back(r);
  }
  return out;
}

std::vector<std::string> BoxLines(CWnd& page, int id) {
  std::vector<std::string> out;
  auto* box = dynamic_cast<CListBox*>(page.GetDlgItem(id));
  if (!box) return out;
  for (int i = 0; i < box->GetCount(); ++i) {
    CString line;
    box->GetText(i, line);
    out.push_back(Utf8(line));
  }
  return out;
}

Shown Snapshot(CDialog& page) {
  Shown s;
  s.caption = Utf8(page.GetWindowText());
  for (int id : {1003, 1004, 1163, 1062, 1079, 2, 1, 4, 1175, 1176, 1177})
    if (page.GetDlgItem(id)) s.texts.push_back(Utf8(page.GetDlgItemText(id)));
  if (CWnd* list = page.GetDlgItem(1027)) {
    auto* model = platform::ui::ModelOf<platform::ui::ListViewModel>(list->GetSafeHwnd());
    for (const auto& c : model->columns) {
      s.headings.push_back(Utf8(c.text));
      s.widths.push_back(c.width);
    }
    s.rows = ListRows(page, 1027);
  }
  s.sourceLines = BoxLines(page, 1169);
  s.destinationLines = BoxLines(page, 1170);
  if (CWnd* ok = page.GetDlgItem(1)) s.okEnabled = ok->IsWindowEnabled();
  if (CWnd* next = page.GetDlgItem(1079)) s.nextEnabled = next->IsWindowEnabled();
  if (CFont* f = page.GetDlgItem(1003)->GetFont()) f->GetLogFont(&s.titleFont);
  if (CFont* f = page.GetDlgItem(1004)->GetFont()) f->GetLogFont(&s.textFont);
  return s;
}

// After every change of a row the user could see: which rows are ticked,
// and the disk fields of the moment.
struct Seen {
  std::vector<int> ticked;
  int32_t systemDisk;
  int32_t destinationDisk;
};

template <class Page>
class Probe : public Page {
 public:
  Shown atInit;
  std::vector<Seen> seen;
  // Runs while the page is still open, when the user cancels it.
  std::function<void(CDialog&)> beforeCancel;
  void OnCancel() override {
    if (beforeCancel) beforeCancel(*this);
    Page::OnCancel();
  }
  BOOL OnInitDialog() override {
    BOOL result = Page::OnInitDialog();
    atInit = Snapshot(*this);
    return result;
  }
  BOOL OnNotify(WPARAM w, LPARAM l, LRESULT* result) override {
    BOOL handled = Page::OnNotify(w, l, result);
    const auto* header = reinterpret_cast<const NMHDR*>(l);
    if (header->code == LVN_ITEMCHANGED) {
      Seen now{{}, DiskContext.systemDisk.value, DiskContext.destinationDisk.value};
      const auto rows = ListRows(*this, 1027);
      for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].ticked) now.ticked.push_back(static_cast<int>(i));
      seen.push_back(now);
    }
    return handled;
  }
};

// The values the clone page found when the quick duplicate ran it.
struct CloneRun {
  int calls = 0;
  CloneSettingsRecord settings;
  DiskSelectionRecord source{}, destination{};
  CWnd* parent = nullptr;
  bool duplicateVisible = true;
};
CloneRun cloneRun;

INT_PTR RecordClonePage(CWnd* parent) {
  ++cloneRun.calls;
  cloneRun.settings = CloneSettings;
  cloneRun.source = DiskSelection;
  cloneRun.destination = DestinationSelection;
  cloneRun.parent = parent;
  cloneRun.duplicateVisible = false;
  for (platform::ui::Window* w : platform::ui::TopLevelWindows())
    if (w->template_id == CDuplicate::IDD && w->visible()) cloneRun.duplicateVisible = true;
  return IDOK;
}

// Used sectors of a volume as fsck.fat counts them on a host copy.
uint64_t FsckUsedSectors(const std::string& image) {
  std::string out;
  disk_fixture::Shell("fsck.fat -n -v " + image, &out);
  std::smatch m;
  uint64_t cluster = 0, used = 0;
  if (std::regex_search(out, m, std::regex("(\\d+) bytes per cluster"))) cluster = std::stoull(m[1]);
  if (std::regex_search(out, m, std::regex("(\\d+)/(\\d+) clusters"))) used = std::stoull(m[1]);
  return used * cluster / 512;
}

class DuplicatePagesTest : public ::testing::Test {
 protected:
  static constexpr uint64_t kSystemStart = 2048, kSystemCount = 64 * 2048;  // 512-byte sectors
  static constexpr uint64_t kDataStart = 66 * 2048, kDataCount = 32 * 2048;
  static constexpr uint64_t kRawStart = 100 * 2048, kRawCount = 16 * 2048;

  void SetUp() override {
    ShellState = ShellStateRecord{};
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
    CloneSettings = CloneSettingsRecord{};
    RunClonePage = nullptr;
    cloneRun = CloneRun{};
    ShellState.titleFontHeight = 15;
    ShellState.textFontHeight = 13;
    ShellState.messageCaption = u"Drummetworks";

    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20, .product = "Source Disk", .serial = "SN0"});
    Part system{.start = kSystemStart, .count = kSystemCount, .mbrType = 0x0C, .fs = "fat32", .label = "SYSTEM"};
    system.files = {{"/WINDOWS/A.BIN", std::string(300000, 'a')}, {"/README.TXT", std::string(5000, 'r')}};
    Part data{.start = kDataStart, .count = kDataCount, .mbrType = 0x06, .fs = "fat16", .label = "DATA"};
    data.files = {{"/B.BIN", std::string(1200000, 'b')}};
    Part raw{.start = kRawStart, .count = kRawCount, .mbrType = 0x83};
    pc_.WriteMbr(0, {system, data, raw});
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 512ull << 20, .sectorSize = 4096, .product = "Target Disk",
                         .serial = "SN1"});
    pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 384ull << 20, .product = "Spare Disk", .serial = "SN2"});
    systemUsed_ = FsckUsedSectors(pc_.ExtractVolume(0, kSystemStart, kSystemCount, "system.img"));
    dataUsed_ = FsckUsedSectors(pc_.ExtractVolume(0, kDataStart, kDataCount, "data.img"));

    // The language files, made from their sources the way the build makes them.
    ASSERT_TRUE(disk_fixture::MountProgramFolder(pc_, pc_.folder() + "/program"));
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
    ShellState.programFolder = u"P:";
    UseLanguage("English");
  }
  void TearDown() override {
    RunClonePage = nullptr;
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
  }
  void UseLanguage(const char* name) {
    ShellState.languageName = platform::to_utf16(name);
    ASSERT_TRUE(LoadLanguageStrings());
  }

  struct Run {
    INT_PTR result = 0;
    std::string failure;
  };
  Run RunPage(CDialog& page, const platform::ui::Script& script) {
    Run run;
    std::ostringstream log;
    platform::ui::DriverOptions options;
    options.log = &log;
    {
      platform::ui::HeadlessSession session(script, options);
      try {
        run.result = page.DoModal();
      } catch (const platform::ui::ScriptFailure& e) {
        run.failure = e.what();
      }
      if (run.failure.empty() && !session.driver().finished()) run.failure = "script not finished";
    }
    if (!run.failure.empty()) run.failure += "\n" + log.str();
    return run;
  }

  SimulatedPc pc_;
  uint64_t systemUsed_ = 0;
  uint64_t dataUsed_ = 0;
};

TEST_F(DuplicatePagesTest, SourcePageListsEveryDiskAndPartitionWithSizesAndUsedSpace) {
  ASSERT_GT(systemUsed_, 0u);
  ASSERT_GT(dataUsed_, systemUsed_);
  Probe<CDuplicateSrc> page;
  // The clone's list selection reads this page's rows as they are: the
  // lettered FAT32 row, the 4096-byte disk row and the letter-free row.
  struct Selected {
    int32_t kind, diskNumber, partitionDisk;
    WCHAR letter;
    uint64_t start, count;
    std::string fileSystem;
  };
  std::vector<Selected> selected;
  page.beforeCancel = [&](CDialog& open) {
    auto* list = dynamic_cast<CListCtrl*>(open.GetDlgItem(1027));
    ASSERT_NE(list, nullptr);
    for (int row : {1, 4, 3}) {
      DiskSelection = DiskSelectionRecord{};
      partitionDiskNumber = PhysicalDiskNumber{-1};
      GetListSelection(*list, row);
      selected.push_back({DiskSelection.kind, DiskSelection.diskNumber.value, partitionDiskNumber.value, DiskSelection.driveLetter,
                          DiskSelection.startSector, DiskSelection.sectorCount,
                          Utf8(std::u16string(DiskSelection.fileSystemName))});
    }
  };
  platform::ui::Script script;
  script.expect_dialog(246).click(2);
  Run run = RunPage(page, script);
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.result, IDCANCEL);
  ASSERT_EQ(selected.size(), 3u);
  EXPECT_EQ(selected[0].kind, 3);
  EXPECT_EQ(selected[0].letter, u'C');
  EXPECT_EQ(selected[0].partitionDisk, 0);
  EXPECT_EQ(selected[0].start, kSystemStart);
  EXPECT_EQ(selected[0].count, kSystemCount);
  EXPECT_EQ(selected[0].fileSystem, "NTFS");  // "(" opens a lettered row's text
  EXPECT_EQ(selected[1].kind, 2);
  EXPECT_EQ(selected[1].diskNumber, 1);
  EXPECT_EQ(selected[1].count, GeometryUnits(512ull << 20, 4096) / 8);
  EXPECT_EQ(selected[2].kind, 3);
  EXPECT_EQ(selected[2].letter, u' ');
  EXPECT_EQ(selected[2].start, kRawStart);
  const Shown& s = page.atInit;
  EXPECT_EQ(s.caption, "Quick Copy: select the source disk");
  EXPECT_EQ(s.texts, (std::vector<std::string>{"Quick Copy: select the source disk", "Quick Copy: select the source disk",
                                                "Tick one disk in the list, then press Next.", "Next >", "Cancel"}));
  EXPECT_EQ(s.headings, (std::vector<std::string>{"Disk", "Model / Partition", "Total size", "Used space"}));
  EXPECT_EQ(s.widths, (std::vector<int>{130, 180, 80, 80}));
  EXPECT_FALSE(s.nextEnabled);
  EXPECT_EQ(s.titleFont.lfWeight, 700);
  EXPECT_EQ(s.titleFont.lfHeight, 15);
  EXPECT_EQ(s.textFont.lfHeight, 13);

  ASSERT_EQ(s.rows.size(), 6u);
  struct Expect {
    const char* column0;
    const char* column1;  // a prefix for the letter-free row, whose type name follows
    std::string size;
    std::string used;
    int image;
    int32_t kind;
  } expect[] = {
      {"Disk 0 ", "", GeometrySize(256ull << 20, 512), Utf8(FormatSectorCount(systemUsed_ + dataUsed_)), 0, -1},
      {"  Partition", "(C:)  SYSTEM", "64 MB", Utf8(FormatSectorCount(systemUsed_)), 1, 0},
      {"  Partition", "(D:)  DATA", "32 MB", Utf8(FormatSectorCount(dataUsed_)), 1, 0},
      {"  Partition", "No drive letter ( Linux)", "16 MB", "", 1, 0},
      {"Disk 1 ", "", GeometrySize(512ull << 20, 4096), "0 Byte", 0, -2},
      {"Disk 2 ", "", GeometrySize(384ull << 20, 512), "0 Byte", 0, -3},
  };
  // 32 cylinders of the 256 MiB image: 514,080 units.
  EXPECT_EQ(expect[0].size, "251.02 MB");
  for (size_t i = 0; i < s.rows.size(); ++i) {
    SCOPED_TRACE(i);
    const ListRow& row = s.rows[i];
    EXPECT_EQ(row.texts[0], expect[i].column0);
    if (*expect[i].column1) {
      EXPECT_EQ(row.texts[1], expect[i].column1);
    }
    EXPECT_EQ(row.texts[2], expect[i].size);
    EXPECT_EQ(row.texts[3], expect[i].used);
    EXPECT_EQ(row.image, expect[i].image);
    EXPECT_FALSE(row.ticked);
    EXPECT_EQ(DiskListRows.rowKind[i], expect[i].kind);
  }
  EXPECT_NE(s.rows[0].texts[1].find("Source Disk"), std::string::npos) << s.rows[0].texts[1];
  EXPECT_NE(s.rows[4].texts[1].find("Target Disk"), std::string::npos) << s.rows[4].texts[1];
  EXPECT_EQ(DiskListRows.rowCount, 6);
  EXPECT_EQ(DiskListRows.rowStart[1], kSystemStart);
  EXPECT_EQ(DiskListRows.rowLength[3], kRawCount);
  EXPECT_EQ(DiskContext.systemDisk.value, -1);
}

TEST_F(DuplicatePagesTest, SourcePageTicksAtMostOneDiskAndNeverAPartition) {
  DiskContext.systemDisk = PhysicalDiskNumber{0};  // the running system's disk, as the main dialog found it
  Probe<CDuplicateSrc> page;
  platform::ui::Script script;
  script.expect_dialog(246)
      .tick(1027, 1)     // partition: refused
      .tick(1027, 0)
      .expect_checked(1027, 0)
      .expect_enabled(1079)
      .tick(1027, 2)     // partition: refused, the disk stays ticked
      .tick(1027, 4)     // another disk: the first is unticked
      .expect_checked(1027, 4)
      .untick(1027, 4)   // no source any more
      .expect_disabled(1079)
      .tick(1027, 3)     // partition without a letter: refused
      .tick(1027, 5)
      .untick(1027, 5)
      .tick(1027, 0)
      .click(1079);
  Run run = RunPage(page, script);
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(page.atInit.rows.size(), 6u);
  std::vector<int32_t> sources;
  for (const Seen& seen : page.seen) {
    EXPECT_LE(seen.ticked.size(), 1u);
    for (int row : seen.ticked) EXPECT_TRUE(row == 0 || row == 4 || row == 5) << "partition row " << row << " ticked";
    if (sources.empty() || sources.back() != seen.systemDisk) sources.push_back(seen.systemDisk);
  }
  // The source opens as -1, then follows the ticks: listed indexes 0, 1, none, 2, none, 0.
  EXPECT_EQ(sources, (std::vector<int32_t>{0, 1, -1, 2, -1, 0}));
  EXPECT_EQ(DiskContext.systemDisk.value, 0);
}

// A disk that reports no model is still a disk the user may copy from: the
// source page lists it (model column empty) and lets it be ticked; the
// destination page lists only disks with a model text.
TEST_F(DuplicatePagesTest, SourcePageListsADiskWithoutModelTheDestinationPageDoesNot) {
  pc_.SetIni("disk 2", "vendor", "");
  pc_.SetIni("disk 2", "product", "");
  pc_.Boot();
  platform::fs::ReleaseAllDrivers();
  {
    Probe<CDuplicateSrc> page;
    platform::ui::Script script;
    script.expect_dialog(246).tick(1027, 5).expect_checked(1027, 5).click(1079);
    Run run = RunPage(page, script);
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(page.atInit.rows.size(), 6u);
    EXPECT_EQ(page.atInit.rows[5].texts[0], "Disk 2 ");
    EXPECT_EQ(page.atInit.rows[5].texts[1], "");
    EXPECT_EQ(page.atInit.rows[5].texts[2], GeometrySize(384ull << 20, 512));
    EXPECT_EQ(DiskContext.systemDisk.value, 2) << "the listed index (from 0) of disk 2";
  }
  Probe<CDuplicateDest> page;
  platform::ui::Script script;
  script.expect_dialog(247).click(2);
  Run run = RunPage(page, script);
  ASSERT_EQ(run.failure, "");
  ASSERT_EQ(page.atInit.rows.size(), 2u);
  EXPECT_EQ(page.atInit.rows[0].texts[0], "Disk 0 ");
  EXPECT_EQ(page.atInit.rows[1].texts[0], "Disk 1 ");
}

TEST_F(DuplicatePagesTest, DestinationPageRefusesTheSourceAndMarksIt) {
  DiskContext.systemDisk = PhysicalDiskNumber{1};  // the 4096-byte disk is the source
  ShellState.oneClickRunning = true;
  Probe<CDuplicateDest> page;
  platform::ui::Script script;
  script.expect_dialog(247)
      .expect_disabled(1079)
      .tick(1027, 1)  // the source: refused
      .tick(1027, 0)
      .expect_checked(1027, 0)
      .expect_enabled(1079)
      .tick(1027, 2)
      .expect_checked(1027, 2)
      .click(1079);
  Run run = RunPage(page, script);
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.result, IDOK);
  const Shown& s = page.atInit;
  EXPECT_EQ(s.caption, "Quick Copy: select the destination disk");
  EXPECT_EQ(s.headings, (std::vector<std::string>{"Disk", "Model / Partition", "Total size"}));
  EXPECT_EQ(s.widths, (std::vector<int>{130, 180, 80}));
  ASSERT_EQ(s.rows.size(), 3u);
  const std::string sizes[] = {GeometrySize(256ull << 20, 512), GeometrySize(512ull << 20, 4096),
                               GeometrySize(384ull << 20, 512)};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(s.rows[i].texts[0], "Disk " + std::to_string(i) + " ");
    EXPECT_EQ(s.rows[i].texts[2], sizes[i]);
    EXPECT_EQ(s.rows[i].image, i == 1 ? 2 : 0);
  }
  for (const Seen& seen : page.seen) {
    EXPECT_LE(seen.ticked.size(), 1u);
    for (int row : seen.ticked) EXPECT_NE(row, 1);
    EXPECT_EQ(seen.systemDisk, 1);
  }
  EXPECT_EQ(DiskContext.destinationDisk.value, 2);
  EXPECT_EQ(DiskContext.systemDisk.value, 1);
  EXPECT_FALSE(ShellState.oneClickRunning);
}

TEST_F(DuplicatePagesTest, DestinationPageCancelLeavesNoDestination) {
  struct Case {
    const char* what;
    int32_t remembered;  // destinationDisk when the page opens
    bool ticksRemembered;
    bool escape;
  } cases[] = {
      {"Cancel after a tick", -1, false, false},
      {"Escape after a tick", -1, false, true},
      {"a remembered destination is ticked again, Cancel drops it", 2, true, false},
      {"a remembered destination that is the source is dropped", 0, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DiskContext.systemDisk = PhysicalDiskNumber{0};
    DiskContext.destinationDisk = ListedDiskIndex{c.remembered};
    Probe<CDuplicateDest> page;
    platform::ui::Script script;
    script.expect_dialog(247).tick(1027, 1).expect_checked(1027, 1);
    if (c.escape) {
      script.key("escape");
    } else {
      script.click(2);
    }
    Run run = RunPage(page, script);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(DiskContext.destinationDisk.value, -1);
    ASSERT_EQ(page.atInit.rows.size(), 3u);
    EXPECT_EQ(page.atInit.rows[2].ticked, c.ticksRemembered);
    EXPECT_EQ(page.atInit.nextEnabled, c.ticksRemembered);
    EXPECT_FALSE(page.atInit.rows[0].ticked);
  }
}

TEST_F(DuplicatePagesTest, QuickDuplicateShowsBothDisksAndOkHandsTheSettingsToTheClonePage) {
  DiskContext.systemDisk = PhysicalDiskNumber{0};
  DiskContext.destinationDisk = ListedDiskIndex{1};
  CloneSettings.partitionMode = 1;
  CloneSettings.badSectorScan = 1;
  CloneSettings.verifyAfterCopy = 1;
  CloneSettings.basicDuplication = 0;
  CloneSettings.sizingMode = SizingMode::Manual;
  CloneSettings.sourceDisk = ListedDiskIndex{5};
  CloneSettings.chosenDestinationDisk = ListedDiskIndex{7};
  CloneSettings.changeSid = 1;
  RunClonePage = &RecordClonePage;
  // The disk tables as the source page left them.
  CDuplicateSrc warmup;
  RunPage(warmup, platform::ui::Script().expect_dialog(246).click(2));
  DiskContext.systemDisk = PhysicalDiskNumber{0};

  CWnd owner;
  Probe<CDuplicate> page;
  page.m_pParentWnd = &owner;
  Run run = RunPage(page, platform::ui::Script().expect_dialog(245).expect_enabled(1).click(1));
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.result, IDOK);
  const Shown& s = page.atInit;
  EXPECT_EQ(s.caption, "Quick Duplicate");
  EXPECT_EQ(s.texts, (std::vector<std::string>{"Quick Duplicate", "Quick Duplicate", "OK", "Cancel",
                                                "The source disk is copied onto the destination disk. Everything on the "
                                                "destination disk is overwritten.",
                                                "Source", "Destination"}));
  ASSERT_EQ(s.sourceLines.size(), 3u);
  EXPECT_EQ(s.sourceLines[0], "Disk  No: 0");
  EXPECT_TRUE(s.sourceLines[1].starts_with("Disk  ID: ")) << s.sourceLines[1];
  EXPECT_NE(s.sourceLines[1].find("Source Disk"), std::string::npos);
  EXPECT_EQ(s.sourceLines[2], "Disk  Size: " + GeometrySize(256ull << 20, 512));
  ASSERT_EQ(s.destinationLines.size(), 3u);
  EXPECT_EQ(s.destinationLines[0], "Disk  No: 1");
  EXPECT_NE(s.destinationLines[1].find("Target Disk"), std::string::npos);
  EXPECT_EQ(s.destinationLines[2], "Disk  Size: 502.03 MB");  // 8 cylinders of 4096-byte sectors

  ASSERT_EQ(cloneRun.calls, 1);
  EXPECT_FALSE(cloneRun.duplicateVisible) << "the page closes before the clone page runs";
  EXPECT_EQ(cloneRun.parent, &owner);
  const CloneSettingsRecord& got = cloneRun.settings;
  EXPECT_EQ(got.partitionMode, 0);
  EXPECT_EQ(got.badSectorScan, 0);
  EXPECT_EQ(got.verifyAfterCopy, 0);
  EXPECT_EQ(got.basicDuplication, 1);
  EXPECT_EQ(got.sizingMode, SizingMode::Automatic);
  EXPECT_EQ(got.sourceDisk.value, 0);
  EXPECT_EQ(got.chosenDestinationDisk.value, 1);
  EXPECT_EQ(got.changeSid, 1) << "not a quick duplicate field";
  // The source snapshot goes with it, so the copy reads the chosen disk.
  EXPECT_EQ(got.copySourceDisk.value, 0);
  EXPECT_EQ(got.copySourceLength, GeometryUnits(256ull << 20, 512));
  EXPECT_EQ(got.sourceMapItem, -1);
  EXPECT_EQ(Utf8(got.sourceName), "Disk 0");
  EXPECT_EQ(cloneRun.source.diskNumber.value, 0);
  EXPECT_EQ(cloneRun.destination.diskNumber.value, 1);
  EXPECT_NE(Utf8(got.destinationDescription).find("Target Disk"), std::string::npos);
}

TEST_F(DuplicatePagesTest, QuickDuplicateOkNeedsTwoDifferentListedDisks) {
  CDuplicateSrc warmup;
  RunPage(warmup, platform::ui::Script().expect_dialog(246).click(2));
  struct Case {
    const char* what;
    int32_t source, destination;
    bool hook;
    bool ok;
    size_t sourceLines, destinationLines;
  } cases[] = {
      {"no destination", 0, -1, true, false, 3, 0},
      {"no source", -1, 2, true, false, 0, 3},
      {"source is the destination", 2, 2, true, false, 3, 3},
      {"index past the listed disks", 0, 14, true, false, 3, 0},
      {"index past the table", 40, 1, true, false, 0, 3},
      {"no clone page linked: OK only closes", 0, 2, false, true, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DiskContext.systemDisk = PhysicalDiskNumber{c.source};
    DiskContext.destinationDisk = ListedDiskIndex{c.destination};
    CloneSettings = CloneSettingsRecord{};
    cloneRun = CloneRun{};
    RunClonePage = c.hook ? &RecordClonePage : nullptr;
    Probe<CDuplicate> page;
    platform::ui::Script script;
    script.expect_dialog(245);
    if (c.ok) {
      script.expect_enabled(1).click(1);
    } else {
      script.expect_disabled(1).key("enter").expect_dialog(245).click(4);
    }
    Run run = RunPage(page, script);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, c.ok ? IDOK : IDCANCEL);
    EXPECT_EQ(page.atInit.sourceLines.size(), c.sourceLines);
    EXPECT_EQ(page.atInit.destinationLines.size(), c.destinationLines);
    EXPECT_EQ(cloneRun.calls, 0);
    EXPECT_EQ(CloneSettings.basicDuplication, c.ok ? 1 : 0);
    EXPECT_EQ(CloneSettings.sourceDisk.value, c.ok ? c.source : -1);
  }
}

TEST_F(DuplicatePagesTest, EveryPageTextComesFromTheLanguageFileInBothLanguages) {
  DiskContext.systemDisk = PhysicalDiskNumber{0};
  DiskContext.destinationDisk = ListedDiskIndex{1};
  std::vector<std::string> english;
  for (const char* language : {"English", "Japanese"}) {
    SCOPED_TRACE(language);
    UseLanguage(language);
    // The Japanese run is under WinPE, whose titles are 3 units taller.
    ShellState.winPEMode = std::string(language) == "Japanese";
    Probe<CDuplicateSrc> source;
    ASSERT_EQ(RunPage(source, platform::ui::Script().expect_dialog(246).tick(1027, 0).click(1079)).failure, "");
    Probe<CDuplicateDest> destination;
    ASSERT_EQ(RunPage(destination, platform::ui::Script().expect_dialog(247).tick(1027, 1).click(1079)).failure, "");
    Probe<CDuplicate> duplicate;
    ASSERT_EQ(RunPage(duplicate, platform::ui::Script().expect_dialog(245).click(4)).failure, "");
    std::vector<std::string> shown;
    for (const Shown* s : {&source.atInit, &destination.atInit, &duplicate.atInit}) {
      shown.push_back(s->caption);
      shown.insert(shown.end(), s->texts.begin(), s->texts.end());
      shown.insert(shown.end(), s->headings.begin(), s->headings.end());
      for (const ListRow& row : s->rows) shown.insert(shown.end(), row.texts.begin(), row.texts.begin() + 2);
    }
    for (const std::string& text : shown) {
      EXPECT_EQ(text.find("IDS_"), std::string::npos) << text;
    }
    for (const Shown* s : {&source.atInit, &destination.atInit, &duplicate.atInit}) {
      EXPECT_EQ(s->titleFont.lfHeight, ShellState.winPEMode ? 18 : 15);
      EXPECT_EQ(s->titleFont.lfWeight, 700);
      EXPECT_EQ(s->textFont.lfHeight, 13);
      EXPECT_EQ(s->textFont.lfWeight, 400);
    }
    // Disk rows still start with the four characters the selection looks for.
    EXPECT_EQ(source.atInit.rows[0].texts[0], Utf8(LookupString(u"IDS_Drive")) + "0 ");
    EXPECT_EQ(destination.atInit.rows[0].texts[0], Utf8(LookupString(u"IDS_Drive")) + "0 ");
    if (english.empty()) {
      english = shown;
    } else {
      ASSERT_EQ(shown.size(), english.size());
      EXPECT_NE(shown[0], english[0]);
      EXPECT_NE(shown[1], english[1]);
    }
  }
}

TEST_F(DuplicatePagesTest, SourceListStopsAtTheEndOfTheRowTables) {
  // 30 logical partitions of 1 MiB on the first disk of a new machine: the
  // list and its tables end at row 26, and the disk after it gets no row.
  SimulatedPc many;
  many.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20, .product = "Many Parts"});
  std::vector<Part> parts = {{.start = 2048, .count = 40 * 2048, .mbrType = 0x0F}};
  for (uint64_t i = 0; i < 30; ++i)
    parts.push_back({.start = 4096 + i * 2048, .count = 1024, .mbrType = 0x83, .logical = true});
  many.WriteMbr(0, parts);
  many.AddDisk(DiskSpec{.number = 1, .sizeBytes = 32ull << 20, .product = "Late Disk"});
  many.Boot();
  Probe<CDuplicateSrc> page;
  Run run = RunPage(page, platform::ui::Script().expect_dialog(246).tick(1027, 25).tick(1027, 0).click(1079));
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.result, IDOK);
  ASSERT_EQ(page.atInit.rows.size(), 26u);
  EXPECT_EQ(DiskListRows.rowCount, 26);
  EXPECT_EQ(DiskListRows.rowKind[0], -1);
  for (int r = 1; r < 26; ++r) EXPECT_EQ(DiskListRows.rowKind[r], 0) << r;
  EXPECT_EQ(DiskListRows.rowStart[1], 4096u);
  EXPECT_EQ(DiskListRows.rowStart[25], 4096u + 24 * 2048);
  for (const ListRow& row : page.atInit.rows) EXPECT_EQ(row.texts[1].find("Late Disk"), std::string::npos);
  EXPECT_EQ(DiskContext.systemDisk.value, 0);
}

}  // namespace
