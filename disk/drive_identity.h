// Drive identity probe: the bus and the model text of each physical disk, as
// the disk lists show them. The disk enumeration probes every disk it lists
// and copies the model text and the bus name from the disk's record.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/types.h"

// Bus codes, the indexes of busNames: only a disk on the USB bus is "USB"
// (the one-click copy leaves USB disks out); SATA, NVMe and RAID disks have
// names of their own, the SCSI family (SAS, Fibre Channel, iSCSI) is "SCSI".
enum BusCode : uint8_t {
  kBusUnknown = 0,
  kBusIde = 1,
  kBusScsi = 2,
  kBusUsb = 3,
  kBusSata = 4,
  kBusNvme = 5,
  kBusRaid = 6,
  kBusOther = 7,  // IEEE 1394, SD, MMC, virtual disks
};
constexpr int kBusCodeCount = 8;

// The bus code of a storage descriptor's bus type.
uint8_t BusCodeOf(DWORD storageBusType);

// A disk's model text from its descriptor's vendor and product texts: each
// without the blanks it is padded with, joined by one blank ("ATA" and
// "Drumsim SSD 40" give "ATA Drumsim SSD 40"); either alone when the other
// is empty.
std::string JoinVendorAndProduct(const std::string& vendor, const std::string& product);

// One record per physical disk number 0..31.
struct DriveIdentityRecord {
  // One of the bus codes below; 0 when no probe succeeded.
  uint8_t busCode = 0;
  // Vendor text followed directly by product text, cut to 31 bytes, always
  // zero-terminated inside the field.
  char modelText[32] = {};
  // Serial text, zero-terminated; stays empty for disks identified by the
  // storage property query.
  char serialText[32] = {};
};

constexpr int32_t kDriveIdentityCount = 32;
// Indexed by physical disk number; numbers outside 0..31 are never probed.
extern DriveIdentityRecord DriveIdentities[kDriveIdentityCount];

// Clears the disk's record, then probes it when the disk opens for reading.
void ReadDriveIdentityForDisk(int32_t disk);
// The same for physical disks 0 to count - 1 (at most 32).
void ReadDriveIdentityForDisks(int32_t count);
// Runs the probes in order (storage query, SCSI miniport, SMART) on an NT-family platform.
void ReadDriveIdentity(int32_t disk);
// 1 when the disk answered the storage property query (record filled) or gave a
// usable media serial number (record unchanged), else 0.
int32_t ProbeIdentityByStorageQuery(int32_t disk);
// These two are never given an open device: they change nothing and return 0.
int32_t ProbeIdentityByScsiMiniport(int32_t disk);
int32_t ProbeIdentityBySmart(int32_t disk);
