// The stick write sequence on a simulated PC with a system disk and a USB
// stick, for images xorriso builds: a Windows-like image (BOOTMGR) onto
// FAT32, a diskette-emulation image onto FAT16, a plain Joliet image without
// boot entry, and a no-emulation hybrid image written raw. Each stick is
// checked by sfdisk -d (layout), fsck.fat -n (then filled to the last cluster
// and checked again), the file tree against xorriso's extraction, and the
// boot area's bytes (loader assembled from its source by nasm here, blob,
// boot image); images that are no ISO or too big for the stick leave every
// disk as it was.
#include "usbwriter/usb_write.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "tests/support/flush_record.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;
using iso_fixture::BootKind;
using iso_fixture::IsoSpec;

class RecordingHost : public UsbWriteHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return false; }
  void SetProgressRange(int64_t maximum) override { range = maximum; }
  void AppendLog(LPCWSTR text) override { log += platform::to_utf8(text); }
  void ReportCopyError(LPCWSTR key) override { errors += platform::to_utf8(key) + "\n"; }
  int64_t position_ = 0;
  int64_t range = 0;
  std::string log;
  std::string errors;
};

constexpr uint64_t kStickBytes = 600ull << 20;
const uint64_t kStickSectors = kStickBytes / 512 / 16065 * 16065;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

class UsbWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pc_.AddDisk(DiskSpec{0, 64ull << 20});
    DiskSpec stick{1, StickBytes()};
    stick.bus = platform::machine::BusType::Usb;
    stick.vendor = "SanDisk";
    stick.product = "Cruzer";
    stick.removable = true;
    pc_.AddDisk(stick);
    pc_.WriteBytes(0, 0, disk_fixture::Pattern(1 << 20, 21));
    pc_.AppendIni("\n[mount iso]\npath = I:\nhost = " + scratch_.path + "\ndrive_type = fixed\n");
    pc_.Boot();
    IsoImageInfo = IsoImageInfoRecord{};
    WriteBootLoader = true;
    BrandingFlags = 1;
    NeedBiosBlob = false;
    ChosenFileSystem = kFileSystemFat32;
    std::string blob = disk_fixture::Pattern(4000, 8);
    memcpy(BiosBlob, blob.data(), blob.size());
    BiosBlobLength = static_cast<uint32_t>(blob.size());
  }
  void TearDown() override {
    platform::fs::ReleaseAllDrivers();
    std::string pattern = disk_fixture::Pattern(1 << 20, 21);
    EXPECT_EQ(pc_.ReadBytes(0, 0, 1 << 20), std::vector<uint8_t>(pattern.begin(), pattern.end()))
        << "the system disk was written";
  }
  virtual uint64_t StickBytes() const { return kStickBytes; }
  void Build(const IsoSpec& spec) { iso_fixture::MakeIso(spec, scratch_.file("test.iso")); }
  // A Windows-like image: the test tree and a boot image that names BOOTMGR.
  void BuildWindowsImage();
  RecordingHost Run() {
    RecordingHost host;
    RunUsbWrite(&host, 1, u"I:\\test.iso");
    platform::fs::ReleaseAllDrivers();
    return host;
  }
  // start= and size= of the stick's one partition, with its type and flags.
  std::smatch Partition(std::string* dump) {
    EXPECT_EQ(Shell("sfdisk -d " + pc_.Image(1), dump), 0);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(*dump, m, std::regex("start=\\s*(\\d+), size=\\s*(\\d+), type=(\\w+), bootable")))
        << *dump;
    return m;
  }
  void CheckVolume(uint64_t start, uint64_t size) {
    std::string volume = pc_.ExtractVolume(1, start, size, "stick.vol");
    std::string out;
    ASSERT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
    iso_fixture::XorrisoExtract(scratch_.file("test.iso"), scratch_.file("want"));
    iso_fixture::McopyTree(volume, scratch_.file("have"));
    EXPECT_EQ(iso_fixture::CompareTrees(scratch_.file("want"), scratch_.file("have")), "");
  }
  std::string Loader() {
    std::string bin = scratch_.file("loader.bin");
    std::string source = std::string(DRUM_SOURCE_DIR_TEST) + "/usbwriter/boot/";
    EXPECT_EQ(Shell("nasm -f bin -I" + source + " " + source + "loader.asm -o " + bin), 0);
    return FileBytes(bin);
  }
  std::string Sectors(uint64_t lba, uint64_t count) {
    auto bytes = pc_.ReadBytes(1, lba * 512, count * 512);
    return std::string(bytes.begin(), bytes.end());
  }

  disk_fixture::SimulatedPc pc_;
  iso_fixture::TempFolder scratch_;
};

