// Sticks written by the write sequence boot in QEMU (its own BIOS, no KVM,
// serial console to a file, bounded in time): a hybrid image whose El Torito
// boot image is a tiny program assembled here starts through the stick's
// loader and prints its marker on the serial port; a Windows-like image goes
// from the loader through LBA 2's MBR code and the FAT32 boot sector to the
// BOOTMGR file of the volume's root (a program assembled here, several
// clusters long, behind enough files that the root spans clusters); a
// blob-only branding starts the BIOS tool from the 127 sectors after LBA 2;
// a FAT16 volume's boot sector starts NTLDR, and an NTFS volume's boot code
// BOOTMGR, or each says that its loader is missing.
// Skipped, with the reason, where qemu-system-x86_64 is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "tests/support/qemu_boot.h"
#include "tests/support/shell.h"
#include "usbwriter/boot_templates.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"
#include "usbwriter/usb_write.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Shell;

class QuietHost : public UsbWriteHost {
 public:
  void UpdateProgress(int64_t position) override { position_ = position; }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return false; }
  void SetProgressRange(int64_t) override {}
  void AppendLog(LPCWSTR) override {}
  void ReportCopyError(LPCWSTR) override { ++errors; }
  int64_t position_ = 0;
  int errors = 0;
};

using test_support::Assemble;
using test_support::SerialProgram;

std::string Boot(const std::string& image, const std::string& serial, const std::string& marker, int seconds,
                 const std::vector<std::string>& keys = {}, bool screen = false) {
  return test_support::BootImage(image, serial, marker, seconds, keys, screen);
}

class QemuBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::HasQemu()) {
      GTEST_SKIP() << "qemu-system-x86_64 is not installed: the boot test cannot run here";
    }
    DiskSpec stick{1, 64ull << 20};
    stick.bus = platform::machine::BusType::Usb;
    stick.removable = true;
    stick.serial = "QEMU00001";
    pc_.AddDisk(DiskSpec{0, 64ull << 20});
    pc_.AddDisk(stick);
    pc_.AppendIni("\n[mount iso]\npath = I:\nhost = " + scratch_.path + "\ndrive_type = fixed\n");
    pc_.Boot();
    IsoImageInfo = IsoImageInfoRecord{};
    WriteBootLoader = true;
    NeedBiosBlob = false;
    ChosenFileSystem = kFileSystemFat32;
    memset(BiosBlob, 0, sizeof BiosBlob);
    BiosBlobLength = 0;
  }
  // With `ntfs`, the run answers the notice that precedes the NTFS format.
  void Write(bool ntfs = false) {
    QuietHost host;
    if (ntfs) {
      platform::ui::Script script;
      script.answer("ok");
      auto run = disk_fixture::RunHeadless(script, [&] { RunUsbWrite(&host, 1, u"I:\\test.iso"); });
      ASSERT_EQ(run.failure, "") << run.log;
    } else {
      RunUsbWrite(&host, 1, u"I:\\test.iso");
    }
    ASSERT_EQ(host.errors, 0);
    platform::fs::ReleaseAllDrivers();
  }
  // Sets the compressed flag of the unnamed data attribute of the NTFS
  // stick's BOOTMGR, whose record number ntfsinfo gives; the record lies in
  // the MFT's first run, as on any fresh volume.
  void MarkBootmgrCompressed() {
    std::vector<uint8_t> mbr = pc_.ReadBytes(1, 0, 512);
    uint64_t start = platform::ReadLe32(&mbr[454]), count = platform::ReadLe32(&mbr[458]);
    std::string info;
    ASSERT_EQ(Shell("ntfsinfo -F /BOOTMGR " + pc_.ExtractVolume(1, start, count, "stick.vol") + " 2>&1", &info), 0)
        << info;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(info, m, std::regex("Dumping Inode (\\d+)"))) << info;
    std::vector<uint8_t> boot = pc_.ReadBytes(1, start * 512, 512);
    uint64_t cluster = boot[13] * 512ull;
    uint64_t record = start * 512 + platform::ReadLe32(&boot[48]) * cluster + std::stoull(m[1]) * 1024;
    std::vector<uint8_t> file = pc_.ReadBytes(1, record, 1024);
    ASSERT_EQ(std::string(file.begin(), file.begin() + 4), "FILE");
    for (size_t at = platform::ReadLe16(&file[20]);
         at + 16 <= file.size() && platform::ReadLe32(&file[at]) != 0xFFFFFFFF;) {
      if (platform::ReadLe32(&file[at]) == 0x80 && file[at + 9] == 0) {
        file[at + 12] |= 1;
        break;
      }
      if (platform::ReadLe32(&file[at + 4]) == 0) break;
      at += platform::ReadLe32(&file[at + 4]);
    }
    pc_.WriteBytes(1, record, file);
    ASSERT_EQ(Shell("ntfsinfo -F /BOOTMGR " + pc_.ExtractVolume(1, start, count, "stick.vol") + " 2>&1", &info), 0);
    EXPECT_TRUE(std::regex_search(info, std::regex("\\$DATA[^$]*Attribute flags:\\s*0x0001"))) << info;
  }
  disk_fixture::SimulatedPc pc_;
  iso_fixture::TempFolder scratch_;
};

