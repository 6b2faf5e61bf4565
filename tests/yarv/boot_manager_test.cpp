// The selection page refuses a destination that holds the backup product's
// boot manager: the boot manager's own partition, and the first track of a
// disk that carries it. The boot manager is known by the first bytes of its
// master boot record; these tests stand the suite's own MBR loader in for
// those bytes and record the boot manager's partition in sector 0 as it does
// (start and length at the offset byte 442 names, plus 264 and 268).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "fixture_yarv.h"
#include "restore/yarv_disks.h"
#include "restore/yarv_pages.h"

namespace {

using yarv_fixture::YarvPc;

std::vector<uint8_t> OwnLoader() {
  std::ifstream in(std::string(DRUM_BUILD_DIR) + "/mainapp/clone/boot_code_mbr.bin", std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TemplateScope {
  explicit TemplateScope(std::vector<uint8_t> bytes) { KoztBootTemplate = std::move(bytes); }
  ~TemplateScope() { KoztBootTemplate.clear(); }
};

struct BootManagerCase {
  const char* name;
  uint32_t sector_size;
  bool template_known;  // the program knows the boot manager's bytes
  bool loader_on_disk;  // disk 1's sector 0 starts with them
  uint8_t offset;       // byte 442: where the boot manager's partition is recorded
  bool whole_disk;      // the item is disk 1 rather than its partition D:
  bool refused;
};

class BootManager : public ::testing::TestWithParam<BootManagerCase> {};

TEST_P(BootManager, DestinationsHoldingItAreRefused) {
  const BootManagerCase& c = GetParam();
  const std::vector<uint8_t> loader = OwnLoader();
  ASSERT_GE(loader.size(), 30u);
  TemplateScope scope(c.template_known ? loader : std::vector<uint8_t>());
  YarvPc y(c.sector_size);
  {
    // Offset 190 records at 454 and 458: the first entry's start and length (D:).
    std::fstream image(y.pc().Image(1), std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(image);
    if (c.loader_on_disk) image.write(reinterpret_cast<const char*>(loader.data()), 440);
    image.seekp(442);
    image.put(static_cast<char>(c.offset));
  }
  const std::string source = y.scratch().file("source.img");
  std::ofstream(source, std::ios::binary) << disk_fixture::Pattern(1000 * 512, 3);
  archive_writer::DiskEntry item = yarv_fixture::PartitionOfD(source, YarvPc::kDStart, 1000);
  if (c.whole_disk) {
    item.record.kind = 1;
    item.record.drive_text.clear();
    item.record.first_sector = 0;
  }
  y.Install({}, {}, {}, {item});
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD).click(CRestore1::kOriginal).click(CRestore1::kStart);
  if (c.refused) s.answer("ok").expect_dialog(CRestore1::IDD).click(IDCANCEL);
  else s.expect_dialog(CRestoreProgress::IDD).click(IDCANCEL).answer("yes");
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.log.find("Cannot restore the archive to the drive or partition that has Kozt running.") !=
                std::string::npos,
            c.refused)
      << run.log;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BootManager,
    ::testing::Values(BootManagerCase{"its_partition", 512, true, true, 190, false, true},
                      BootManagerCase{"its_partition_4096", 4096, true, true, 190, false, true},
                      BootManagerCase{"another_partition", 512, true, true, 206, false, false},
                      BootManagerCase{"record_past_the_sector", 512, true, true, 250, false, false},
                      BootManagerCase{"loader_absent", 512, true, false, 190, false, false},
                      BootManagerCase{"bytes_unknown", 512, false, true, 190, false, false},
                      BootManagerCase{"whole_disk_carrying_it", 512, true, true, 190, true, true},
                      BootManagerCase{"whole_disk_without_it", 512, true, false, 190, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
