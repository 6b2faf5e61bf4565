// GetListSelection on a real list control filled the way the source page
// fills its disk list: disk rows "Disk N " with the model text, partition
// rows "  Partition" with "(X:)  TYPE" or a letter-free text, and the
// DiskListRows entries that tie each row to its disk. The listed disks are
// a 512-byte disk, a 4096-byte disk (multiplier 8) and a disk behind a gap in
// the physical numbering, so every division by the multiplier shows.
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"

namespace {

struct Row {
  std::u16string column0;
  std::u16string column1;
  int32_t kind;  // DiskListRows.rowKind
  uint64_t start = 0;
  uint64_t length = 0;
};

std::string Text(const WCHAR* s) { return platform::to_utf8(std::u16string(s)); }

// Rows as the source page lists them for the three disks below.
std::vector<Row> StandardRows() {
  return {
      {u"Disk 0 ", u"ACME Test Disk", -1},
      {u"  Partition", u"(C:)  NTFS", 0, 2048, 1000000},
      {u"  Partition", u"(D:)  FAT32", 0, 1002048, 500000},
      {u"Disk 1 ", u"Big 4K Disk", -2},
      {u"  Partition", u"(E:)  NTFS", 3, 2048, 80000},
      {u"  Partition", u"Special ( FAT16)", 3, 82048, 16000},
      {u"Disk 3 ", u"Third Disk", -3},
  };
}

class GetListSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"IDS_Drive", u"Disk "};
    LanguageTable.languageLineCount = 1;
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
    for (int n = 1; n <= kMaxListedDisks; ++n) DiskContext.listedToPhysical[n] = -1;
    AddDisk(1, 0, 1, 2000000, u"ACME Test Disk");
    AddDisk(2, 1, 8, 8000000, u"Big 4K Disk");
    AddDisk(3, 3, 1, 4000000, u"Third Disk");
    DiskSelection = DiskSelectionRecord{};
    tickedCount = -7;
    partitionDiskNumber = PhysicalDiskNumber{-7};
    RECT rect{0, 0, 500, 400};
    ASSERT_TRUE(list_.Create(u"SysListView32", u"", WS_POPUP | LVS_REPORT, rect, nullptr, 1027));
    list_.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES);
    for (int c = 0; c < 4; ++c) list_.InsertColumn(c, u"", LVCFMT_LEFT, 100);
  }
  void TearDown() override {
    list_.DestroyWindow();
    LanguageTable = LanguageTableRecord{};
    DiskContext = DiskContextRecord{};
    DiskListRows = DiskListRowsRecord{};
  }
  static void AddDisk(int listed, int physical, int multiplier, uint64_t size, const char16_t* model) {
    DiskContext.diskCount = std::max(DiskContext.diskCount, listed);
    DiskContext.listedToPhysical[listed] = physical;
    DiskContext.sectorMultiplier[physical] = multiplier;
    DiskContext.listedDiskSize[listed] = size;
    DiskContext.listedModel[listed] = model;
  }
  void Fill(const std::vector<Row>& rows) {
    list_.DeleteAllItems();
    for (size_t i = 0; i < rows.size(); ++i) {
      const int r = static_cast<int>(i);
      list_.InsertItem(r, rows[i].column0.c_str());
      list_.SetItemText(r, 1, rows[i].column1.c_str());
      if (r < kMaxListRows) {
        DiskListRows.rowKind[r] = rows[i].kind;
        DiskListRows.rowStart[r] = rows[i].start;
        DiskListRows.rowLength[r] = rows[i].length;
      }
    }
    DiskListRows.rowCount = static_cast<int32_t>(std::min<size_t>(rows.size(), kMaxListRows));
  }
  void Tick(std::initializer_list<int> rows) {
    for (int r : rows) ASSERT_TRUE(list_.SetCheck(r, TRUE)) << r;
  }
  CListCtrl list_;
};

TEST_F(GetListSelectionTest, NothingTickedLeavesTheRecordAsItWas) {
  Fill(StandardRows());
  DiskSelection.diskNumber = PhysicalDiskNumber{42};
  DiskSelection.kind = 3;
  DiskSelection.driveLetter = u'Q';
  DiskSelection.sectorCount = 99;
  const DiskSelectionRecord before = DiskSelection;
  EXPECT_EQ(GetListSelection(list_, -1), 1);
  EXPECT_EQ(tickedCount, 0);
  EXPECT_EQ(std::memcmp(&before, &DiskSelection, sizeof before), 0);
  EXPECT_EQ(partitionDiskNumber.value, -7);
}