// The no-emulation program's checks: the El Torito status call names drive
// 0x80, and an extended read of two 2,048-byte blocks from block 16 brings
// the volume descriptors of blocks 16 and 17 ("CD001" at byte 1 of each).
constexpr const char* kCdChecks = R"(
        mov ax, 0x4B01
        mov dl, 0x80
        mov si, status
        int 0x13
        jc fail
        cmp byte [status + 2], 0x80
        jne fail
        mov ah, 0x42
        mov dl, 0x80
        mov si, packet
        int 0x13
        jc fail
        mov si, 0x8001
        mov di, cd001
        mov cx, 5
        repe cmpsb
        jne fail
        mov si, 0x8801
        mov di, cd001
        mov cx, 5
        repe cmpsb
        jne fail
        jmp checked
status: times 19 db 0
packet: db 16, 0
        dw 2, 0x8000, 0
        dq 16
cd001:  db "CD001"
checked:
)";

// A diskette's boot sector: reads cylinder 0, head 1, sector 1 (its sector
// 18) of drive 0 to 0000:8000 and starts it there.
constexpr const char* kDisketteBootSector = R"(
        bits 16
        org 0x7C00
        xor ax, ax
        mov ds, ax
        mov es, ax
        mov ax, 0x0201
        mov cx, 0x0001
        mov dh, 1
        mov dl, 0
        mov bx, 0x8000
        int 0x13
        jc halt
        jmp 0:0x8000
halt:   hlt
        jmp halt
)";

TEST_F(QemuBootTest, HybridImageBootsItsElToritoProgram) {
  // Started at 0000:7C00: the code segment is 0, as the text's address needs.
  std::string program = SerialProgram(scratch_.path, "0x7C00", "PELLIMOR-ELTORITO-MARKER", 0, kCdChecks);
  iso_fixture::IsoSpec spec;
  spec.files = {{"/README.TXT", "hybrid"}};
  spec.volumeId = "LINUX_LIVE";
  spec.boot = iso_fixture::BootKind::NoEmulation;
  spec.bootImage = program + std::string(2048 - program.size(), '\0');
  iso_fixture::MakeIso(spec, scratch_.file("test.iso"));
  BrandingFlags = 1;  // boot the image at once
  Write();
  std::string serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), "PELLIMOR-ELTORITO-MARKER", 60);
  EXPECT_NE(serial.find("PELLIMOR-ELTORITO-MARKER"), std::string::npos) << serial;
}

TEST_F(QemuBootTest, WindowsImageStartsBootmgrFromTheFat32Root) {
  iso_fixture::IsoSpec spec;
  // 40 files ahead of BOOTMGR fill more than one cluster of the root
  // directory; the 6,000 bytes of padding spread BOOTMGR over several.
  for (int i = 0; i < 40; ++i) {
    char name[16];
    snprintf(name, sizeof name, "/A%02d.TXT", i);
    spec.files.push_back({name, "file " + std::to_string(i)});
  }
  spec.files.push_back({"/BOOTMGR", SerialProgram(scratch_.path, "0", "PELLIMOR-BOOTMGR-MARKER", 6000)});
  spec.files.push_back({"/BOOT/BCD", "bcd"});
  spec.volumeId = "WIN_PE";
  spec.boot = iso_fixture::BootKind::NoEmulation;
  spec.bootImage = iso_fixture::WindowsLikeBootImage("BOOTMGR");
  iso_fixture::MakeIso(spec, scratch_.file("test.iso"));
  BrandingFlags = 1;
  Write();
  std::string serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), "PELLIMOR-BOOTMGR-MARKER", 60);
  EXPECT_NE(serial.find("PELLIMOR-BOOTMGR-MARKER"), std::string::npos) << serial;
}

