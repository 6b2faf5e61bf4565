// The sector viewer on the wipe fixture's PC: a partition in the middle of
// the 4096-byte disk and a whole 512-byte disk, stepped and jumped through;
// each dump compared with od's reading of the same bytes of the image, the
// offsets in bytes, a typed number clamped to the target's last sector, and
// an unreadable sector shown as such rather than as the previous bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "fixture_wipe_pc.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/install_driver_page.h"
#include "mainapp/wipe/deletion_texts.h"
#include "mainapp/wipe/sector_viewer_page.h"
#include "mainapp/wipe/view_disk_partition_page.h"
#include "platform/core/text.h"
#include "platform/process/process.h"
#include "platform/process/standins.h"

namespace {

using disk_fixture::Shell;
using wipe_fixture::WipePc;
constexpr uint64_t kMiB = WipePc::kMiB;

// What the viewer showed, each time it changed.
struct Shown {
  int64_t sector;
  std::string dump;
};

class ProbeViewer : public CViewDiskData {
 public:
  std::vector<Shown> shown;
  // After each button's work (not midway, when the edit's change reports).
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    BOOL r = CViewDiskData::OnCommand(w, l);
    if (HIWORD(w) == BN_CLICKED) Note();
    return r;
  }
  BOOL OnInitDialog() override {
    BOOL r = CViewDiskData::OnInitDialog();
    Note();
    return r;
  }
  void Note() {
    if (!GetSafeHwnd()) return;
    Shown now{ViewerSector, platform::to_utf8(GetDlgItemText(kDump).GetString())};
    if (shown.empty() || shown.back().sector != now.sector || shown.back().dump != now.dump) shown.push_back(now);
  }
};

// od's dump of `bytes` bytes of the image at `offset`, shown at `shownOffset`,
// in the viewer's line layout (without the character column).
std::string OdLines(const std::string& image, uint64_t offset, uint64_t bytes, uint64_t shownOffset) {
  std::string out;
  Shell("od -A x -t x1 -v -w16 -j " + std::to_string(offset) + " -N " + std::to_string(bytes) + " '" + image +
            "' | head -n -1",
        &out);
  // od prints "ADDRESS b0 b1 ..."; rebase the address and pad as the viewer does.
  std::string result;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    std::string line = out.substr(at, end - at);
    at = end + 1;
    uint64_t address = std::stoull(line.substr(0, line.find(' ')), nullptr, 16) - offset + shownOffset;
    char head[16];
    std::snprintf(head, sizeof head, "%010llx", static_cast<unsigned long long>(address));
    result += head + line.substr(line.find(' ')) + " \n";
  }
  return result;
}

// The viewer's dump without the character column, one line each.
std::string HexColumns(const std::string& dump) {
  std::string result;
  size_t at = 0;
  while (at < dump.size()) {
    size_t end = dump.find("\r\n", at);
    if (end == std::string::npos) end = dump.size();
    std::string line = dump.substr(at, end - at);
    at = end + 2;
    if (line.size() < 60) continue;
    result += line.substr(0, 10) + " " + line.substr(12, 48) + "\n";
  }
  return result;
}

