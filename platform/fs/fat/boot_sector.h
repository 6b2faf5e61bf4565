// The FAT boot sector (BIOS parameter block), its validation, and the layout
// figures derived from it. The FAT kind is decided by the count of data
// clusters, never by the type text in the boot sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/types.h"

namespace platform::fs::fat {

#pragma pack(push, 1)
// Fields shared by every FAT kind, then the FAT12/16 and FAT32 tails.
struct BootSectorDisk {
  uint8_t jump[3];                // +0x00
  char oem_name[8];               // +0x03
  uint16_t bytes_per_sector;      // +0x0b
  uint8_t sectors_per_cluster;    // +0x0d
  uint16_t reserved_sectors;      // +0x0e
  uint8_t fat_count;              // +0x10
  uint16_t root_entries;          // +0x11 0 on FAT32
  uint16_t total_sectors16;       // +0x13 0 when the 32-bit count is used
  uint8_t media;                  // +0x15
  uint16_t fat_size16;            // +0x16 0 on FAT32
  uint16_t sectors_per_track;     // +0x18
  uint16_t heads;                 // +0x1a
  uint32_t hidden_sectors;        // +0x1c
  uint32_t total_sectors32;       // +0x20
  union {
    struct {                      // FAT12/16
      uint8_t drive_number;       // +0x24
      uint8_t reserved1;          // +0x25
      uint8_t boot_signature;     // +0x26 0x29 when serial and label follow
      uint32_t serial;            // +0x27
      char label[11];             // +0x2b
      char fs_type[8];            // +0x36
    } fat16;
    struct {                      // FAT32
      uint32_t fat_size32;        // +0x24
      uint16_t ext_flags;         // +0x28 bit 7: only the FAT in bits 0-3 is active
      uint16_t fs_version;        // +0x2a
      uint32_t root_cluster;      // +0x2c
      uint16_t fsinfo_sector;     // +0x30
      uint16_t backup_boot_sector;// +0x32
      uint8_t reserved[12];       // +0x34
      uint8_t drive_number;       // +0x40
      uint8_t reserved1;          // +0x41
      uint8_t boot_signature;     // +0x42
      uint32_t serial;            // +0x43
      char label[11];             // +0x47
      char fs_type[8];            // +0x52
    } fat32;
  };
};                                // 0x5a bytes
#pragma pack(pop)
static_assert(sizeof(BootSectorDisk) == 0x5a);
static_assert(offsetof(BootSectorDisk, total_sectors32) == 0x20);
static_assert(offsetof(BootSectorDisk, fat16) + offsetof(decltype(BootSectorDisk::fat16), label) == 0x2b);
static_assert(offsetof(BootSectorDisk, fat32) + offsetof(decltype(BootSectorDisk::fat32), root_cluster) == 0x2c);
static_assert(offsetof(BootSectorDisk, fat32) + offsetof(decltype(BootSectorDisk::fat32), label) == 0x47);

constexpr size_t kBootSignatureOffset = 510;  // 0x55 0xAA
constexpr uint8_t kExtendedBootSignature = 0x29;
constexpr uint32_t kFat12MaxClusters = 4084;   // fewer than 4085 clusters: FAT12
constexpr uint32_t kFat16MaxClusters = 65524;  // fewer than 65525 clusters: FAT16
constexpr uint32_t kFat32MaxClusters = 0x0FFFFFF5;

enum class FatKind : uint8_t { Fat12 = 12, Fat16 = 16, Fat32 = 32 };

// Layout of one volume in bytes and sectors, validated against the device size.
struct FatGeometry {
  FatKind kind = FatKind::Fat12;
  uint32_t bytes_per_sector = 512;
  uint32_t sectors_per_cluster = 1;
  uint32_t bytes_per_cluster = 512;
  uint32_t reserved_sectors = 1;
  uint32_t fat_count = 2;
  uint32_t fat_sectors = 0;       // sectors per FAT copy
  uint32_t root_entries = 0;      // FAT12/16 fixed root
  uint32_t root_sectors = 0;      // FAT12/16 fixed root
  uint64_t total_sectors = 0;
  uint32_t cluster_count = 0;     // data clusters, numbered 2 .. cluster_count + 1
  uint32_t root_cluster = 0;      // FAT32 only
  uint32_t fsinfo_sector = 0;     // FAT32, 0 when none
  uint32_t backup_boot_sector = 0;// FAT32, 0 when none
  uint32_t active_fat = 0;        // the copy read at mount
  uint32_t serial = 0;
  std::string label;              // from the boot sector, blanks trimmed; "NO NAME" counts as none

  uint64_t fat_offset(uint32_t copy) const {
    return (uint64_t(reserved_sectors) + uint64_t(copy) * fat_sectors) * bytes_per_sector;
  }
  uint64_t root_offset() const { return fat_offset(fat_count); }
  uint64_t data_offset() const { return root_offset() + uint64_t(root_sectors) * bytes_per_sector; }
  uint64_t cluster_offset(uint32_t cluster) const {
    return data_offset() + uint64_t(cluster - 2) * bytes_per_cluster;
  }
  uint32_t max_cluster() const { return cluster_count + 1; }
  bool is_data_cluster(uint32_t c) const { return c >= 2 && c <= max_cluster(); }
  // Byte offsets of the boot-sector label field for this kind.
  size_t label_field_offset() const { return kind == FatKind::Fat32 ? 0x47 : 0x2b; }
};

// Parses and validates a boot sector read from a device of `device_size` bytes.
// Returns ERROR_SUCCESS, ERROR_UNRECOGNIZED_VOLUME when the sector is not a FAT
// boot sector at all or its layout contradicts the kind its cluster count gives
// (a FAT32 layout with fewer than 65525 clusters), or ERROR_FILE_CORRUPT when it is one with impossible
// fields (zero cluster size, FAT too small for its clusters, volume larger than
// the device, ...). `why` names the field at fault.
DWORD ParseBootSector(const uint8_t* sector, size_t length, uint64_t device_size, FatGeometry* out,
                      std::string* why = nullptr);

}  // namespace platform::fs::fat
