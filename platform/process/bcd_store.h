// The boot store as the stand-in BCD editors (bcdedit.exe, Vastrel.exe) see
// it: a registry hive file, read and written with hivex.
//
//   <root>\Objects\{id}\Description   value "Type" (REG_DWORD): 0x10100002 boot
//                                     manager, 0x10200003 boot loader
//   <root>\Objects\{id}\Elements\XXXXXXXX   value "Element", by element type:
//       11000001 device, 21000001 osdevice   (REG_BINARY device records, below)
//       12000002 path, 12000004 description  (REG_SZ)
//       23000003 default                      (REG_SZ "{id}")
//       24000001 displayorder                 (REG_MULTI_SZ of "{id}")
//       25000004 timeout                      (REG_BINARY 8-byte number)
// The boot manager's id is {9dea862c-5cdd-4e70-acc1-f32b344d4795}; "{bootmgr}"
// and "{default}" (the manager's default entry) name objects on the command line.
//
// Command lines: [/store FILE] [/enum [all]] | [/store FILE] /set ID NAME VALUE.
// A /store with no command lists the store. Listing layout, one block per
// entry, preceded by a blank line:
//   Windows Boot Manager
//   --------------------
//   identifier              {bootmgr}
//   device                  partition=C:
// Exit code 0 on success, 1 with a message on standard output otherwise.
//
// Device records are the binary form the boot manager reads: they name a
// partition by its disk (MBR disk signature, or GPT disk GUID) and its place
// (byte offset, or GPT partition GUID), never by a drive letter or volume
// number, so a store stays valid wherever its disk is attached. "/set ID
// device partition=X:" (or "partition=\Device\HarddiskVolumeN") looks the
// volume's disk up while the machine runs; "partition=BOOT" or "boot" names
// the device the firmware started from. The listing names a partition by its
// letter (or its device name when it has none); "unknown" when no volume of
// the machine matches. Layout (little-endian), 88 bytes for a partition:
//   +0   16 zero             +16 type (5 boot, 6 partition)   +20 flags 0
//   +24  size from +16 to the end (0x48; 12 for the boot device)   +28 zero
//   +32  16 partition: GPT partition GUID, or MBR byte offset (8) and 8 zero
//   +48  zero   +52 style (0 GPT, 1 MBR)
//   +56  16 disk: GPT disk GUID, or MBR signature (4) and 12 zero   +72 16 zero
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/types.h"

namespace platform::process {

// Device record data (see above).
constexpr size_t kBcdPartitionDeviceBytes = 88;
constexpr size_t kBcdBootDeviceBytes = 28;
constexpr uint32_t kBcdDeviceBoot = 5;
constexpr uint32_t kBcdDevicePartition = 6;
std::vector<uint8_t> BcdBootDevice();
std::vector<uint8_t> BcdMbrPartitionDevice(uint32_t disk_signature, uint64_t offset);
std::vector<uint8_t> BcdGptPartitionDevice(const GUID& disk_guid, const GUID& partition_guid);

// A device record read back. Kind Invalid for data of another form or size.
struct BcdDevice {
  enum class Kind { Invalid, Boot, MbrPartition, GptPartition } kind = Kind::Invalid;
  uint32_t disk_signature = 0;  // MBR
  uint64_t offset = 0;          // MBR, bytes
  GUID disk_guid{};             // GPT
  GUID partition_guid{};        // GPT
};
BcdDevice DecodeBcdDevice(const uint8_t* data, size_t size);

struct BcdLoaderSpec {
  std::string id;               // "{c0a9f1e2-...}"
  std::string description;      // "Windows 7"
  std::vector<uint8_t> device;  // a device record; none when empty
  std::string path = "\\Windows\\system32\\winload.exe";
};

// Writes a boot store with a boot manager on `manager_device` (a device
// record) whose default is the first loader. Returns false when the file
// cannot be written.
bool CreateBcdStoreFile(const std::string& host_path, const std::vector<uint8_t>& manager_device,
                        const std::vector<BcdLoaderSpec>& loaders);

constexpr const char* kBootManagerId = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

}  // namespace platform::process
