// The stick's own FAT32 and FAT16 formatters on simulated USB disks: the
// volumes pass fsck.fat, are filled to their last cluster with mtools and
// pass again (so the FAT covers every cluster and the FSInfo count is
// right), carry their label in the boot sector and the root, stay inside
// their partition (the sectors after it keep their bytes), and the layout
// rules for the sizes the writer meets.
#include "usbwriter/fat_formatter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/core/little_endian.h"
#include "platform/fs/volume_set.h"
#include "usbwriter/usb_disk.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;

class RecordingPage : public FormatHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return cancel; }
  void SetProgressRange(int64_t maximum) override { range = maximum; }
  void ShowFormatBusy(bool busy) override { busyShown += busy; }
  int64_t position_ = 0;
  int64_t range = 0;
  int busyShown = 0;
  bool cancel = false;
};

// Disk 0 is a system disk the formatter must not touch; disk 1 the stick.
class FatFormatterTest : public ::testing::Test {
 protected:
  void MakeStick(uint64_t bytes, uint64_t cylinders = 0) {
    pc_.AddDisk(DiskSpec{0, 64ull << 20});
    DiskSpec stick{1, bytes};
    stick.bus = platform::machine::BusType::Usb;
    stick.removable = true;
    stick.cylinders = cylinders;
    pc_.AddDisk(stick);
    pc_.WriteBytes(0, 0, disk_fixture::Pattern(1 << 20, 11));
    pc_.Boot();
    ASSERT_NE(OpenUsbDisk(1), nullptr);
    CopyErrorCount = 0;
    ProgressTarget = 0;
  }
  void TearDown() override {
    CloseUsbDisk();
    // The other disk was never written.
    platform::fs::ReleaseAllDrivers();
    std::string pattern = disk_fixture::Pattern(1 << 20, 11);
    EXPECT_EQ(pc_.ReadBytes(0, 0, 1 << 20), std::vector<uint8_t>(pattern.begin(), pattern.end()));
  }
  std::string Extract(uint64_t start, uint64_t count) {
    CloseUsbDisk();
    platform::fs::ReleaseAllDrivers();
    return pc_.ExtractVolume(1, start, count, "vol.img");
  }
  // fsck.fat -n, then one file that takes every free byte, fsck again, and a
  // further byte refused.
  void CheckAndFill(const std::string& volume) {
    std::string out;
    ASSERT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
    ASSERT_EQ(out.find("Free cluster summary"), std::string::npos) << out;
    Shell("MTOOLS_SKIP_CHECK=1 mdir -i " + volume + " :: 2>&1", &out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("([0-9 ]+) bytes free"))) << out;
    std::string digits = std::regex_replace(m[1].str(), std::regex(" "), "");
    uint64_t free = std::stoull(digits);
    ASSERT_GT(free, 0u);
    std::string fill = scratch_.file("fill.bin");
    ASSERT_EQ(Shell("truncate -s " + std::to_string(free) + " " + fill), 0);
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + volume + " " + fill + " ::/FILL.BIN 2>&1", &out), 0) << out;
    ASSERT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
    std::ofstream(scratch_.file("one.bin")) << "x";
    EXPECT_NE(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + volume + " " + scratch_.file("one.bin") + " ::/ONE.BIN 2>&1",
                    &out),
              0)
        << "the volume should be full: " << out;
  }

  SimulatedPc pc_;
  iso_fixture::TempFolder scratch_;
};

TEST_F(FatFormatterTest, Fat32VolumeFillsToItsLastClusterCleanly) {
  MakeStick(160ull << 20);
  // The disk reports whole cylinders of 255 x 63 sectors.
  const uint64_t diskSectors = (160ull << 20) / 512 / 16065 * 16065;
  const uint64_t start = 2048, count = diskSectors - start - 1000;
  pc_.WriteBytes(1, (start + count) * 512, std::string(512 * 1000, 'K'));
  VolumeLabelText = u"  ABCD   ";
  RecordingPage page;
  ASSERT_TRUE(FormatFat32Raw(&page, start, count));
  EXPECT_EQ(CopyErrorCount, 0);
  EXPECT_GT(page.busyShown, 0);
  std::vector<uint8_t> boot = pc_.ReadBytes(1, start * 512, 512);
  EXPECT_EQ(platform::ReadLe32(&boot[28]), start) << "hidden sectors = the partition's start";
  EXPECT_EQ(platform::ReadLe32(&boot[32]), count);
  EXPECT_EQ(page.range, static_cast<int64_t>(platform::ReadLe32(&boot[36])));
  EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 82), "ABCD       ");
  EXPECT_EQ(pc_.ReadBytes(1, (start + count) * 512, 512 * 1000),
            std::vector<uint8_t>(512 * 1000, 'K')) << "written past the partition";
  std::string volume = Extract(start, count);
  std::string out;
  Shell("fatlabel " + volume + " 2>&1", &out);
  EXPECT_EQ(out, "ABCD\n");
  CheckAndFill(volume);
}