TEST(SectorViewer, StepsThroughAMiddlePartitionOfA4096ByteDisk) {
  WipePc w;
  DiskSelection = DiskSelectionRecord{};
  DiskSelection.diskNumber = PhysicalDiskNumber{1};
  DiskSelection.kind = kSelectionPartition;
  DiskSelection.driveLetter = u'E';
  DiskSelection.startSector = 21 * kMiB / 4096;
  DiskSelection.sectorCount = 20 * kMiB / 4096;
  const int64_t last = 20 * kMiB / 4096 - 1;
  platform::ui::Script s;
  s.expect_dialog(CViewDiskData::IDD).click(CViewDiskData::kNext).click(CViewDiskData::kNext);
  s.click(CViewDiskData::kPrevious).click(CViewDiskData::kEnd).click(CViewDiskData::kNext);
  // Typing goes in front of the "0" that Start leaves in the edit: "70",
  // then a number far beyond the partition.
  s.click(CViewDiskData::kStart).type(CViewDiskData::kSectorEdit, "7").click(CViewDiskData::kGo);
  s.click(CViewDiskData::kStart).type(CViewDiskData::kSectorEdit, "500000000").click(CViewDiskData::kGo);
  s.click(CViewDiskData::kStart).click(CViewDiskData::kPrevious).click(CViewDiskData::kClose);
  ProbeViewer viewer;
  ASSERT_EQ(wipe_fixture::RunPage(viewer, s), "");

  std::vector<int64_t> sectors;
  for (const Shown& v : viewer.shown) sectors.push_back(v.sector);
  // Next at the end, a number beyond it and Previous at 0 change nothing.
  const std::vector<int64_t> expected = {0, 1, 2, 1, last, 0, 70, 0, last, 0};
  EXPECT_EQ(sectors, expected);
  // Sector 70 as od reads it: 256 lines, offsets in bytes from the partition's start.
  for (const Shown& v : viewer.shown) {
    if (v.sector != 70) continue;
    EXPECT_EQ(HexColumns(v.dump), OdLines(w.pc.Image(1), 21 * kMiB + 70 * 4096, 4096, 70 * 4096));
    EXPECT_EQ(HexColumns(v.dump).size(), 256u * 60);
    break;
  }
  EXPECT_FALSE(DiskContext.currentDiskOpen);
}

// A whole disk ends at its real last sector, past its last whole cylinder
// (the listed size the selection carries): End shows it, with the bytes od
// reads there, on a 512-byte and a 4096-byte disk.
TEST(SectorViewer, AWholeDiskEndsAtItsRealLastSector) {
  struct Case {
    int32_t disk;
    uint64_t bytes, sectorSize;
  };
  for (const Case& c : {Case{2, 64 * kMiB, 512}, Case{1, 96 * kMiB, 4096}}) {
    SCOPED_TRACE(c.disk);
    WipePc w;
    w.pc.WriteBytes(c.disk, c.bytes - c.sectorSize, std::string(c.sectorSize, '\x5A'));
    DiskSelection = DiskSelectionRecord{};
    DiskSelection.diskNumber = PhysicalDiskNumber{c.disk};
    DiskSelection.kind = kSelectionWholeDisk;
    DiskSelection.driveLetter = u' ';
    // The listed size: whole cylinders of 255 x 63 sectors.
    DiskSelection.sectorCount = c.bytes / c.sectorSize / (255 * 63) * (255 * 63);
    const int64_t last = static_cast<int64_t>(c.bytes / c.sectorSize) - 1;
    ASSERT_LT(static_cast<int64_t>(DiskSelection.sectorCount), last);
    platform::ui::Script s;
    s.expect_dialog(CViewDiskData::IDD).click(CViewDiskData::kEnd).click(CViewDiskData::kClose);
    ProbeViewer viewer;
    ASSERT_EQ(wipe_fixture::RunPage(viewer, s), "");
    ASSERT_EQ(viewer.shown.size(), 2u);
    EXPECT_EQ(viewer.shown.back().sector, last);
    EXPECT_EQ(HexColumns(viewer.shown.back().dump),
              OdLines(w.pc.Image(c.disk), c.bytes - c.sectorSize, c.sectorSize, c.bytes - c.sectorSize));
  }
}