std::vector<iso_fixture::TreeFile> Files() {
  return {{"/README.TXT", "readme"},
          {"/BOOT/BCD", disk_fixture::Pattern(40000, 2)},
          {"/SOURCES/BOOT.WIM", disk_fixture::Pattern(5 << 20, 3)},
          {"/EFI/BOOT/BOOTX64.EFI", disk_fixture::Pattern(3000, 4)}};
}

void UsbWriteTest::BuildWindowsImage() {
  IsoSpec spec;
  spec.files = Files();
  spec.volumeId = "WIN7_PE";
  spec.boot = BootKind::NoEmulation;
  spec.bootImage = iso_fixture::WindowsLikeBootImage("BOOTMGR");
  Build(spec);
}

TEST_F(UsbWriteTest, WindowsImageGoesOntoFat32WithThreeLoaderSectors) {
  BuildWindowsImage();
  RecordingHost host = Run();
  ASSERT_EQ(host.errors, "") << host.log;
  ASSERT_EQ(CopyErrorCount, 0);
  EXPECT_NE(host.log.find("Drive Created:"), std::string::npos) << host.log;
  std::string dump;
  std::smatch m = Partition(&dump);
  ASSERT_FALSE(m.empty());
  // 2,048 boot image bytes: S = (2,048 + 129,024) / 32,256 x 32,256 bytes = 252 sectors.
  EXPECT_EQ(std::stoull(m[1]), 252u);
  EXPECT_EQ(m[3].str(), "b");
  EXPECT_EQ(std::stoull(m[2]), kStickSectors - 252 - 252) << "252 sectors stay free at the end";
  std::string loader = Loader();
  std::string lba = Sectors(0, 3);
  EXPECT_EQ(lba.substr(0, 446), loader.substr(0, 446));
  EXPECT_EQ(static_cast<uint8_t>(lba[446]), 0x80) << "the new table sits in the loader";
  EXPECT_EQ(lba.substr(510, 2), "\x55\xAA");
  EXPECT_EQ(static_cast<uint8_t>(lba[754]), 0xFF) << "media type of a Windows image";
  EXPECT_EQ(static_cast<uint8_t>(lba[757]), 1) << "the branding's flags";
  EXPECT_EQ(lba.substr(758, 200), loader.substr(758, 200));
  EXPECT_EQ(lba.substr(1024 + 446, 66), lba.substr(446, 66)) << "LBA 2 carries the table too";
  EXPECT_EQ(Sectors(3, 1), std::string(512, '\0')) << "no blob for Windows images unless required";
  CheckVolume(std::stoull(m[1]), std::stoull(m[2]));
}

TEST_F(UsbWriteTest, DisketteImageGoesOntoFat16BehindItsBootImage) {
  IsoSpec spec;
  spec.files = Files();
  spec.joliet = false;
  spec.volumeId = "FLOPPYBOOT";
  spec.boot = BootKind::Diskette144;
  spec.bootImage = disk_fixture::Pattern(1474560, 6);
  Build(spec);
  RecordingHost host = Run();
  ASSERT_EQ(host.errors, "") << host.log;
  std::string dump;
  std::smatch m = Partition(&dump);
  ASSERT_FALSE(m.empty());
  // S = (1,474,560 + 129,024) / 32,256 x 32,256 = 1,580,544 bytes (LBA 3,087);
  // the FAT16 formatter starts its volume one sector later.
  EXPECT_EQ(std::stoull(m[1]), 3088u);
  EXPECT_EQ(m[3].str(), "6");
  EXPECT_LE(std::stoull(m[1]) + std::stoull(m[2]), kStickSectors);
  std::string lba = Sectors(0, 2);
  EXPECT_EQ(static_cast<uint8_t>(lba[754]), 2) << "1.44 MB diskette";
  EXPECT_EQ(static_cast<uint8_t>(lba[752]), 1) << "boot count byte of diskette emulation";
  EXPECT_EQ(lba.substr(446, 16), Sectors(0, 1).substr(446, 16));
  std::string blob = Sectors(3, 127);
  EXPECT_EQ(blob.substr(0, 4000), disk_fixture::Pattern(4000, 8));
  EXPECT_EQ(blob.substr(4000), std::string(127 * 512 - 4000, '\0'));
  EXPECT_EQ(Sectors(130, 2880), disk_fixture::Pattern(1474560, 6)) << "the diskette at LBA 130-3,009";
  CheckVolume(std::stoull(m[1]), std::stoull(m[2]));
}

