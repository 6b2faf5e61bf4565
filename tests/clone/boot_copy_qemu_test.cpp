// A BIOS disk that boots, and its copies, started in QEMU (SeaBIOS, serial
// console, no network, bounded in time). The source disk is made by sfdisk,
// mkntfs or mkfs.fat (NTFS, FAT32, FAT16), ntfscp or mcopy; its boot chain is three programs that
// each print a line on the serial port: the MBR code (bytes 0-439), a loader
// in the sectors between sector 0 and the first partition that the MBR code
// reads, and the boot manager file of the active volume, found and loaded by
// the volume's own boot code (the suite's boot sector, here looking for the
// name SRCBOOT, so that the boot code a formatter writes, which looks for
// BOOTMGR, cannot stand in for the source's). The basic copy (new table, new
// file system, files copied) and the sector-by-sector copy, both made through
// the clone wizard, must print the same lines as the source.
// Skipped, with the reason, where qemu-system-x86_64 or nasm is missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "disk/fixture_images.h"
#include "mainapp/clone/boot_code.h"
#include "mainapp/clone/clone_commands.h"
#include "mainapp/clone/destination_page.h"
#include "mainapp/clone/source_page.h"
#include "platform/core/little_endian.h"
#include "platform/fs/boot/volume_boot_code.h"
#include "platform/fs/formatter.h"
#include "platform/fs/volume_set.h"
#include "platform/core/text.h"
#include "platform/storage/volume_table.h"
#include "platform/ui/headless_driver.h"
#include "tests/support/qemu_boot.h"
#include "tests/support/temp_folder.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kStart = 2048;  // the system partition, in sectors
constexpr uint64_t kCount = 58 * 2048;
constexpr const char* kLines = "SOURCE-MBR-CODE\r\nSOURCE-GAP-LOADER\r\nSOURCE-BOOT-MANAGER\r\n";

// Writes the text at DS:SI, up to its zero, to the first serial port.
constexpr const char* kSerialPrint = R"(
print:  lodsb
        or al, al
        jz .done
        mov ah, al
        mov dx, 0x3FD
.busy:  in al, dx
        test al, 0x20
        jz .busy
        mov al, ah
        mov dx, 0x3F8
        out dx, al
        jmp print
.done:  ret
)";

// `source` with the serial print routine where it says %%PRINT%%.
std::string WithPrint(std::string source) {
  const size_t at = source.find("%%PRINT%%");
  if (at != std::string::npos) source.replace(at, 9, kSerialPrint);
  return source;
}

// The MBR code: prints its line, reads the loader (sectors 1-4) to 0000:8000
// and starts it when it carries its mark; else says so and halts.
constexpr const char* kMbrCode = R"(
        bits 16
        org 0x7C00
        xor ax, ax                      ; 33 C0, as such code opens
        mov ds, ax
        mov es, ax
        mov ss, ax
        mov sp, 0x7C00
        mov [drive], dl
        mov si, line
        call print
        mov ah, 0x42
        mov dl, [drive]
        mov si, packet
        int 0x13
        jc no_loader
        cmp dword [0x8000], 'GAPL'
        jne no_loader
        mov dl, [drive]
        jmp 0:0x8004
no_loader:
        mov si, missing
        call print
halt:   hlt
        jmp halt
%%PRINT%%
drive:  db 0
packet: db 16, 0
        dw 4, 0x8000, 0
        dq 1
line:   db "SOURCE-MBR-CODE", 13, 10, 0
missing: db "NO-GAP-LOADER", 13, 10, 0
        times 440 - ($ - $$) db 0
)";

// The loader of sectors 1-4 (at 0000:8000): its line stands at its end, so
// that it only comes out whole when all four sectors were carried; then it
// loads the active partition's first sector to 0000:7C00 and starts it with
// DL the drive and DS:SI its table entry, as MBR code does.
constexpr const char* kGapLoader = R"(
        bits 16
        org 0x8000
        db 'GAPL'
        mov [drive], dl
        mov si, line
        call print
        mov si, 0x7C00 + 446
        mov cx, 4
find:   cmp byte [si], 0x80
        je found
        add si, 16
        loop find
        jmp halt
found:  mov di, 0x0600              ; the entry, away from the sector read over it
        push di
        mov cx, 16
        rep movsb
        pop si
        mov eax, [si + 8]
        mov [packet + 8], eax
        push si
        mov ah, 0x42
        mov dl, [drive]
        mov si, packet
        int 0x13
        pop si
        jc halt
        cmp word [0x7DFE], 0xAA55
        jne halt
        mov dl, [drive]
        jmp 0:0x7C00
halt:   hlt
        jmp halt
%%PRINT%%
drive:  db 0
packet: db 16, 0
        dw 1, 0x7C00, 0
        dq 0
        times 4 * 512 - 32 - ($ - $$) db 0
line:   db "SOURCE-GAP-LOADER", 13, 10, 0
        times 4 * 512 - ($ - $$) db 0
)";