TEST_F(FatFormatterTest, Fat16VolumeFillsToItsLastClusterCleanly) {
  MakeStick(64ull << 20);
  const uint64_t start = 63;
  RecordingPage page;
  VolumeLabelText = u"";
  // A limit beyond the disk's end is cut to it.
  ASSERT_TRUE(FormatFat16Raw(&page, start, 0x80, 4ull << 21));
  EXPECT_EQ(CopyErrorCount, 0);
  CloseUsbDisk();
  platform::fs::ReleaseAllDrivers();
  std::string dump;
  ASSERT_EQ(Shell("sfdisk -d " + pc_.Image(1), &dump), 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dump, m, std::regex("start=\\s*(\\d+), size=\\s*(\\d+), type=6, bootable")))
      << dump;
  EXPECT_EQ(std::stoull(m[1]), start);
  uint64_t size = std::stoull(m[2]);
  EXPECT_EQ(start + size, (64ull << 20) / 512 / 16065 * 16065) << "the disk's end as its geometry reports it";
  std::vector<uint8_t> boot = pc_.ReadBytes(1, start * 512, 512);
  EXPECT_EQ(std::string(boot.begin() + 43, boot.begin() + 54), "NO NAME    ");
  EXPECT_EQ(std::string(boot.begin() + 54, boot.begin() + 62), "FAT16   ");
  std::string volume = pc_.ExtractVolume(1, start, size, "vol.img");
  CheckAndFill(volume);
}

TEST(FatLayout, ClusterSizesAndFatsCoverEveryCluster) {
  UsbGeometry g{979, 255, 63};
  struct Case {
    uint64_t total;
    uint32_t spc;
  } cases[] = {
      {15727572, 32},                 // 979 x 255 x 63 stick less its first 63 sectors
      {2097152 + 255 * 63 + 100, 16}, // just above 1 GiB of cylinders
      {2097152, 4},                   // 1 GiB
      {204800, 2},                    // 100 MiB: 4 sectors would give too few clusters
      {40000000, 64},
  };
  for (const Case& c : cases) {
    FatLayout layout;
    ASSERT_TRUE(ComputeFat32Layout(c.total, g, &layout)) << c.total;
    EXPECT_EQ(layout.sectorsPerCluster, c.spc) << c.total;
    EXPECT_GE(layout.clusters, kFat32MinClusters);
    EXPECT_GE(layout.fatSize * 128ull, layout.clusters + 2ull) << "FAT too small for " << c.total;
    EXPECT_LT((layout.fatSize - 1) * 128ull, layout.clusters + 2ull) << "FAT larger than needed";
    EXPECT_LE(kFat32ReservedSectors + 2ull * layout.fatSize + uint64_t(layout.clusters) * layout.sectorsPerCluster,
              c.total);
  }
  FatLayout layout;
  EXPECT_FALSE(ComputeFat32Layout(60000, g, &layout)) << "too small for FAT32";

  // FAT16: the 4 GiB stick's 2,097,152-sector volume keeps 64 sectors per cluster.
  ASSERT_TRUE(ComputeFat16Layout(2097152, &layout));
  EXPECT_EQ(layout.sectorsPerCluster, 64u);
  EXPECT_GE(layout.fatSize * 256ull, layout.clusters + 2ull);
  ASSERT_TRUE(ComputeFat16Layout(100000, &layout));
  EXPECT_GE(layout.clusters, kFat16MinClusters);
  ASSERT_TRUE(ComputeFat16Layout(16ull << 21, &layout));
  EXPECT_EQ(layout.clusters, kFat16MaxClusters) << "cut to what FAT16 can number";
  EXPECT_FALSE(ComputeFat16Layout(3000, &layout));
}

TEST(FatLabel, TrimmedUpperCasedAndPaddedWithBlanks) {
  struct Case {
    const char16_t* text;
    std::string label;
    bool present;
  } cases[] = {
      {u"  ABCD   ", "ABCD       ", true},
      {u"WINPE_AMD64_FRE_X", "WINPE_AMD64", true},
      {u"linux live", "LINUX LIVE ", true},
      {u"a.b:c", "A_B_C      ", true},
      {u"   ", "           ", false},
  };
  for (const Case& c : cases) {
    VolumeLabelText = c.text;
    bool present = true;
    auto label = PrepareVolumeLabel(&present);
    EXPECT_EQ(std::string(label.begin(), label.end()), c.label);
    EXPECT_EQ(present, c.present);
  }
  EXPECT_EQ(PackChsWord(978, 63), (978 & 0xFF) << 8 | 63 | (978 >> 8) << 6);
}

}  // namespace
