// The create wizard's rules without a disk: the file systems offered by size
// and the prefix selection, and the bar preview of a new length; and, on a
// simulated disk, a free item smaller than the 16 MiB minimum.
#include "mainapp/partition/create_wizard.h"

#include <gtest/gtest.h>

#include "fixture_partition.h"
#include "mainapp/partition/partition_manager_dialog.h"
#include "mainapp/partition/partition_state.h"
#include "platform/core/text.h"
#include "platform/ui/headless_driver.h"
#include "program_support/shell_state.h"

namespace {

// A dialog that holds only the file-system list of the format pages.
class ListHost : public CDialog {
 public:
  ListHost() : CDialog(242) {}
  std::vector<std::string> entries;
  std::string selected;
  int64_t sizeMb = 0;
  CString name;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030));
    FillFileSystemList(*list, sizeMb, name);
    for (int i = 0; i < list->GetCount(); ++i) {
      CString text;
      list->GetLBText(i, text);
      entries.push_back(platform::to_utf8(text.GetString()));
    }
    if (list->GetCurSel() >= 0) {
      CString text;
      list->GetLBText(list->GetCurSel(), text);
      selected = platform::to_utf8(text.GetString());
    }
    EndDialog(IDOK);
    return TRUE;
  }
};

TEST(PartitionWizardTest, FileSystemsOfferedBySize) {
  struct Case {
    int64_t mb;
    const char16_t* name;
    std::vector<std::string> entries;
    std::string selected;
  };
  const Case cases[] = {
      {40000, u"", {"NTFS"}, "NTFS"},
      {10000, u"FAT32", {"NTFS", "FAT32"}, "FAT32"},
      {3000, u"NTFS", {"NTFS", "FAT32", "FAT"}, "NTFS"},
      // "FAT" is a prefix of "FAT32", which comes first.
      {3000, u"FAT", {"NTFS", "FAT32", "FAT"}, "FAT32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mb);
    ListHost host;
    host.sizeMb = c.mb;
    host.name = CString(c.name);
    platform::ui::HeadlessSession session(platform::ui::Script{}, {});
    host.DoModal();
    EXPECT_EQ(host.entries, c.entries);
    EXPECT_EQ(host.selected, c.selected);
  }
}

TEST(PartitionWizardTest, PreviewMovesLaterItemsAndTakesFromTheFreeSpaceBehind) {
  auto& s = PartitionManagerState;
  s = PartitionManagerStateRecord{};
  auto part = [](uint64_t start, uint64_t length) { return DiskMapItem{0, start, length, 7, 1, 44, 'C'}; };
  auto gap = [](uint64_t start, uint64_t length) { return DiskMapItem{-1, start, length, -1, 1, 44, -1}; };
  s.diskMap[0] = part(2048, 100000);
  s.diskMap[1] = gap(102048, 50000);
  s.diskMap[2] = part(152048, 100000);
  s.diskMap[3] = gap(252048, 40000);
  s.diskMapCount = 4;
  s.cursorItem = 0;
  PreviewNewLength(130000);  // 30000 more: the gap behind gives them up
  EXPECT_EQ(s.newSizeSectors, 130000);
  EXPECT_EQ(s.diskMap[0].length, 130000u);
  EXPECT_EQ(s.diskMap[1].start, 132048u);
  EXPECT_EQ(s.diskMap[1].length, 20000u);
  EXPECT_EQ(s.diskMap[2].start, 152048u);
  // 70000 more: the 20000-sector gap keeps 2048 and passes on 52048, which
  // moves the next partition and swallows the last gap (it leaves the map).
  PreviewNewLength(200000);
  EXPECT_EQ(s.diskMap[1].length, 2048u);
  EXPECT_EQ(s.diskMap[2].start, 152048u + 52048);
  EXPECT_EQ(s.diskMapCount, 3);
  s = PartitionManagerStateRecord{};
}

// A free item of 12 MiB: more than a gap needs to show, less than the 16 MiB
// minimum of a new partition. The wizard's bounds stay in order (minimum at
// most the maximum) and the partition takes the whole item.
TEST(PartitionWizardTest, SmallFreeItemGivesBoundsInOrder) {
  disk_fixture::SimulatedPc pc;
  pc.AddDisk(disk_fixture::DiskSpec{.number = 0, .sizeBytes = 128ull << 20, .product = "Small Gap"});
  pc.WriteMbr(0, {{.start = 2048, .count = 20 * 2048, .mbrType = 0x07},
                  {.start = 33 * 2048, .count = 20 * 2048, .mbrType = 0x07}});
  partition_fixture::InstallLanguageFiles(pc);
  partition_fixture::OpenManagerOn(pc);
  ShellState.messageCaption = u"Drummetworks";
  ASSERT_TRUE(partition_fixture::UseLanguage("English"));
  const int item = partition_fixture::FreeItem(false, 0);
  ASSERT_EQ(PartitionManagerState.diskMap[item].length, 12u * 2048);
  CCreatePart1 manager;
  CPoint at;
  int64_t minSeen = -1, maxSeen = -1;
  {
    // First learn where the item lies on the bar.
    platform::ui::Script probe;
    probe.expect_dialog(233).click(2);
    platform::ui::HeadlessSession session(probe, {});
    manager.DoModal();
    at = manager.ItemPoint(item);
  }
  CCreatePart1 second;
  platform::ui::Script script;
  script.expect_dialog(233)
      .rclick_at(CCreatePart1::kBarFrame, at.x, at.y)
      .menu(CCreatePart1::kNewPartition)
      .expect_dialog(236)
      .expect_text(1136, "12")
      .click(2)
      .expect_dialog(233)
      .click(2);
  {
    platform::ui::HeadlessSession session(script, {});
    second.DoModal();
    EXPECT_TRUE(session.driver().finished());
  }
  minSeen = PartitionManagerState.minSectors;
  maxSeen = PartitionManagerState.maxSectors;
  EXPECT_EQ(maxSeen, 12 * 2048);
  EXPECT_LE(minSeen, maxSeen);
  ShellState = ShellStateRecord{};
}

}  // namespace
