// Sticks written by the write sequence boot in QEMU (its own BIOS, no KVM,
// serial console to a file, bounded in time): a hybrid image whose El Torito
// boot image is a tiny program assembled here starts through the stick's
// loader and prints its marker on the serial port; a blob-only branding
// starts the BIOS tool from the 127 sectors after LBA 2. Skipped, with the
// reason, where qemu-system-x86_64 is not installed.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/fs/volume_set.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso_reader.h"
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

std::string Assemble(const std::string& source, const std::string& folder, const std::string& name) {
  std::string asm_path = folder + "/" + name + ".asm", bin = folder + "/" + name + ".bin";
  std::ofstream(asm_path) << source;
  std::string out;
  EXPECT_EQ(Shell("nasm -f bin " + asm_path + " -o " + bin + " 2>&1", &out), 0) << out;
  std::ifstream in(bin, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Boots the image in QEMU for at most `seconds`; returns the serial output
// once `marker` appears (or whatever came by the end).
std::string Boot(const std::string& image, const std::string& serial, const std::string& marker, int seconds) {
  std::string command = "timeout " + std::to_string(seconds) +
                        " qemu-system-x86_64 -machine pc -m 64 -display none -monitor none -no-reboot"
                        " -drive file=" + image + ",format=raw,if=ide -serial file:" + serial +
                        " >/dev/null 2>&1 & echo $!";
  std::string pid;
  Shell(command, &pid);
  std::string text;
  for (int i = 0; i < seconds * 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::ifstream in(serial, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
    if (text.find(marker) != std::string::npos) break;
  }
  // The run's own timeout process passes the signal on to QEMU.
  pid.erase(pid.find_last_not_of("\n ") + 1);
  if (!pid.empty()) Shell("kill " + pid + " >/dev/null 2>&1");
  return text;
}

class QemuBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v qemu-system-x86_64 >/dev/null 2>&1") != 0) {
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
  void Write() {
    QuietHost host;
    RunUsbWrite(&host, 1, u"I:\\test.iso");
    ASSERT_EQ(host.errors, 0);
    platform::fs::ReleaseAllDrivers();
  }
  disk_fixture::SimulatedPc pc_;
  iso_fixture::TempFolder scratch_;
};

TEST_F(QemuBootTest, HybridImageBootsItsElToritoProgram) {
  std::string program = Assemble(R"(
        bits 16
        org 0x7C00
        xor ax, ax
        mov ds, ax
        mov si, text
next:   lodsb
        or al, al
        jz done
        mov ah, al
        mov dx, 0x3FD
busy:   in al, dx
        test al, 0x20
        jz busy
        mov al, ah
        mov dx, 0x3F8
        out dx, al
        jmp next
done:   hlt
        jmp done
text:   db "PELLIMOR-ELTORITO-MARKER", 13, 10, 0
)",
                                 scratch_.path, "program");
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

}  // namespace