TEST_F(UsbWriteTest, ImageWithoutBootEntryIsCopiedOntoFat32) {
  IsoSpec spec;
  spec.files = Files();
  spec.files.push_back({"/Données/Überlänge ĀŁ.txt", "joliet"});
  Build(spec);
  WriteBootLoader = false;
  RecordingHost host = Run();
  ASSERT_EQ(host.errors, "") << host.log;
  std::string dump;
  std::smatch m = Partition(&dump);
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(std::stoull(m[1]), 252u);
  EXPECT_EQ(Sectors(0, 1).substr(0, 440), std::string(440, '\0')) << "no loader without WriteBootLoader";
  CheckVolume(std::stoull(m[1]), std::stoull(m[2]));
  std::string volume = pc_.ExtractVolume(1, std::stoull(m[1]), std::stoull(m[2]), "stick.vol");
  std::string out;
  Shell("dd if=/dev/zero of=" + scratch_.file("fill") + " bs=1M count=1 status=none", &out);
  // Filled to its last cluster, the volume still checks clean.
  Shell("MTOOLS_SKIP_CHECK=1 mdir -i " + volume + " :: 2>&1", &out);
  std::smatch free;
  ASSERT_TRUE(std::regex_search(out, free, std::regex("([0-9 ]+) bytes free"))) << out;
  uint64_t bytes = std::stoull(std::regex_replace(free[1].str(), std::regex(" "), ""));
  ASSERT_EQ(Shell("truncate -s " + std::to_string(bytes) + " " + scratch_.file("fill")), 0);
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + volume + " " + scratch_.file("fill") + " ::/FILL 2>&1", &out), 0)
      << out;
  ASSERT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
}

TEST_F(UsbWriteTest, HybridNoEmulationImageIsWrittenRaw) {
  IsoSpec spec;
  spec.files = Files();
  spec.volumeId = "LINUX_LIVE";
  spec.boot = BootKind::NoEmulation;
  spec.bootImage = std::string(2048, 'L');
  Build(spec);
  RecordingHost host = Run();
  ASSERT_EQ(host.errors, "") << host.log;
  EXPECT_NE(host.log.find("Copying Image"), std::string::npos) << host.log;
  std::string image = FileBytes(scratch_.file("test.iso"));
  ASSERT_EQ(image.size() % 512, 0u);
  EXPECT_EQ(Sectors(6, image.size() / 512 - 6), image.substr(6 * 512)) << "image sector k at LBA k from 6 on";
  EXPECT_EQ(Sectors(0, 1).substr(0, 446), Loader().substr(0, 446));
}

TEST_F(UsbWriteTest, ImagesThatAreNoIsoOrTooBigLeaveTheStickAlone) {
  std::string before = Sectors(0, 4096);
  std::ofstream(scratch_.file("test.iso"), std::ios::binary) << disk_fixture::Pattern(1 << 20, 5);
  RecordingHost host = Run();
  EXPECT_EQ(host.errors, "IDS_ISOREADERROR\n");
  EXPECT_EQ(CopyErrorCount, 1);
  EXPECT_EQ(Sectors(0, 4096), before);

  IsoSpec spec;
  spec.files = {{"/HUGE.BIN", std::string()}};
  Build(spec);
  // A sparse 700 MiB file makes the image bigger than the 600 MiB stick.
  ASSERT_EQ(Shell("truncate -s 700M " + scratch_.file("huge.bin")), 0);
  ASSERT_EQ(Shell("xorriso -outdev " + scratch_.file("test.iso") + " -blank as_needed -rockridge off -map " +
                  scratch_.file("huge.bin") + " /HUGE.BIN -commit >/dev/null 2>&1"),
            0);
  host = Run();
  EXPECT_EQ(host.errors, "IDS_WRONGSIZE\n");
  EXPECT_EQ(Sectors(0, 4096), before);
}

}  // namespace

