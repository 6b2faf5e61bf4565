// Making machine folders: an empty PC, disks added to it, and the demo PC.
#pragma once

#include <string>

#include "platform/machine/machine.h"

namespace platform::machine {

// $DRUM_MACHINE, else $DRUM_MACHINE_DIR, else $DRUM_DEMO_DIR, else ~/.local/share/drumsuite/demo-pc.
std::string DefaultMachineFolder();

// Creates DIR (and parents) with a machine.ini holding default OS facts and no
// disks. Fails when DIR already holds a machine.ini.
bool CreateMachineFolder(const std::string& folder, std::string* error);

// Lists `disk` in DIR/machine.ini. With an image path, a missing image is
// created sparse at disk.size bytes (which must then be given and be a whole
// number of sectors); an existing image is used as it is. A device must be a
// block device that can be opened. Fails when the number is taken.
bool AddDiskToMachine(const std::string& folder, DiskConfig disk, std::string* error);

// Rewrites disk N's attached flag in DIR/machine.ini (simpc attach/detach).
bool SetDiskAttached(const std::string& folder, int number, bool attached, std::string* error);

// The demo PC: disk 0 a 40 GiB SATA system disk (MBR, one active NTFS system
// partition made by mkntfs), disk 1 a 120 GiB SATA disk left empty, disk 2 an
// 8 GiB removable USB stick (MBR, one FAT32 partition made by mkfs.fat).
bool CreateDemoMachine(const std::string& folder, std::string* error);

// Runs a host program with arguments and no shell; false with *error naming
// the program and its exit status. Output goes to *output when given.
bool RunHostTool(const std::vector<std::string>& argv, std::string* output, std::string* error);

// Writes a one-partition MBR into sector 0 of `image`: the given signature,
// type byte and active flag, the partition at [start, start + length) in bytes.
bool WriteSinglePartitionMbr(const std::string& image, uint32_t sector_size, uint32_t signature, uint8_t type,
                             bool active, uint64_t start, uint64_t length, std::string* error);

}  // namespace platform::machine
