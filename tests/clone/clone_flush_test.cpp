// The basic clone's files are not written through: one-click copy of a disk
// with an NTFS and a FAT32 partition of many small files flushes the
// destination's image a few times for the whole run, not once per file, and
// nothing written to it is left unflushed when the page says the copy
// completed (checked by standing in for the C library's flush calls); the
// copies are checked with ntfscat and mtype. A flush that fails is a failed
// copy, never "Completed".
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "disk/disk_context.h"
#include "disk/fixture_images.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/records/clone_run_state.h"
#include "tests/support/flush_record.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

constexpr uint64_t kMiB = 1ull << 20;
constexpr int kNtfsFiles = 150;
constexpr int kFatFiles = 80;

// ntfscp, which makes the NTFS source, makes no folders: those files sit at
// the root; the FAT ones in folders of 50.
std::string NtfsName(int n) { return "/FILE" + std::to_string(n) + ".BIN"; }
std::string FatName(int n) { return "/F" + std::to_string(n / 50) + "/FILE" + std::to_string(n) + ".BIN"; }

class CloneFlushTest : public clone_fixture::ClonePcTest {
 protected:
  void MakeSource() {
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 400 * kMiB, .product = "Empty Disk", .serial = "E0"});
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 300 * kMiB, .product = "System Disk", .serial = "S1"});
    Part system{.start = 2048, .count = 120 * 2048, .mbrType = 0x07, .active = true, .fs = "ntfs", .label = "SYSTEM"};
    for (int n = 0; n < kNtfsFiles; ++n) system.files.push_back({NtfsName(n), disk_fixture::Pattern(3000 + 97 * n, n)});
    Part data{.start = 122 * 2048, .count = 120 * 2048, .mbrType = 0x0C, .fs = "fat32", .label = "DATA"};
    for (int n = 0; n < kFatFiles; ++n) data.files.push_back({FatName(n), disk_fixture::Pattern(5000 + 89 * n, 500 + n)});
    pc_.WriteMbr(1, {system, data}, 0x5EED4321);
    Start();
  }
  // The partitions of the destination as sfdisk reads them: start, size.
  std::vector<std::pair<uint64_t, uint64_t>> DestinationRows() {
    std::string out;
    Shell("sfdisk -d " + pc_.Image(0), &out);
    std::regex row("start=\\s*(\\d+), size=\\s*(\\d+)");
    std::vector<std::pair<uint64_t, uint64_t>> rows;
    for (std::sregex_iterator it(out.begin(), out.end(), row), end; it != end; ++it)
      rows.emplace_back(std::stoull((*it)[1]), std::stoull((*it)[2]));
    return rows;
  }
};

TEST_F(CloneFlushTest, FlushesTheDestinationOnceNotPerFileAndBeforeItSaysCompleted) {
  MakeSource();
  platform::ui::Script script;
  script.expect_dialog(191).click(1011).answer("ok").expect_dialog(138);
  script.expect_text(1024, "Completed").key("escape");
  flush_record::start(pc_.Image(0));
  auto run = disk_fixture::RunHeadless(script, [] { OnOneClickCopy(nullptr); });
  flush_record::on = false;
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(DiskContext.ioErrorCount, 0);
  EXPECT_GT(flush_record::writes, kNtfsFiles + kFatFiles) << "the copy wrote little";
  EXPECT_GE(flush_record::flushes, 2) << "each destination volume is flushed";
  // The table, the format of each volume, each volume's copy, the boot code:
  // a handful, whatever the number of files (230 here).
  EXPECT_LE(flush_record::flushes, 30) << "a flush per file: " << flush_record::writes << " writes";
  EXPECT_EQ(flush_record::writes_since_flush, 0) << "writes after the last flush";

  const auto rows = DestinationRows();
  ASSERT_EQ(rows.size(), 2u);
  const std::string system = pc_.ExtractVolume(0, rows[0].first, rows[0].second, "flush-system.img");
  const std::string data = pc_.ExtractVolume(0, rows[1].first, rows[1].second, "flush-data.img");
  std::string out;
  EXPECT_EQ(Shell("ntfsfix -n " + system, &out), 0) << out;
  EXPECT_EQ(Shell("fsck.fat -n " + data, &out), 0) << out;
  for (int n : {0, 1, 77, kNtfsFiles - 1}) {
    Shell("ntfscat " + system + " '" + NtfsName(n) + "'", &out);
    EXPECT_TRUE(out == disk_fixture::Pattern(3000 + 97 * n, n)) << NtfsName(n) << " differs on the NTFS copy";
  }
  for (int n : {0, 42, kFatFiles - 1}) {
    Shell("mtype -i " + data + " '::" + FatName(n) + "'", &out);
    EXPECT_TRUE(out == disk_fixture::Pattern(5000 + 89 * n, 500 + n)) << FatName(n) << " differs on the FAT copy";
  }
}

TEST_F(CloneFlushTest, AFailedFlushIsAFailedCopy) {
  MakeSource();
  platform::ui::Script script;
  script.expect_dialog(191).click(1011).answer("ok").expect_dialog(138).key("escape");
  // Only the flush that ends a long run of writes fails: the one after a
  // volume's files, not those after the table or the format.
  flush_record::start(pc_.Image(0), 301);
  auto run = disk_fixture::RunHeadless(script, [] { OnOneClickCopy(nullptr); });
  flush_record::on = false;
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.log.find("Completed"), std::string::npos) << run.log;
  EXPECT_NE(DiskContext.ioErrorCount, 0) << run.log;
}

}  // namespace