namespace {

// A stick that stops taking writes part-way (pulled, or worn out): the
// sequence says so once and stops; no other disk is written (TearDown).
TEST_F(UsbWriteTest, StickFailingMidWriteStopsWithAMessage) {
  IsoSpec spec;
  spec.files = Files();
  Build(spec);
  pc_.SetIni("disk 1", "failing_writes", "6000-6100");
  pc_.Boot();
  platform::ui::Script script;
  script.answer("ok");
  RecordingHost host;
  auto run = disk_fixture::RunHeadless(script, [&] { RunUsbWrite(&host, 1, u"I:\\test.iso"); });
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("Error in Writing Sector"), std::string::npos) << run.log;
  EXPECT_GE(CopyErrorCount, 1);
  EXPECT_EQ(host.log.find("Copying FileSystem"), std::string::npos) << "no copy after a failed format";
}

// The stick is not written through: the sequence flushes it once after the
// format and once at the end (the platform adds its own where the table is
// set and the volume let go), so the flushes do not grow with the writes and
// nothing written is left unflushed when the page says the stick is ready; a
// flush that fails is a failed write.
TEST_F(UsbWriteTest, StickIsFlushedOnceBeforeItIsReadyNotAfterEveryWrite) {
  for (bool raw : {false, true}) {
    SCOPED_TRACE(raw ? "raw image" : "Windows image onto FAT32");
    IsoSpec spec;
    spec.files = Files();
    if (raw) {
      spec.volumeId = "LINUX_LIVE";
      spec.boot = BootKind::NoEmulation;
      spec.bootImage = std::string(2048, 'L');
      Build(spec);
    } else {
      BuildWindowsImage();
    }
    flush_record::start(pc_.Image(1));
    RecordingHost host = Run();
    flush_record::on = false;
    ASSERT_EQ(host.errors, "") << host.log;
    ASSERT_EQ(CopyErrorCount, 0);
    EXPECT_GT(flush_record::writes, 100) << "the write wrote little";
    EXPECT_GE(flush_record::flushes, 1);
    EXPECT_LE(flush_record::flushes, 6) << "a flush per write: " << flush_record::writes << " writes";
    EXPECT_EQ(flush_record::writes_since_flush, 0) << "writes after the last flush";
  }
}

TEST_F(UsbWriteTest, FailedFlushIsAFailedWrite) {
  BuildWindowsImage();
  flush_record::start(pc_.Image(1), 0);
  platform::ui::Script script;
  script.answer("ok");
  RecordingHost host;
  auto run = disk_fixture::RunHeadless(script, [&] { RunUsbWrite(&host, 1, u"I:\\test.iso"); });
  flush_record::on = false;
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("Error in Writing Sector"), std::string::npos) << run.log;
  EXPECT_GE(CopyErrorCount, 1) << "a stick whose flush failed would be reported ready";
}

}  // namespace

