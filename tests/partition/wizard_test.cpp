// The create wizard's rules without a disk: the file systems offered by size
// and the prefix selection, and the bar preview of a new length; and, on a
// simulated disk, a free item smaller than the 16 MiB minimum.
#include "mainapp/partition/create_wizard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
      // Too small for FAT32's 65525 clusters even of one 512-byte sector.
      {30, u"FAT32", {"NTFS", "FAT"}, ""},
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

// FAT32 is offered only where it reaches its 65525 clusters: a FAT32 needs
// a cluster of at least one sector, so on 4096-byte sectors it needs eight
// times the room. The oracle is mkfs.fat itself: the cluster count of the
// FAT32 it makes at the size (with one sector per cluster), read from its
// boot sector. Offering FAT32 where mkfs.fat cannot reach the count would
// make a volume that every reader takes for FAT16; near the limit the offer
// keeps a margin of one MB (a logical drive's boot record).
TEST(PartitionWizardTest, Fat32IsOfferedOnlyWhereItReachesItsClusterCount) {
  struct Case {
    uint32_t sectorBytes;
    int64_t mb;
    bool offered;
  };
  const Case cases[] = {{512, 32, false},   {512, 34, true},    {512, 150, true},  {4096, 150, false},
                        {4096, 256, false}, {4096, 258, true},  {4096, 300, true}, {4096, 34, false}};
  const std::string image = ::testing::TempDir() + "fat32-fits.img";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sectorBytes) + " " + std::to_string(c.mb) + " MB");
    EXPECT_EQ(Fat32Fits(c.mb, c.sectorBytes), c.offered);
    std::filesystem::remove(image);
    ASSERT_EQ(disk_fixture::Shell("truncate -s " + std::to_string(c.mb) + "M " + image), 0);
    ASSERT_EQ(disk_fixture::Shell("mkfs.fat -F 32 -s 1 -S " + std::to_string(c.sectorBytes) + " " + image), 0);
    std::ifstream in(image, std::ios::binary);
    std::vector<unsigned char> b(512);
    in.read(reinterpret_cast<char*>(b.data()), 512);
    auto le = [&](int at, int n) {
      uint32_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
      return v;
    };
    const uint32_t total = le(19, 2) ? le(19, 2) : le(32, 4), fat = le(22, 2) ? le(22, 2) : le(36, 4);
    const uint32_t clusters = (total - le(14, 2) - b[16] * fat) / b[13];
    EXPECT_EQ(clusters >= 65525, c.offered) << clusters << " clusters";
  }
  std::filesystem::remove(image);
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