TEST_F(GetListSelectionTest, WholeDiskChoicesUseTheListedDiskAndItsNativeSectors) {
  struct Case {
    const char* what;
    int row;
    bool forced;  // passed as forcedRow instead of ticked
    int32_t disk;
    const char* model;
    uint64_t sectors;
  } cases[] = {
      {"512-byte disk", 0, false, 0, "ACME Test Disk", 2000000},
      {"4096-byte disk counts native sectors", 3, false, 1, "Big 4K Disk", 1000000},
      {"disk behind a numbering gap", 6, false, 3, "Third Disk", 4000000},
      {"forced row counts without its tick", 3, true, 1, "Big 4K Disk", 1000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fill(StandardRows());
    DiskSelection = DiskSelectionRecord{};
    DiskSelection.startSector = 777;
    if (!c.forced) Tick({c.row});
    EXPECT_EQ(GetListSelection(list_, c.forced ? c.row : -1), 1);
    EXPECT_EQ(tickedCount, 1);
    EXPECT_EQ(DiskSelection.kind, kSelectionWholeDisk);
    EXPECT_EQ(DiskSelection.diskNumber.value, c.disk);
    EXPECT_EQ(Text(DiskSelection.model), c.model);
    EXPECT_EQ(DiskSelection.startSector, 0u);
    EXPECT_EQ(DiskSelection.sectorCount, c.sectors);
  }
}

TEST_F(GetListSelectionTest, PartitionRowsTakeLetterFileSystemAndExtentFromTheirDisk) {
  struct Case {
    const char* what;
    std::u16string column1;
    int32_t kind;  // row of its disk: 0 (512-byte) or 3 (4096-byte)
    char letter;
    const char* fileSystem;
    int counted;
    int32_t diskOfPartition;
    uint64_t start, count;
  } cases[] = {
      {"lettered NTFS row", u"(C:)  NTFS", 0, 'C', "NTFS", 1, 0, 2048, 1000000},
      {"FAT32 at the start", u"FAT32  (F:)", 0, 'F', "FAT32", 1, 0, 2048, 1000000},
      {"FAT but not FAT32", u"FAT16 (G:)", 0, 'G', "FAT", 1, 0, 2048, 1000000},
      {"FAT alone", u"FAT", 0, ' ', "FAT", 1, 0, 2048, 1000000},
      {"no colon gives a blank letter", u"Special ( FAT16)", 3, ' ', "NTFS", 1, 1, 256, 125000},
      {"colon first: no letter before it", u":odd", 3, ' ', "NTFS", 1, 1, 256, 125000},
      {"RAW is taken but not counted", u"RAW (H:)", 3, 'H', "RAW", 0, 1, 256, 125000},
      {"4096-byte disk divides by 8", u"(E:)  NTFS", 3, 'E', "NTFS", 1, 1, 256, 125000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Row> rows = StandardRows();
    rows[4] = {u"  Partition", c.column1, c.kind, 2048, 1000000};
    Fill(rows);
    DiskSelection = DiskSelectionRecord{};
    DiskSelection.diskNumber = PhysicalDiskNumber{5};
    Tick({4});
    EXPECT_EQ(GetListSelection(list_, -1), 1);
    EXPECT_EQ(tickedCount, c.counted);
    EXPECT_EQ(DiskSelection.kind, kSelectionPartition);
    EXPECT_EQ(DiskSelection.driveLetter, static_cast<WCHAR>(c.letter));
    EXPECT_EQ(Text(DiskSelection.fileSystemName), c.fileSystem);
    EXPECT_EQ(partitionDiskNumber.value, c.diskOfPartition);
    EXPECT_EQ(DiskSelection.startSector, c.start);
    EXPECT_EQ(DiskSelection.sectorCount, c.count);
    // A partition choice never writes the disk number.
    EXPECT_EQ(DiskSelection.diskNumber.value, 5);
  }
}

TEST_F(GetListSelectionTest, DiskRowEndsTheScanAndTheLastPartitionRowWinsOtherwise) {
  struct Case {
    const char* what;
    std::initializer_list<int> ticked;
    int counted;
    int32_t kind;
    char letter;      // partition choices
    int32_t disk;     // whole-disk choices: diskNumber
  } cases[] = {
      {"disk row above a partition of another disk", {0, 4}, 1, kSelectionWholeDisk, 0, 0},
      {"partition above a later disk row: both counted, disk wins", {1, 3}, 2, kSelectionWholeDisk, 'C', 1},
      {"only partition rows: the last fills, all counted", {1, 2, 4}, 3, kSelectionPartition, 'E', 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fill(StandardRows());
    DiskSelection = DiskSelectionRecord{};
    Tick(c.ticked);
    EXPECT_EQ(GetListSelection(list_, -1), 1);
    EXPECT_EQ(tickedCount, c.counted);
    EXPECT_EQ(DiskSelection.kind, c.kind);
    if (c.kind == kSelectionWholeDisk) {
      EXPECT_EQ(DiskSelection.diskNumber.value, c.disk);
    } else {
      EXPECT_EQ(DiskSelection.driveLetter, static_cast<WCHAR>(c.letter));
      EXPECT_EQ(DiskSelection.diskNumber.value, 0);  // its start value, never written by a partition row
      EXPECT_EQ(partitionDiskNumber.value, 1);
    }
  }
}

TEST_F(GetListSelectionTest, ALongModelIsCutTo31CharactersAndTerminated) {
  DiskContext.listedModel[1] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  Fill(StandardRows());
  std::fill(std::begin(DiskSelection.model), std::end(DiskSelection.model), u'#');
  Tick({0});
  GetListSelection(list_, -1);
  EXPECT_EQ(Text(DiskSelection.model), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(DiskSelection.model[31], 0);
}

TEST_F(GetListSelectionTest, RowsBeyondTheTablesAndBrokenLinksAreNeverFollowed) {
  // 30 rows: disk row 0 and 29 partition rows. Rows 26 to 29 have no table
  // entry; the list shows them, the selection does not read them.
  std::vector<Row> rows = {{u"Disk 0 ", u"ACME Test Disk", -1}};
  for (int i = 1; i < 30; ++i) rows.push_back({u"  Partition", u"(C:)  NTFS", 0, uint64_t(i) * 4096, 2048});
  Fill(rows);
  Tick({27, 29});
  const DiskSelectionRecord before = DiskSelection;
  EXPECT_EQ(GetListSelection(list_, 28), 1);
  EXPECT_EQ(tickedCount, 0);
  EXPECT_EQ(std::memcmp(&before, &DiskSelection, sizeof before), 0);

  struct Case {
    const char* what;
    int32_t diskRowKind;       // rowKind of row 0
    int32_t partitionRowKind;  // rowKind of row 1
    int tick;
  } cases[] = {
      {"partition row pointing past the tables", -1, 400, 1},
      {"partition row pointing at a negative row", -1, -300, 1},
      {"partition row pointing at another partition row", -1, 1, 1},
      {"disk row of a listed number past the table", -16, 0, 0},
      {"disk row of a listed number without a disk", -9, 0, 0},
      {"partition of a disk row of a number without a disk", -9, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fill({{u"Disk 0 ", u"ACME Test Disk", c.diskRowKind}, {u"  Partition", u"(C:)  NTFS", c.partitionRowKind, 2048, 4096}});
    list_.SetCheck(0, FALSE);
    list_.SetCheck(1, FALSE);
    Tick({c.tick});
    DiskSelection = DiskSelectionRecord{};
    EXPECT_EQ(GetListSelection(list_, -1), 1);
    EXPECT_EQ(tickedCount, 0);
    EXPECT_EQ(DiskSelection.kind, 0);
  }
}

TEST_F(GetListSelectionTest, JapaneseDiskRowsAreRecognisedByTheirOwnPrefix) {
  LanguageTable.strings = {u"IDS_Drive", u"ディスク "};
  Fill({{u"ディスク 1 ", u"Big 4K Disk", -2}, {u"Disk 0 ", u"(C:)  NTFS", 0, 2048, 800}});
  // "Disk 0 " is no disk row in Japanese: it counts as a partition of row 0's disk.
  Tick({1});
  GetListSelection(list_, -1);
  EXPECT_EQ(tickedCount, 1);
  EXPECT_EQ(DiskSelection.kind, kSelectionPartition);
  EXPECT_EQ(partitionDiskNumber.value, 1);
  EXPECT_EQ(DiskSelection.startSector, 256u);
  Tick({0});
  GetListSelection(list_, -1);
  EXPECT_EQ(tickedCount, 1);
  EXPECT_EQ(DiskSelection.kind, kSelectionWholeDisk);
  EXPECT_EQ(DiskSelection.diskNumber.value, 1);
  EXPECT_EQ(DiskSelection.sectorCount, 1000000u);
}

TEST(DiskListImagesTest, FourImagesWhateverLoadsAndANewListReplacesTheOld) {
  // No bitmap resources are linked here: every image is the blank stand-in,
  // and the numbering of the four images still holds.
  CImageList* first = CreateDiskListImages();
  ASSERT_EQ(first, DiskListImages);
  EXPECT_EQ(first->GetImageCount(), 4);
  const QImage* blank = platform::ui::ImageListImage(first->GetSafeHandle(), kImageDisabledPartitionRow);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(blank->size(), QSize(16, 16));
  EXPECT_EQ(blank->pixel(8, 8) & 0xFFFFFF, 0xFFFFFFu);
  CImageList* second = CreateDiskListImages();
  EXPECT_EQ(second, DiskListImages);
  EXPECT_EQ(second->GetImageCount(), 4);
}

}  // namespace
