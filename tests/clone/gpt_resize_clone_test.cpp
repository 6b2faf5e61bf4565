// A GPT disk whose last partition runs to the last usable sector, cloned
// whole onto an empty disk smaller than itself (yet large enough for the used
// space) and onto one larger than itself, through the wizard's pages and by
// one-click copy. A GPT disk ends with its backup entries and header, which
// no partition may cover: sgdisk -v finds no problem on the copy, and every
// partition sfdisk reads ends at or before sfdisk's last-lba. The copied
// last volume passes fsck.fat and holds the source's file (mtype).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "disk/fixture_images.h"
#include "mainapp/clone/clone_commands.h"
#include "mainapp/clone/destination_page.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/clone/source_page.h"
#include "platform/fs/volume_set.h"
#include "platform/ui/headless_driver.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

constexpr uint64_t kCylinder = 255ull * 63 * 512;  // whole cylinders: the listed size is the whole disk
constexpr uint64_t kSourceBytes = 24 * kCylinder;
const std::string kFile = disk_fixture::Pattern(3000000, 77);

struct Row {
  uint64_t start = 0, size = 0;
};
struct GptTable {
  uint64_t lastLba = 0;
  std::vector<Row> rows;
  std::string text;
};
GptTable ReadGpt(const std::string& image) {
  GptTable table;
  Shell("sfdisk -d '" + image + "'", &table.text);
  std::smatch m;
  if (std::regex_search(table.text, m, std::regex("last-lba: (\\d+)"))) table.lastLba = std::stoull(m[1]);
  std::regex row("start=\\s*(\\d+), size=\\s*(\\d+)");
  for (std::sregex_iterator it(table.text.begin(), table.text.end(), row), end; it != end; ++it)
    table.rows.push_back({std::stoull((*it)[1]), std::stoull((*it)[2])});
  return table;
}

struct Case {
  const char* name;
  bool wizard;              // the wizard's pages, else one-click copy
  uint64_t destinationBytes;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class GptResizeCloneTest : public clone_fixture::ClonePcTest, public ::testing::WithParamInterface<Case> {
 protected:
  void TearDown() override {
    RunDestinationPage = nullptr;
    ClonePcTest::TearDown();
  }
};

TEST_P(GptResizeCloneTest, TheCopyKeepsEveryPartitionInsideTheUsableSectors) {
  const Case& c = GetParam();
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = kSourceBytes, .product = "Gpt Source", .serial = "G0"});
  const uint64_t lastUsable = kSourceBytes / 512 - 34;
  Part first{.start = 2048, .count = 32 * 2048, .name = u"Basic data partition", .fs = "fat16", .label = "ONE"};
  // The last partition ends on the source's last usable sector.
  Part last{.start = 34 * 2048, .count = lastUsable + 1 - 34 * 2048, .name = u"Basic data partition",
            .fs = "fat32", .label = "LAST"};
  last.files = {{"/DATA/FILE.BIN", kFile}};
  pc_.WriteGpt(0, {first, last});
  pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = c.destinationBytes, .product = "Empty Disk", .serial = "E1"});
  std::string out;
  ASSERT_EQ(Shell("sgdisk -v '" + pc_.Image(0) + "'", &out), 0) << out;
  ASSERT_EQ(ReadGpt(pc_.Image(0)).rows.back().start + ReadGpt(pc_.Image(0)).rows.back().size - 1, lastUsable);
  std::filesystem::create_directories(pc_.folder() + "/program");
  Start();
  RegisterCloneCommands();
  const std::string source = ImageHash(0);

  platform::ui::Script script;
  if (c.wizard) {
    script.expect_dialog(130).tick(1027, 0).click(1007).expect_dialog(134).tick_text(1027, "Disk 1:");
    script.click(1007).expect_dialog(136).click(1007);
  }
  script.expect_dialog(191).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed").key("escape");
  auto run = disk_fixture::RunHeadless(script, [&] {
    if (c.wizard) {
      CMirrorSource page;
      page.DoModal();
    } else {
      OnOneClickCopy(nullptr);
    }
  });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(CloneSettings.sourceIsGpt, 1);
  platform::fs::ReleaseAllDrivers();
  EXPECT_EQ(ImageHash(0), source) << "the source is never written";

  const std::string image = pc_.Image(1);
  EXPECT_EQ(Shell("sgdisk -v '" + image + "'", &out), 0) << out;
  EXPECT_NE(out.find("No problems found"), std::string::npos) << out;
  const GptTable gpt = ReadGpt(image);
  ASSERT_EQ(gpt.rows.size(), 2u) << gpt.text;
  EXPECT_EQ(gpt.lastLba, c.destinationBytes / 512 - 34) << gpt.text;
  for (const Row& row : gpt.rows) EXPECT_LE(row.start + row.size - 1, gpt.lastLba) << gpt.text;
  const Row& copied = gpt.rows.back();
  const std::string volume = pc_.ExtractVolume(1, copied.start, copied.size, "last-copy.img");
  EXPECT_EQ(Shell("fsck.fat -n '" + volume + "'", &out), 0) << out;
  Shell("MTOOLS_SKIP_CHECK=1 mtype -i '" + volume + "' ::/DATA/FILE.BIN", &out);
  EXPECT_TRUE(out == kFile) << "FILE.BIN differs";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GptResizeCloneTest,
    ::testing::Values(Case{"WizardOntoSmaller", true, 14 * kCylinder}, Case{"WizardOntoLarger", true, 40 * kCylinder},
                      Case{"OneClickOntoSmaller", false, 14 * kCylinder},
                      Case{"OneClickOntoLarger", false, 40 * kCylinder}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
