#include "tests/support/qemu_boot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/shell.h"

namespace test_support {

bool HasQemu() {
  return Shell("command -v qemu-system-x86_64 >/dev/null 2>&1 && command -v nasm >/dev/null 2>&1") == 0;
}

std::string Assemble(const std::string& source, const std::string& folder, const std::string& name) {
  std::string asm_path = folder + "/" + name + ".asm", bin = folder + "/" + name + ".bin";
  std::ofstream(asm_path) << source;
  std::string out;
  EXPECT_EQ(Shell("nasm -f bin " + Quote(asm_path) + " -o " + Quote(bin) + " 2>&1", &out), 0) << out;
  std::ifstream in(bin, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string BootImage(const std::string& image, const std::string& serial, const std::string& marker, int seconds,
                      const std::vector<std::string>& keys, bool screen) {
  std::string typing = "(sleep 8;";
  for (const std::string& key : keys) typing += " echo 'sendkey " + key + "'; sleep 0.2;";
  typing += " sleep " + std::to_string(seconds) + ") | ";
  std::string console;
  if (screen) {
    std::string port = serial + ".port";  // the BIOS's console port, 0x3F8
    std::ofstream(port, std::ios::binary) << std::string("\xF8\x03", 2);
    console = " -fw_cfg name=etc/sercon-port,file=" + port;
  }
  // Its own process group, so that the typing and QEMU end together.
  std::string run = typing + "timeout --foreground " + std::to_string(seconds) +
                    " qemu-system-x86_64 -machine pc -m 64 -display none -monitor stdio -no-reboot -nic none" +
                    console + " -drive file=" + image + ",format=raw,if=ide -serial file:" + serial;
  std::string pid;
  Shell("setsid sh -c " + Quote(run) + " >/dev/null 2>&1 </dev/null & echo $!", &pid);
  std::string text;
  for (int i = 0; i < seconds * 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::ifstream in(serial, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
    if (text.find(marker) != std::string::npos) break;
  }
  pid.erase(pid.find_last_not_of("\n ") + 1);
  if (!pid.empty()) Shell("kill -- -" + pid + " >/dev/null 2>&1");
  return text;
}

std::string SerialProgram(const std::string& folder, const std::string& origin, const std::string& marker,
                          int padding, const std::string& checks) {
  return Assemble(R"(
        bits 16
        org )" + origin + R"(
        mov ax, cs
        mov ds, ax
        mov es, ax
)" + checks + R"(
        mov si, text
next:   lodsb
        or al, al
        jz fail
        mov ah, al
        mov dx, 0x3FD
busy:   in al, dx
        test al, 0x20
        jz busy
        mov al, ah
        mov dx, 0x3F8
        out dx, al
        jmp next
fail:   hlt
        jmp fail
        times )" + std::to_string(padding) + R"( db 0
text:   db ")" + marker + R"(", 13, 10, 0
)",
                  folder, "program");
}

}  // namespace test_support