// A 1.44 MB diskette image: the loader hands it drive 0, whose CHS reads
// land on the image's sectors behind LBA 130; with a pass key the image is
// written scrambled, and the key typed at the loader's prompt restores both
// what the loader loads and what the diskette reads later.
TEST_F(QemuBootTest, DisketteImageReadsItsOwnSectorsWithAndWithoutPassKey) {
  std::string boot = Assemble(kDisketteBootSector, scratch_.path, "floppy");
  std::string second = SerialProgram(scratch_.path, "0x8000", "PELLIMOR-DISKETTE-MARKER", 0);
  ASSERT_LE(second.size(), 512u);
  std::string floppy(1474560, '\0');
  floppy.replace(0, boot.size(), boot);
  floppy[510] = 0x55;
  floppy[511] = static_cast<char>(0xAA);
  floppy.replace(18 * 512, second.size(), second);
  iso_fixture::IsoSpec spec;
  spec.files = {{"/README.TXT", "diskette"}};
  spec.volumeId = "FLOPPY";
  spec.boot = iso_fixture::BootKind::Diskette144;
  spec.bootImage = floppy;
  iso_fixture::MakeIso(spec, scratch_.file("test.iso"));
  BrandingFlags = 1;
  struct Case {
    const char16_t* key;
    std::vector<std::string> keys;
  } cases[] = {{u"", {}}, {u"Ab3", {"shift-a", "b", "3", "ret"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.key));
    PassKey = c.key;
    Write();
    if (!c.keys.empty()) {
      // The loader's long wait (20 s, byte 756) lets the keys typed at 8 s
      // reach it however slowly the machine starts.
      pc_.WriteBytes(1, 756, std::string(1, '\x01'));
    }
    auto scrambled = pc_.ReadBytes(1, (130 + 18) * 512, 512);
    EXPECT_EQ(std::string(scrambled.begin(), scrambled.begin() + 32) == second.substr(0, 32), PassKey.IsEmpty())
        << "the image lies scrambled on the stick only with a key";
    std::string serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), "PELLIMOR-DISKETTE-MARKER", 60, c.keys);
    EXPECT_NE(serial.find("PELLIMOR-DISKETTE-MARKER"), std::string::npos) << serial;
    std::remove(scratch_.file("serial.txt").c_str());
  }
  PassKey = u"";
}

TEST_F(QemuBootTest, BlobOnlyBrandingStartsTheBiosTool) {
  std::string source = std::string(DRUM_SOURCE_DIR_TEST) + "/usbwriter/boot/bios_tool.asm";
  std::ifstream in(source);
  std::string tool = Assemble(std::string((std::istreambuf_iterator<char>(in)), {}), scratch_.path, "tool");
  memcpy(BiosBlob, tool.data(), tool.size());
  BiosBlobLength = static_cast<uint32_t>(tool.size());
  iso_fixture::IsoSpec spec;
  spec.files = {{"/README.TXT", "blob"}};
  iso_fixture::MakeIso(spec, scratch_.file("test.iso"));
  BrandingFlags = 2;
  NeedBiosBlob = true;
  Write();
  std::string serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), "PELLIMOR BIOS TOOL RAN", 60);
  EXPECT_NE(serial.find("PELLIMOR BIOS TOOL RAN"), std::string::npos) << serial;
}