TEST(SectorViewer, AnUnreadableSectorIsNotShownWithTheBytesOfTheOneBefore) {
  WipePc w;
  w.pc.SetIni("disk 2", "unreadable", "3");
  w.pc.Boot();
  DiskSelection = DiskSelectionRecord{};
  DiskSelection.diskNumber = PhysicalDiskNumber{2};
  DiskSelection.kind = kSelectionWholeDisk;
  DiskSelection.sectorCount = 1000;
  platform::ui::Script s;
  s.expect_dialog(CViewDiskData::IDD).click(CViewDiskData::kNext).click(CViewDiskData::kNext);
  s.click(CViewDiskData::kNext).click(CViewDiskData::kNext).click(CViewDiskData::kClose);
  ProbeViewer viewer;
  ASSERT_EQ(wipe_fixture::RunPage(viewer, s), "");
  ASSERT_EQ(viewer.shown.size(), 5u);
  EXPECT_EQ(viewer.shown[2].sector, 2);
  EXPECT_EQ(HexColumns(viewer.shown[2].dump), OdLines(w.pc.Image(2), 2 * 512, 512, 2 * 512));
  EXPECT_EQ(viewer.shown[3].sector, 3);
  EXPECT_EQ(viewer.shown[3].dump, "This sector could not be read.");
  EXPECT_EQ(viewer.shown[4].sector, 4);
  EXPECT_EQ(HexColumns(viewer.shown[4].dump), OdLines(w.pc.Image(2), 4 * 512, 512, 4 * 512));
}

}  // namespace

namespace {

// The viewer with a sector number typed into its edit before Go is pressed.
class JumpingViewer : public ProbeViewer {
 public:
  std::string target;
  BOOL OnInitDialog() override {
    BOOL r = ProbeViewer::OnInitDialog();
    SetDlgItemText(kSectorEdit, CString(platform::to_utf16(target)));
    return r;
  }
};

// The offset column has the digits the disk needs: a sector of a 2 TiB disk
// lies beyond 2^40 bytes and needs 11 hex digits, which every line of the
// dump then has (the columns after it move right by one); a smaller disk
// keeps 10. The bytes and their offset are checked against od's reading of
// the (sparse) image at that place.
TEST(SectorViewer, TheOffsetColumnHasTheDigitsTheDiskNeeds) {
  struct Case {
    uint32_t sectorSize;
    uint64_t bytes;
    int64_t sector;
    int digits;
  };
  const Case cases[] = {{512, (2ull << 40) + kMiB, 4294961684, 11},
                        {4096, 4ull << 40, (1ll << 40) / 4096 + 5, 11},
                        {512, 1ull << 30, 1, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sectorSize) + " " + std::to_string(c.sector));
    disk_fixture::SimulatedPc pc;
    pc.AddDisk(disk_fixture::DiskSpec{.number = 0, .sizeBytes = c.bytes, .sectorSize = c.sectorSize,
                                      .product = "Large Disk"});
    const uint64_t at = static_cast<uint64_t>(c.sector) * c.sectorSize;
    {
      std::fstream image(pc.Image(0), std::ios::in | std::ios::out | std::ios::binary);
      image.seekp(static_cast<std::streamoff>(at));
      for (int i = 0; i < 64; ++i) image.put(static_cast<char>(0x30 + i));
    }
    pc.Boot();
    DiskSelection = DiskSelectionRecord{};
    DiskSelection.diskNumber = PhysicalDiskNumber{0};
    DiskSelection.kind = kSelectionWholeDisk;
    DiskSelection.sectorCount = c.bytes / c.sectorSize;
    platform::ui::Script s;
    s.expect_dialog(CViewDiskData::IDD).click(CViewDiskData::kGo).click(CViewDiskData::kClose);
    JumpingViewer viewer;
    viewer.target = std::to_string(c.sector);
    ASSERT_EQ(wipe_fixture::RunPage(viewer, s), "");
    ASSERT_EQ(viewer.shown.size(), 2u);
    ASSERT_EQ(viewer.shown[1].sector, c.sector);
    // od's first four lines at that byte, each as "OFFSET  b0 b1 ... b15 ".
    std::string od;
    ASSERT_EQ(Shell("od -A x -t x1 -v -w16 -j " + std::to_string(at) + " -N 64 '" + pc.Image(0) + "' | head -n 4",
                    &od),
              0);
    std::string expected;
    for (size_t from = 0; from < od.size();) {
      const size_t end = od.find('\n', from);
      const std::string line = od.substr(from, end - from);
      from = end + 1;
      const uint64_t address = std::stoull(line.substr(0, line.find(' ')), nullptr, 16);
      char head[24];
      std::snprintf(head, sizeof head, "%0*llx", c.digits, static_cast<unsigned long long>(address));
      expected += head + std::string(" ") + line.substr(line.find(' ')) + " \n";
    }
    std::string shown;
    const std::string& dump = viewer.shown[1].dump;
    size_t lines = 0;
    for (size_t from = 0; from < dump.size(); ++lines) {
      size_t end = dump.find("\r\n", from);
      if (end == std::string::npos) end = dump.size();
      const std::string line = dump.substr(from, end - from);
      from = end + 2;
      ASSERT_EQ(line.size(), 85u);
      if (lines < 4) shown += line.substr(0, c.digits + 50) + "\n";
    }
    EXPECT_EQ(lines, c.sectorSize / 16);
    EXPECT_EQ(shown, expected);
  }
}

