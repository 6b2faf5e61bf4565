// Pellimor's table of physical disks: sizes, models, serial numbers and bus
// names of disks 0 to 15 (10 and up always absent), the USB disks the
// destination page offers, the serial numbers recovered from the registry's
// device paths, and the drive letter of a new volume on a disk.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"

inline constexpr int kUsbDiskSlots = 16;

// Bus codes of a disk's record and their names.
enum UsbBusCode : uint8_t { kBusUnknown = 0, kBusAta = 1, kBusScsi = 2, kBusUsb = 3 };

struct UsbDiskRecord {
  uint8_t busCode = kBusUnknown;
  char vendor[18] = {};   // probed vendor and product texts, 17 bytes at most
  char product[18] = {};
  char model[32] = {};    // final model text, 31 characters at most
  char serial[32] = {};
};
extern UsbDiskRecord UsbDiskRecords[kUsbDiskSlots];

struct DiskTableEntry {
  uint32_t sectors = 0;  // 512-byte sectors; 0 = absent
  CString model;
  CString serial;
  CString busName;       // "Unknown", "IDE", "SCSI", "USB"
};
struct DiskTableRecord {
  DiskTableEntry disks[kUsbDiskSlots];
  // The USB disks the destination page lists: count and, per row after the
  // first (0-based here), the disk number.
  int usbCount = 0;
  int usbDisks[kUsbDiskSlots] = {};
};
extern DiskTableRecord DiskTable;

// Rebuilds DiskTable (identities and the list of USB disks).
void FillDiskTable();
void RefreshDiskIdentity(int disk);
void ReadUsbDiskIdentity(int disk);

// ATA IDENTIFY DEVICE through SMART_RCV_DRIVE_DATA on "\\.\PhysicalDriveN"
// (drive-head 0xA0 for even, 0xB0 for odd disk numbers): the model (40
// bytes at 54), firmware (8 at 46) and serial (20 at 20) with their byte
// pairs swapped. False, with empty texts, unless the whole 528-byte answer
// came back.
struct AtaIdentity {
  CString model, firmware, serial;
};
bool ReadAtaIdentify(int disk, AtaIdentity* identity);

// Serial numbers from HKLM "SYSTEM\CurrentControlSet\Services\disk\Enum":
// the device path that contains `prefix` ("USBSTOR\Disk&Ven_...&Prod_..."),
// a second identical stick taking the next matching entry.
CString SerialFromUsbstorEntry(const CString& prefix);
CString SerialFromDiskEnumEntry(int disk);
// The serial part of a device instance path's last part ("SERIAL&0" ->
// "SERIAL"; "7&1a2b&0&SERIAL&0" style paths keep the part after the first '&').
CString SerialFromInstancePath(const CString& path);

// The letter (its character code) of the volume that starts at `start`
// (512-byte sectors) on `disk`, or -1.
int32_t FindLetterForPartition(uint64_t start, int disk);