// A stick written for a diskette image carries a FAT16 volume. Started from
// its partition (LBA 0's code replaced by the MBR code that loads the active
// partition's first sector), the volume's boot sector says "NTLDR is
// missing" while the root has no NTLDR, and starts NTLDR once mcopy put it
// there: behind 20 files, so that the root directory is read beyond its
// first sector, and in two clusters that a smaller file sits between (mcopy
// reuses the cluster freed by the deleted A.BIN first).
TEST_F(QemuBootTest, Fat16VolumeStartsNtldrOrSaysItIsMissing) {
  iso_fixture::IsoSpec spec;
  spec.files = {{"/README.TXT", "fat16"}};
  spec.volumeId = "FLOPPY";
  spec.boot = iso_fixture::BootKind::Diskette144;
  spec.bootImage = std::string(1474560, '\0');
  iso_fixture::MakeIso(spec, scratch_.file("test.iso"));
  BrandingFlags = 1;
  Write();
  std::vector<uint8_t> mbr = pc_.ReadBytes(1, 0, 512);
  ASSERT_EQ(mbr[446 + 4], 6) << "a FAT16 partition";
  memcpy(mbr.data(), MbrCodeTemplate, sizeof MbrCodeTemplate);
  pc_.WriteBytes(1, 0, mbr);
  uint64_t start = platform::ReadLe32(&mbr[454]);
  std::string volume = pc_.Image(1) + "@@" + std::to_string(start * 512);
  auto copy = [&](const std::string& bytes, const std::string& name) {
    std::string file = scratch_.file("copy.bin"), out;
    std::ofstream(file, std::ios::binary) << bytes;
    EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + volume + " " + file + " ::/" + name + " 2>&1", &out), 0) << out;
  };
  for (int i = 0; i < 20; ++i) copy("file " + std::to_string(i), "F" + std::to_string(i) + ".TXT");
  std::string serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), "Ctrl+Alt+Del", 60, {}, true);
  EXPECT_NE(serial.find("NTLDR is missing"), std::string::npos) << serial;
  std::remove(scratch_.file("serial.txt").c_str());

  std::string program = SerialProgram(scratch_.path, "0", "PELLIMOR-NTLDR-MARKER", 60000);
  copy("first cluster", "A.BIN");
  copy("between", "GAP.BIN");
  std::string out;
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdel -i " + volume + " ::/A.BIN 2>&1", &out), 0) << out;
  copy(program, "NTLDR");
  serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), "PELLIMOR-NTLDR-MARKER", 60, {}, true);
  EXPECT_NE(serial.find("PELLIMOR-NTLDR-MARKER"), std::string::npos) << serial;
  EXPECT_EQ(serial.find("NTLDR is missing"), std::string::npos) << serial;
}

// NTFS chosen for a Windows image on Windows XP: the volume carries the
// program's own boot code, which finds BOOTMGR (copied from the image behind
// 40 files, so that the root directory's index needs index blocks) through
// the MFT and loads its data; without BOOTMGR in the root it says so, and
// with BOOTMGR's data marked compressed (ntfsinfo confirms the mark) it says
// that instead.
TEST_F(QemuBootTest, NtfsVolumeStartsBootmgrOrSaysItIsMissing) {
  struct Case {
    bool bootmgr;
    bool compressed;
    const char* shown;
    const char* notShown;
  } cases[] = {{false, false, "BOOTMGR is missing", "PELLIMOR-NTFS-MARKER"},
               {true, false, "PELLIMOR-NTFS-MARKER", "BOOTMGR is missing"},
               {true, true, "BOOTMGR is compressed", "PELLIMOR-NTFS-MARKER"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    iso_fixture::IsoSpec spec;
    for (int i = 0; i < 40; ++i) spec.files.push_back({"/FILE" + std::to_string(i) + ".TXT", "file"});
    if (c.bootmgr) spec.files.push_back({"/BOOTMGR", SerialProgram(scratch_.path, "0", "PELLIMOR-NTFS-MARKER", 50000)});
    spec.files.push_back({"/BOOT/BCD", "bcd"});
    spec.volumeId = "WIN_PE";
    spec.boot = iso_fixture::BootKind::NoEmulation;
    spec.bootImage = iso_fixture::WindowsLikeBootImage("BOOTMGR");
    iso_fixture::MakeIso(spec, scratch_.file("test.iso"));
    pc_.SetIni("os", "major", "5");
    pc_.SetIni("os", "minor", "1");
    pc_.Boot();
    IsoImageInfo = IsoImageInfoRecord{};
    ChosenFileSystem = kFileSystemNtfs;
    BrandingFlags = 1;
    Write(true);
    if (c.compressed) MarkBootmgrCompressed();
    std::string serial = Boot(pc_.Image(1), scratch_.file("serial.txt"), c.shown, 60, {}, true);
    EXPECT_NE(serial.find(c.shown), std::string::npos) << serial;
    EXPECT_EQ(serial.find(c.notShown), std::string::npos) << serial;
    std::remove(scratch_.file("serial.txt").c_str());
  }
}

}  // namespace
