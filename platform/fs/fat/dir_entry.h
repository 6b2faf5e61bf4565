// Directory entries: the 32-byte short entry, the long-name entries that
// precede it, and the parse of a directory's bytes into named entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs/fat/short_name.h"

namespace platform::fs::fat {

#pragma pack(push, 1)
struct DirEntryDisk {
  uint8_t name[11];               // +0x00 8.3, blank padded; [0] 0xE5 deleted, 0 end, 0x05 for 0xE5
  uint8_t attributes;             // +0x0b
  uint8_t case_flags;             // +0x0c kLowerBase | kLowerExtension
  uint8_t create_hundredths;      // +0x0d 10 ms units, 0..199
  uint16_t create_time;           // +0x0e
  uint16_t create_date;           // +0x10
  uint16_t access_date;           // +0x12
  uint16_t cluster_high;          // +0x14 FAT32 only
  uint16_t write_time;            // +0x16
  uint16_t write_date;            // +0x18
  uint16_t cluster_low;           // +0x1a
  uint32_t size;                  // +0x1c
};                                // 0x20 bytes

struct LongNameEntryDisk {
  uint8_t order;                  // +0x00 1-based, 0x40 on the last (first stored) entry
  uint16_t name1[5];              // +0x01
  uint8_t attributes;             // +0x0b always 0x0F
  uint8_t type;                   // +0x0c 0
  uint8_t checksum;               // +0x0d of the short name
  uint16_t name2[6];              // +0x0e
  uint16_t cluster;               // +0x1a 0
  uint16_t name3[2];              // +0x1c
};                                // 0x20 bytes
#pragma pack(pop)
static_assert(sizeof(DirEntryDisk) == 32);
static_assert(offsetof(DirEntryDisk, case_flags) == 0x0c);
static_assert(offsetof(DirEntryDisk, cluster_high) == 0x14);
static_assert(offsetof(DirEntryDisk, cluster_low) == 0x1a);
static_assert(offsetof(DirEntryDisk, size) == 0x1c);
static_assert(sizeof(LongNameEntryDisk) == 32);
static_assert(offsetof(LongNameEntryDisk, checksum) == 0x0d);
static_assert(offsetof(LongNameEntryDisk, name2) == 0x0e);
static_assert(offsetof(LongNameEntryDisk, name3) == 0x1c);

constexpr size_t kEntrySize = 32;
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolumeLabel = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kLastLongEntry = 0x40;
constexpr size_t kCharsPerLongEntry = 13;
constexpr size_t kMaxDirectoryEntries = 65536;  // a directory never grows past 2 MiB

// One named entry of a directory, as parsed.
struct DirectoryEntry {
  size_t first_slot = 0;          // first long-name slot, or the short slot when none
  size_t short_slot = 0;
  std::u16string long_name;       // empty when the entry has no valid long name
  ShortName short_name{};
  // The short name holds only ASCII without lower-case letters (and no 0x05
  // lead byte), so a lookup compares it byte for byte with the upper-cased name.
  bool plain_short = false;
  DirEntryDisk disk{};
  bool is_dot() const { return disk.name[0] == '.'; }
  bool is_label() const { return (disk.attributes & kAttrVolumeLabel) && !(disk.attributes & kAttrDirectory); }
  bool is_directory() const { return disk.attributes & kAttrDirectory; }
  uint32_t first_cluster() const { return (uint32_t(disk.cluster_high) << 16) | disk.cluster_low; }
  // The name users see: the long name, else the short name with its case flags.
  std::u16string name() const;
  size_t slot_count() const { return short_slot - first_slot + 1; }
};

struct ParsedDirectory {
  std::vector<DirectoryEntry> entries;  // named entries, labels and dot entries included
  size_t end_slot = 0;                  // first slot of the end marker (or the slot count)
  // Slots that are free for reuse: deleted, or at or after the end marker.
  std::vector<uint8_t> free_slots;
};

// Parses `slot_count` entries of 32 bytes. Long-name runs with a wrong order,
// checksum or a missing piece are ignored (the short name stands alone), as the
// platform does. `fat32` keeps the high cluster word, which FAT12/16 ignore.
ParsedDirectory ParseDirectory(const uint8_t* bytes, size_t slot_count, bool fat32);

// The long-name slots (in disk order) followed by the short slot for a name.
std::vector<uint8_t> BuildEntrySlots(const std::u16string& long_name, bool with_long_entries,
                                     const DirEntryDisk& short_entry);

}  // namespace platform::fs::fat
