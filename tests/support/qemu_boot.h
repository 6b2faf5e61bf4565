// Starting disk images in QEMU for the boot tests: its own BIOS (SeaBIOS), no
// KVM, no network, the serial console to a file, bounded in time; and the
// small real-mode programs the tests assemble with nasm to print a line on
// the serial port.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// Whether qemu-system-x86_64 and nasm are installed (a test skips without them).
bool HasQemu();

// Assembles `source` with nasm (flat binary) in `folder` as NAME.asm; the
// bytes, or empty (with a test failure) when it does not assemble.
std::string Assemble(const std::string& source, const std::string& folder, const std::string& name);

// Boots `image` (raw, the first IDE disk) for at most `seconds`; returns the
// serial output once `marker` appears (or whatever came by the end). `keys`
// (QEMU key names) are typed eight seconds after the start, through the
// monitor. With `screen`, the BIOS copies what is written to the screen to
// the serial port too, so that boot code messages can be read there.
std::string BootImage(const std::string& image, const std::string& serial, const std::string& marker, int seconds,
                      const std::vector<std::string>& keys = {}, bool screen = false);

// A program for `origin` that runs `checks` (which jump to `fail` when
// something is wrong), then writes `marker` and a line end to the first
// serial port and halts; the text lies behind `padding` zero bytes, so the
// marker only comes out when the whole program was loaded.
std::string SerialProgram(const std::string& folder, const std::string& origin, const std::string& marker,
                          int padding, const std::string& checks = "");

}  // namespace test_support