// `code` with the name the code looks for replaced by "SRCBOOT": the last
// "BOOTMGR" (the texts it prints come before it), or `name` where given.
std::string LookingForSrcboot(const uint8_t* code, size_t size, const std::string& name = "BOOTMGR") {
  std::string bytes(reinterpret_cast<const char*>(code), size);
  const size_t at = bytes.rfind(name);
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) bytes.replace(at, 7, "SRCBOOT");
  return bytes;
}

// The partition type of a system volume of file system `fs`.
uint8_t MbrType(const std::string& fs) { return fs == "ntfs" ? 0x07 : fs == "fat32" ? 0x0C : 0x06; }

class BootCopyQemuTest : public clone_fixture::ClonePcTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ClonePcTest::SetUp();
    if (!test_support::HasQemu()) GTEST_SKIP() << "qemu-system-x86_64 or nasm is not installed";
  }
  void TearDown() override {
    RunDestinationPage = nullptr;
    ClonePcTest::TearDown();
  }

  // Disk 0: the bootable source with an active NTFS or FAT32 system
  // partition; disks 1 and 2 empty, for the basic and the sector copy.
  void MakeSource(const std::string& fs) {
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64 * kMiB, .product = "BIOS Disk", .serial = "B0"});
    Part system{.start = kStart, .count = kCount, .mbrType = MbrType(fs),
                .active = true, .fs = fs, .label = "SYSTEM"};
    // Files ahead of the boot manager, and a boot manager of several clusters.
    for (int i = 0; i < 30; ++i) system.files.push_back({"/FILE" + std::to_string(i) + ".TXT", "file\n"});
    system.files.push_back({"/SRCBOOT", test_support::SerialProgram(scratch_.path(), "0", "SOURCE-BOOT-MANAGER", 20000)});
    pc_.WriteMbr(0, {system}, 0x0B0071E5);
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 96 * kMiB, .product = "Basic Copy", .serial = "B1"});
    pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 96 * kMiB, .product = "Sector Copy", .serial = "B2"});

    const std::string mbr = test_support::Assemble(WithPrint(kMbrCode), scratch_.path(), "mbr");
    ASSERT_EQ(mbr.size(), 440u);
    pc_.WriteBytes(0, 0, mbr);
    const std::string loader = test_support::Assemble(WithPrint(kGapLoader), scratch_.path(), "gap");
    ASSERT_EQ(loader.size(), 4u * 512);
    pc_.WriteBytes(0, 512, loader);
    const uint64_t volume = kStart * 512;
    if (fs == "ntfs") {
      // Bytes 80-4,607 of the first nine sectors; the backup boot sector
      // (after the last counted sector) agrees with the first.
      const std::string code = LookingForSrcboot(NtfsBootCodeTemplate, sizeof NtfsBootCodeTemplate);
      pc_.WriteBytes(0, volume + kNtfsBootCodeOffset, code);
      const auto boot = pc_.ReadBytes(0, volume, 512);
      pc_.WriteBytes(0, volume + platform::ReadLe64(&boot[0x28]) * 512, boot);
    } else if (fs == "fat16") {
      // The jump, name and code around mkfs.fat's parameter block.
      auto boot = pc_.ReadBytes(0, volume, 512);
      const std::string code = LookingForSrcboot(Fat16BootmgrTemplate, sizeof Fat16BootmgrTemplate, "BOOTMGR    ");
      std::copy(code.begin(), code.begin() + 11, boot.begin());
      std::copy(code.begin() + kFat16ParameterBlockEnd, code.end(), boot.begin() + kFat16ParameterBlockEnd);
      pc_.WriteBytes(0, volume, boot);
    } else {
      // The jump, name and code around mkfs.fat's parameter block, the
      // continuation in sector 12, the backup boot sector the same.
      auto boot = pc_.ReadBytes(0, volume, 512);
      std::copy(Fat32BootTemplate, Fat32BootTemplate + 11, boot.begin());
      std::copy(Fat32BootTemplate + kFat32ParameterBlockEnd, Fat32BootTemplate + 512,
                boot.begin() + kFat32ParameterBlockEnd);
      pc_.WriteBytes(0, volume, boot);
      pc_.WriteBytes(0, volume + platform::ReadLe16(&boot[0x32]) * 512, boot);
      std::string continuation = LookingForSrcboot(Fat32BootContinuation, sizeof Fat32BootContinuation);
      continuation.resize(512, '\0');
      continuation[510] = 0x55;
      continuation[511] = static_cast<char>(0xAA);
      pc_.WriteBytes(0, volume + kFat32ContinuationSector * 512, continuation);
    }
    std::string out;
    const std::string image = pc_.ExtractVolume(0, kStart, kCount, "source.vol");
    ASSERT_EQ(Shell((fs == "ntfs" ? "ntfsfix -n " : "fsck.fat -n ") + image + " 2>&1", &out), 0) << out;
    Start();
    RegisterCloneCommands();
    RunDestinationPage = &RunDestinationPageModal;
  }

  // Copies disk 0 onto disk `destination` through the wizard's pages: the
  // whole disk, basic or sector by sector, Start, the result, the summary.
  void Copy(int destination, bool basic) {
    platform::ui::Script script;
    script.expect_dialog(CMirrorSource::IDD).tick(CMirrorSource::kList, 0);
    script.click(basic ? CMirrorSource::kBasic : CMirrorSource::kSectorBySector).click(CMirrorSource::kNext);
    script.expect_dialog(134).tick_text(1027, "Disk " + std::to_string(destination) + ":").click(1007);
    script.expect_dialog(136).click(1007);
    script.expect_dialog(191).click(1011).answer("ok").expect_dialog(138).expect_text(1024, "Completed").key("escape");
    auto run = disk_fixture::RunHeadless(script, [] {
      CMirrorSource page;
      page.DoModal();
    });
    ASSERT_EQ(run.failure, "") << run.log;
    platform::fs::ReleaseAllDrivers();
  }

  std::string Boot(int disk) {
    const std::string serial = scratch_.file("serial" + std::to_string(disk) + ".txt");
    return test_support::BootImage(pc_.Image(disk), serial, "SOURCE-BOOT-MANAGER", 40);
  }

  test_support::TempFolder scratch_;
};