namespace {

// Windows 2000 gets its table written by hand: LBA 0 holds one active entry
// of the volume's own type with its start CHS and a zero end CHS; the user
// is asked to plug the stick in again, and the stick ends up as on other
// systems (fsck.fat clean, the same tree).
TEST_F(UsbWriteTest, Windows2000WritesTheTableItself) {
  BuildWindowsImage();
  pc_.SetIni("os", "major", "5");
  pc_.SetIni("os", "minor", "0");
  pc_.Boot();
  platform::ui::Script script;
  script.answer("ok");
  RecordingHost host;
  auto run = disk_fixture::RunHeadless(script, [&] { RunUsbWrite(&host, 1, u"I:\\test.iso"); });
  platform::fs::ReleaseAllDrivers();
  ASSERT_EQ(run.failure, "") << run.log;
  ASSERT_EQ(host.errors, "") << host.log;
  EXPECT_NE(run.log.find("REMOVE_WIN2K_USB"), std::string::npos) << run.log;
  std::string entry = Sectors(0, 1).substr(446, 16);
  EXPECT_EQ(entry.substr(0, 8), std::string("\x80\x04\x01\x00\x0B\x00\x00\x00", 8))
      << "active, head 4 sector 1 cylinder 0, FAT32, end CHS 0";
  EXPECT_EQ(Sectors(0, 1).substr(462, 48), std::string(48, '\0')) << "one entry only";
  std::string dump;
  std::smatch m = Partition(&dump);
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(std::stoull(m[1]), 252u);
  EXPECT_EQ(std::stoull(m[2]), kStickSectors - 252 - 252);
  EXPECT_EQ(m[3].str(), "b");
  CheckVolume(std::stoull(m[1]), std::stoull(m[2]));
}

}  // namespace

namespace {

// NTFS chosen for a Windows image: the partition is typed 7 and formatted
// by the shell's format dialog (after the "format as NTFS" notice); ntfsfix
// finds the volume clean and ntfscat reads every file of the image back.
// The volume's boot code (bytes 80 to 4,607) is the one that starts BOOTMGR:
// on Windows XP and older the program writes it (the system's format there
// leaves code for another loader, here the tool's stub), on newer systems the
// system's format wrote it already.
TEST_F(UsbWriteTest, NtfsStickHoldsTheImageTree) {
  std::string ntfsCode = scratch_.file("ntfs_boot.bin");
  std::string source = std::string(DRUM_SOURCE_DIR_TEST) + "/platform/fs/boot/";
  ASSERT_EQ(Shell("nasm -f bin -I" + source + " " + source + "ntfs_boot.asm -o " + ntfsCode), 0);
  std::string code = FileBytes(ntfsCode);
  ASSERT_EQ(code.size(), 4608u - 80u);
  struct Case {
    const char* major;
    const char* minor;
  } cases[] = {{"6", "1"}, {"5", "1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.major) + "." + c.minor);
    BuildWindowsImage();
    pc_.SetIni("os", "major", c.major);
    pc_.SetIni("os", "minor", c.minor);
    pc_.Boot();
    ChosenFileSystem = kFileSystemNtfs;
    IsoImageInfo = IsoImageInfoRecord{};
    platform::ui::Script script;
    script.answer("ok");
    RecordingHost host;
    auto run = disk_fixture::RunHeadless(script, [&] { RunUsbWrite(&host, 1, u"I:\\test.iso"); });
    platform::fs::ReleaseAllDrivers();
    ASSERT_EQ(run.failure, "") << run.log;
    ASSERT_EQ(host.errors, "") << host.log;
    EXPECT_NE(run.log.find("IDS_NTFORMAT"), std::string::npos) << run.log;
    std::string dump;
    std::smatch m = Partition(&dump);
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m[3].str(), "7");
    uint64_t start = std::stoull(m[1]);
    std::string volume = pc_.ExtractVolume(1, start, std::stoull(m[2]), "stick.vol");
    std::string out;
    ASSERT_EQ(Shell("ntfsfix -n " + volume + " 2>&1", &out), 0) << out;
    EXPECT_TRUE(Sectors(start, 9).substr(80) == code);
    iso_fixture::XorrisoExtract(scratch_.file("test.iso"), scratch_.file("want"));
    int files = 0;
    for (auto& entry : std::filesystem::recursive_directory_iterator(scratch_.file("want"))) {
      if (!entry.is_regular_file()) continue;
      std::string name = std::filesystem::relative(entry.path(), scratch_.file("want")).string();
      ASSERT_EQ(Shell("ntfscat " + volume + " '/" + name + "' 2>&1", &out), 0) << name << ": " << out;
      EXPECT_TRUE(out == FileBytes(entry.path().string())) << name;
      ++files;
    }
    EXPECT_EQ(files, static_cast<int>(Files().size()) + 2) << "the tree, the boot image and the boot catalog";
  }
}

}  // namespace