TEST(DiskViewerPage, ListsLetteredPartitionsAndViewsTheTickedRowEvenOnTheSystemDisk) {
  WipePc w;
  ViewerCheckedRow = -1;
  DiskSelection = DiskSelectionRecord{};
  // Rows: disk 0 (0), C: (1), disk 1 (2), D: E: F: (3-5), disk 2 (6), G: H: (7-8).
  platform::ui::Script s;
  s.expect_dialog(CViewDiskPartition::IDD).expect_disabled(CViewDiskPartition::kView);
  s.tick(CViewDiskPartition::kList, 1).expect_enabled(CViewDiskPartition::kView).click(CViewDiskPartition::kView);
  s.expect_dialog(CViewDiskData::IDD).expect_text(1048, "Partition (C:) FAT16 40 MB").click(CViewDiskData::kClose);
  s.tick(CViewDiskPartition::kList, 6).expect_checked(CViewDiskPartition::kList, 8);
  s.click(CViewDiskPartition::kView).expect_dialog(CViewDiskData::IDD).click(CViewDiskData::kClose).click(2);
  CViewDiskPartition page;
  ASSERT_EQ(wipe_fixture::RunPage(page, s), "");
  EXPECT_EQ(ViewerCheckedRow, 6);
  EXPECT_EQ(DiskSelection.kind, kSelectionWholeDisk);
  EXPECT_EQ(DiskSelection.diskNumber.value, 2);
  EXPECT_EQ(DiskListRows.rowCount, 9);
}

// The page's two driver buttons are never shown; a program that sends their
// commands chooses an .inf file and loads it with drvload.exe. Success is
// reported only when drvload says it loaded the driver (exit code 0), not
// merely because it started.
class DriverCommandsPage : public CViewDiskPartition {
 public:
  static WPARAM Clicked(int id) { return static_cast<WPARAM>(id) | (static_cast<WPARAM>(BN_CLICKED) << 16); }
  BOOL OnInitDialog() override {
    BOOL r = CViewDiskPartition::OnInitDialog();
    PostMessage(WM_COMMAND, Clicked(kFileDialog), 0);
    return r;
  }
  // Load once the file dialog has closed.
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    BOOL r = CViewDiskPartition::OnCommand(w, l);
    if (w == Clicked(kFileDialog)) PostMessage(WM_COMMAND, Clicked(kLoadDriver), 0);
    return r;
  }
};