TEST_P(BootCopyQemuTest, BasicAndSectorCopiesStartAsTheSourceDoes) {
  MakeSource(GetParam());
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(Boot(0), kLines) << "the source itself";
  Copy(1, true);
  Copy(2, false);
  std::string out;
  for (int disk : {1, 2}) {
    Shell("sfdisk -d " + pc_.Image(disk), &out);
    EXPECT_NE(out.find("bootable"), std::string::npos) << out;
  }
  EXPECT_EQ(Boot(1), kLines) << "the basic copy";
  EXPECT_EQ(Boot(2), kLines) << "the sector copy";
}

// On a PC running Windows XP the formatter leaves its tool's stub on the new
// volume (that system's own format gave another loader's code): the basic
// copy starts as the source does only because the source's own boot code is
// moved onto it.
TEST_P(BootCopyQemuTest, OnAnXpPcTheBasicCopyStartsAsTheSourceDoes) {
  pc_.SetIni("os", "major", "5");
  pc_.SetIni("os", "minor", "1");
  MakeSource(GetParam());
  Copy(1, true);
  EXPECT_EQ(Boot(1), kLines) << "the basic copy";
}

// A volume the platform formatted, as the basic copy formats its new
// partitions, starts BOOTMGR from its root through the boot code the
// formatter gave it (the disk's MBR code is the clone's own loader).
TEST_P(BootCopyQemuTest, AVolumeThePlatformFormattedStartsBootmgr) {
  const std::string fs = GetParam();
  pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64 * kMiB, .product = "Formatted", .serial = "F0"});
  pc_.WriteMbr(0, {{.start = kStart, .count = kCount, .mbrType = MbrType(fs), .active = true}},
               0x0F0F0F0F);
  pc_.WriteBytes(0, 0, std::vector<uint8_t>(kOwnMbrBootCode, kOwnMbrBootCode + kMbrBootCodeBytes));
  Start();
  WCHAR letter = 0;
  for (const auto& v : platform::storage::MountedVolumes())
    if (v.disk_number == 0 && v.offset == kStart * 512) letter = v.letter;
  ASSERT_NE(letter, 0) << "the partition has no letter";
  std::u16string root = std::u16string(1, letter) + u":\\";
  std::u16string kind = fs == "ntfs" ? u"NTFS" : fs == "fat32" ? u"FAT32" : u"FAT";
  std::u16string label;
  static bool formatted = false;
  formatted = false;
  FormatEx(root.data(), FMIFS_FIXED_MEDIA, kind.data(), label.data(), TRUE, 0, [](DWORD command, DWORD, PVOID info) {
    if (command == FMIFS_DONE) formatted = *static_cast<BOOLEAN*>(info) != 0;
    return BOOLEAN{1};
  });
  ASSERT_TRUE(formatted);
  for (int i = 0; i < 30; ++i) clone_fixture::PutFile(root + u"FILE" + platform::to_utf16(std::to_string(i)) + u".TXT", "file\n");
  clone_fixture::PutFile(root + u"BOOTMGR", test_support::SerialProgram(scratch_.path(), "0", "FORMATTED-BOOTMGR", 20000));
  platform::fs::ReleaseAllDrivers();
  EXPECT_EQ(test_support::BootImage(pc_.Image(0), scratch_.file("serial.txt"), "FORMATTED-BOOTMGR", 40),
            "FORMATTED-BOOTMGR\r\n");
}

INSTANTIATE_TEST_SUITE_P(SystemVolumes, BootCopyQemuTest, ::testing::Values("ntfs", "fat32", "fat16"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