namespace {

// Another program (a second process on the same machine folder) has a file
// open on the stick: the volume lock fails for as long as that file stays
// open, so after its tries the writer asks the user (IDS_LockFail) instead of
// formatting a volume in use as if it were locked. Told to go on, it writes
// the stick; the other program's stale view never lands on it afterwards:
// fsck.fat finds it clean and its tree is the image's.
TEST_F(UsbWriteTest, StickInUseByAnotherProgramAsksBeforeItIsWritten) {
  BuildWindowsImage();
  RecordingHost first = Run();
  ASSERT_EQ(first.errors, "") << first.log;
  const std::string ready = scratch_.file("ready"), release = scratch_.file("release");
  std::string out;
  ASSERT_EQ(Shell(std::string(FS_SHARE_HELPER) + " hold " + pc_.folder() + " 1 OPEN.TXT " + ready + " " + release +
                      " > " + scratch_.file("hold.log") + " 2>&1 & echo $! > " + scratch_.file("hold.pid") +
                      "; for i in $(seq 300); do [ -e " + ready + " ] && exit 0; sleep 0.1; done; exit 1",
                  &out),
            0)
      << out << FileBytes(scratch_.file("hold.log"));

  platform::ui::Script script;
  script.answer("ok");
  RecordingHost host;
  auto run = disk_fixture::RunHeadless(script, [&] { RunUsbWrite(&host, 1, u"I:\\test.iso"); });
  platform::fs::ReleaseAllDrivers();
  Shell("touch " + release + "; while kill -0 $(cat " + scratch_.file("hold.pid") + ") 2>/dev/null; do sleep 0.05; done");
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("IDS_LockFail"), std::string::npos) << run.log;
  EXPECT_EQ(host.errors, "") << host.log;
  std::string dump;
  std::smatch m = Partition(&dump);
  ASSERT_FALSE(m.empty());
  CheckVolume(std::stoull(m[1]), std::stoull(m[2]));
}

// A 34 MiB stick holding a FAT16 volume of the user's: room enough for the
// small image, but its partition cannot hold the 65,525 clusters FAT32
// needs, and a Windows image gets no FAT16. The write is refused with the
// size message alone before anything is written: the stick's bytes are as
// they were (cmp) and its volume still passes fsck.fat.
class SmallStickTest : public UsbWriteTest {
 protected:
  uint64_t StickBytes() const override { return 34ull << 20; }
};

TEST_F(SmallStickTest, TooSmallForItsFileSystemIsRefusedBeforeAnythingIsErased) {
  pc_.WriteSuperfloppy(1, "fat16", "USERDATA", {{"/KEEP.TXT", "the user's file"}});
  pc_.Boot();
  platform::fs::ReleaseAllDrivers();
  ASSERT_EQ(Shell("cp " + pc_.Image(1) + " " + scratch_.file("before.img")), 0);
  IsoSpec spec;
  spec.files = {{"/README.TXT", "readme"}, {"/BOOT/BCD", disk_fixture::Pattern(40000, 2)}};
  spec.volumeId = "WIN7_PE";
  spec.boot = BootKind::NoEmulation;
  spec.bootImage = iso_fixture::WindowsLikeBootImage("BOOTMGR");
  Build(spec);
  {
    ChosenFileSystem = kFileSystemFat32;
    RecordingHost host = Run();
    EXPECT_EQ(host.errors, "IDS_WRONGSIZE\n");
    EXPECT_EQ(CopyErrorCount, 1);
    EXPECT_EQ(platform::to_utf8(ShownCopyErrorKey ? ShownCopyErrorKey : u""), "IDS_WRONGSIZE");
    EXPECT_EQ(host.log.find("Creating Partition"), std::string::npos) << host.log;
    std::string out;
    EXPECT_EQ(Shell("cmp " + scratch_.file("before.img") + " " + pc_.Image(1), &out), 0) << out;
    EXPECT_EQ(Shell("fsck.fat -n " + pc_.Image(1) + " 2>&1", &out), 0) << out;
  }
  EXPECT_FALSE(StickCanHold(1, (34ull << 20) / 512));
}

}  // namespace