TEST(DiskViewerPage, HiddenDriverButtonsLoadTheChosenDriverAndReportWhatDrvloadSaid) {
  struct Case {
    const char* what;
    bool winpe_drive;     // X:\windows\system32\drvload.exe exists
    DWORD drvload_exit;
    bool choose;          // a file is chosen (else the dialog is cancelled)
    const char* message;
    const char* command;  // drvload's command line, empty when it never ran
  } cases[] = {
      {"loaded", true, 0, true, "RAID Driver loaded Successfully", " X:\\drivers\\raid.inf"},
      {"drvload refuses the driver", true, 2, true, "Error in Loading RAID Driver", " X:\\drivers\\raid.inf"},
      {"no file chosen", true, 2, false, "Error in Loading RAID Driver", " "},
      {"no WinPE drive", false, 0, true, "Error in Loading RAID Driver", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WipePc w;
    const std::string x = w.pc.folder() + "/driveX";
    std::filesystem::create_directories(x + "/windows/system32");
    std::filesystem::create_directories(x + "/drivers");
    if (c.winpe_drive) std::ofstream(x + "/windows/system32/drvload.exe") << "MZ";
    std::ofstream(x + "/drivers/raid.inf") << "[Version]\r\n";
    w.pc.AppendIni("\n[mount X]\npath = X:\nhost = " + x + "\ndrive_type = fixed\n");
    w.pc.Boot();
    driverInfPath = driverInfName = CString(u"stale");
    std::mutex mutex;
    std::vector<std::string> runs;
    platform::process::RegisterProgram(u"drvload.exe", [&](const platform::process::ProgramStart& start) -> DWORD {
      std::lock_guard<std::mutex> lock(mutex);
      runs.push_back(platform::to_utf8(start.command_line));
      return c.drvload_exit;
    });
    platform::ui::Script s;
    s.expect_dialog(CViewDiskPartition::IDD);
    if (c.choose)
      s.choose("X:\\drivers\\raid.inf");
    else
      s.answer("cancel");
    s.answer("ok").expect_dialog(CViewDiskPartition::IDD).click(2);
    DriverCommandsPage page;
    auto run = disk_fixture::RunHeadless(s, [&] { page.DoModal(); });
    platform::process::RegisterStandardPrograms();
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_NE(run.log.find(c.message), std::string::npos) << run.log;
    EXPECT_EQ(platform::to_utf8(driverInfPath.GetString()), c.choose ? "X:\\drivers\\raid.inf" : "");
    EXPECT_EQ(platform::to_utf8(driverInfName.GetString()), c.choose ? "raid.inf" : "");
    std::lock_guard<std::mutex> lock(mutex);
    if (*c.command) {
      ASSERT_EQ(runs.size(), 1u);
      EXPECT_NE(runs[0].find(c.command), std::string::npos) << runs[0];
    } else {
      EXPECT_TRUE(runs.empty());
    }
  }
  driverInfPath = driverInfName = CString();
}

}  // namespace

namespace {

// The dump line's offset column by the size of what is dumped: 10 digits up
// to 2^40 bytes, one more per further hex digit, 16 for any 64-bit offset;
// every width keeps the line at 85 characters and its zero after them.
TEST(HexDumpLine, OffsetDigitsFollowTheTargetsSize) {
  const std::pair<uint64_t, int> sizes[] = {{0, 10},           {512, 10},           {1ull << 40, 10},
                                            {(1ull << 40) + 1, 11}, {1ull << 44, 11}, {(1ull << 44) + 1, 12},
                                            {UINT64_MAX, 16}};
  for (auto [bytes, digits] : sizes) EXPECT_EQ(HexOffsetDigits(bytes), digits) << bytes;
  uint8_t data[32];
  for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>('A' + i);
  for (int digits : {10, 11, 16}) {
    SCOPED_TRACE(digits);
    WCHAR line[kHexLineColumns + 1];
    std::fill(std::begin(line), std::end(line), u'#');
    FormatHexLine(line, data, 16, 0x12345, digits);
    const std::string text = platform::to_utf8(std::u16string(line, kHexLineColumns));
    EXPECT_EQ(line[kHexLineColumns], 0);
    char offset[24];
    std::snprintf(offset, sizeof offset, "%0*llx", digits, 0x12345ull * 512 + 16);
    EXPECT_EQ(text.substr(0, digits + 8), std::string(offset) + "  51 52 ");
    EXPECT_EQ(text.substr(digits + 51, 16), "QRSTUVWXYZ[\\]^_`");
    EXPECT_EQ(text.find_last_not_of(' '), static_cast<size_t>(digits + 66));
  }
}

}  // namespace
