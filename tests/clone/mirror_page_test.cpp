// The mirror progress page run headless: an active FAT16 partition of one
// disk copied sector for sector onto the larger second partition of another
// disk whose first partition is active. Checked with cmp over the copied
// range, sfdisk for the fixed entry (the source's length and type, the boot
// flag moved after the question) and fsck.fat on the copy; the destination
// disk's other partition keeps its bytes. A destination partition smaller
// than the source is refused without a write.
#include "mainapp/clone/mirror_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "clone/clone_fixture.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/fixture_images.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kSourceStart = 2048, kSourceCount = 60 * 2048;
constexpr uint64_t kOtherStart = 2048, kOtherCount = 40 * 2048;
constexpr uint64_t kDestinationStart = 42 * 2048;

class MirrorPageTest : public clone_fixture::ClonePcTest {
 protected:
  void SetUp() override {
    ClonePcTest::SetUp();
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128 * kMiB, .product = "Source Disk", .serial = "S0"});
    Part source{.start = kSourceStart, .count = kSourceCount, .mbrType = 0x06, .active = true, .fs = "fat16",
                .label = "SOURCE"};
    source.files = {{"/DATA.BIN", disk_fixture::Pattern(3000000, 7)}};
    pc_.WriteMbr(0, {source});
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 256 * kMiB, .product = "Target Disk", .serial = "S1"});
    Part other{.start = kOtherStart, .count = kOtherCount, .mbrType = 0x06, .active = true, .fs = "fat16",
               .label = "OTHER"};
    other.files = {{"/KEEP.TXT", "keep me\n"}};
    Part target{.start = kDestinationStart, .count = 100 * 2048, .mbrType = 0x07, .fs = "fat16", .label = "TARGET"};
    pc_.WriteMbr(1, {other, target});
    Start();
    DetectSystemAndSpecialDisks();
    // What the clone pages leave for a partition copy: C: (disk 0) onto E:
    // (the second partition of disk 1).
    CloneSettings.partitionMode = 1;
    CloneSettings.basicDuplication = 0;
    CloneSettings.sizingMode = SizingMode::SameSize;
    CloneSettings.copySourceDisk = ListedDiskIndex{0};
    CloneSettings.chosenDestinationDisk = ListedDiskIndex{1};
    CloneSettings.copySourceStart = kSourceStart;
    CloneSettings.copySourceLength = kSourceCount;
    CloneSettings.copySourceFsCode = 6;
    CloneSettings.sourceActive = 1;
    CloneSettings.sourceDescription = u"Disk 0: Partition (C:) FAT";
    CloneSettings.destinationDescription = u"Disk 1: Partition (E:) FAT";
    DestinationSelection = DiskSelectionRecord{};
    DestinationSelection.diskNumber = PhysicalDiskNumber{1};
    DestinationSelection.kind = kSelectionPartition;
    DestinationSelection.driveLetter = u'E';
    DestinationSelection.startSector = kDestinationStart;
    DestinationSelection.sectorCount = 100 * 2048;
  }
  std::string Hash(int n, uint64_t start, uint64_t count) {
    std::string out;
    Shell("dd if='" + pc_.Image(n) + "' bs=512 skip=" + std::to_string(start) + " count=" + std::to_string(count) +
              " status=none | sha256sum",
          &out);
    return out;
  }
};

TEST_F(MirrorPageTest, CopiesThePartitionFixesItsEntryAndMakesItActive) {
  const std::string other = Hash(1, kOtherStart, kOtherCount);
  platform::ui::Script script;
  script.expect_dialog(CMirrorProgress::IDD)
      .expect_text(1017, "Disk 0: Partition (C:) FAT")
      .expect_text(1033, "60 MB")
      .click(CMirrorProgress::kStart)
      .answer("yes")   // everything on E: is overwritten
      .answer("yes")   // another partition is active: make the copy active
      .expect_dialog(138)
      .expect_text(1024, "Completed")
      .key("escape");
  CMirrorProgress page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(Shell("cmp -n " + std::to_string(kSourceCount * 512) + " -i " + std::to_string(kSourceStart * 512) + ":" +
                  std::to_string(kDestinationStart * 512) + " " + pc_.Image(0) + " " + pc_.Image(1)),
            0);
  std::string out;
  Shell("sfdisk -d " + pc_.Image(1), &out);
  EXPECT_NE(out.find("start=        2048, size=       81920, type=6\n"), std::string::npos) << out;
  EXPECT_NE(out.find("start=       86016, size=      122880, type=6, bootable"), std::string::npos) << out;
  EXPECT_EQ(Hash(1, kOtherStart, kOtherCount), other);
  const std::string copy = pc_.ExtractVolume(1, kDestinationStart, kSourceCount, "mirror-copy.img");
  EXPECT_EQ(Shell("fsck.fat -n " + copy, &out), 0) << out;
  Shell("mtype -i " + copy + " ::/DATA.BIN", &out);
  EXPECT_TRUE(out == disk_fixture::Pattern(3000000, 7)) << "DATA.BIN differs";
}

TEST_F(MirrorPageTest, ADestinationSmallerThanTheSourceIsNotWritten) {
  DestinationSelection.sectorCount = kSourceCount - 2048;
  const std::string target = Hash(1, 0, 256 * 2048);
  platform::ui::Script script;
  script.expect_dialog(CMirrorProgress::IDD).click(CMirrorProgress::kStart).answer("yes").expect_dialog(138);
  script.expect_text(1024, "Aborted").key("escape");
  CMirrorProgress page;
  auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(Hash(1, 0, 256 * 2048), target);
}

// The page in both languages, for a person to look at.
TEST_F(MirrorPageTest, PageInEnglishAndJapanese) {
  for (const char* language : {"English", "Japanese"}) {
    ShellState.languageName = platform::to_utf16(language);
    ASSERT_TRUE(LoadLanguageStrings());
    const std::string name = std::string("mirror-") + language + ".png";
    platform::ui::Script script;
    script.expect_dialog(CMirrorProgress::IDD).screenshot(name).click(2).answer("yes");
    CMirrorProgress page;
    const std::string folder = ::testing::TempDir();
    auto run = disk_fixture::RunHeadless(script, [&] { page.DoModal(); },
                                         [&](platform::ui::DriverOptions& o) { o.screenshots_dir = folder; });
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + name));
  }
}

}  // namespace
