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

// How the demo PC's system disk is laid out.
enum class DemoSystemDisk { Mbr, Gpt };

// The demo PC: disk 0 a 40 GiB SATA system disk (MBR, one active NTFS system
// partition made by mkntfs; or GPT, made by sgdisk, with a 100 MiB FAT32 EFI
// system partition, a 16 MiB reserved partition and the NTFS system
// partition), disk 1 a 120 GiB SATA disk left empty, disk 2 an 8 GiB
// removable USB stick (MBR, one FAT32 partition made by mkfs.fat).
bool CreateDemoMachine(const std::string& folder, std::string* error, DemoSystemDisk style = DemoSystemDisk::Mbr);

// The WinPE demo PC: the demo PC's three disks, started from a WinPE medium.
// Its OS facts say WinPE, with X:\Windows as the Windows folder; drive X: is
// the host folder winpe-x/ inside the machine folder (a RAM drive, as WinPE's
// is), holding Windows\System32 with a file for each outside program the
// platform stands in for there, Windows\Temp, Program Files and a RAID
// driver package, Drivers\DemoRaid\demoraid.inf.
bool CreateWinPEDemoMachine(const std::string& folder, std::string* error);

// Reads DIR/machine.ini without opening the machine.
bool ReadMachineConfig(const std::string& folder, MachineConfig* config, std::string* error);

// Where a program's install folder lies on the machine: "X:\NAME" under
// WinPE, else "<program_files_folder>\NAME".
std::string ProgramFolderOn(const MachineConfig& config, const std::string& name);

// Shows the host folder `host` as the install folder of program NAME on the
// machine in DIR (ProgramFolderOn), through the host mount named after the
// program in lower case: added when missing, moved when it lies elsewhere
// (its host kept), left alone when it is in place. Under WinPE the machine
// must have an X: drive. *program_folder receives the folder's path.
bool MountProgramFolder(const std::string& folder, const std::string& name, const std::string& host,
                        std::string* program_folder, std::string* error);

// Runs a host program with arguments and no shell; false with *error naming
// the program and its exit status. Output goes to *output when given.
bool RunHostTool(const std::vector<std::string>& argv, std::string* output, std::string* error);

// Writes a one-partition MBR into sector 0 of `image`: the given signature,
// type byte and active flag, the partition at [start, start + length) in bytes.
bool WriteSinglePartitionMbr(const std::string& image, uint32_t sector_size, uint32_t signature, uint8_t type,
                             bool active, uint64_t start, uint64_t length, std::string* error);

}  // namespace platform::machine
