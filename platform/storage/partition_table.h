// The stand-in's own partition-table codec: reads a disk's MBR (with its chain
// of extended boot records) or GPT into a DiskLayout, and writes a DiskLayout
// back as real on-disk tables.
//
// The layout has the shape of the platform's extended drive-layout answer:
// - MBR: entries come in groups of four slots. Group 0 is the MBR's own table;
//   every extended boot record adds one group. Empty slots, the extended
//   container and the links between EBRs are listed too. Starts and lengths are
//   absolute byte positions on the disk (for a link: the next EBR's position and
//   the length its slot records). Partition numbers count the real partitions
//   (neither empty nor extended) from 1, primaries first in slot order, then the
//   logical drives in chain order; empty slots and extended entries have 0.
// - GPT: one entry per used slot of the entry array, in array order, numbered
//   from 1.
// - RAW: no entries (no boot signature, or a table that could not be read).
//
// Reading never trusts the disk: every position is bounds-checked against the
// device, the EBR chain is capped and loop-checked, and GPT headers and entry
// arrays are CRC-checked with the backup copy used when the primary is bad.
// Problems that still leave a usable answer are returned as findings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/types.h"

namespace platform::storage {

enum class PartitionStyle : uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

// Result codes of the codec. Values are fixed: callers and logs may keep them.
enum class TableStatus : int {
  Ok = 0,
  ReadFailed = 1,       // the device refused a read (its last error is kept in TableResult::os_error)
  WriteFailed = 2,      // the device refused a write
  DiskTooSmall = 3,     // the disk cannot hold the requested table
  BadGptHeader = 4,     // neither GPT header is usable (signature, size, CRC, positions)
  BadGptEntries = 5,    // neither entry array matches its CRC
  AbsurdEntryCount = 6, // entry count or entry size beyond what the codec accepts
  InvalidLayout = 7,    // a layout handed to the writer is inconsistent (overlap, outside the disk, ...)
  UnalignedLayout = 8,  // a start or length is not a whole number of sectors
};

// A short fixed text for each status ("read failed", ...).
const char* TableStatusName(TableStatus status);

struct TableResult {
  TableStatus status = TableStatus::Ok;
  DWORD os_error = 0;    // the device's last error for ReadFailed / WriteFailed
  std::string message;   // names the structure, the field, its offset and the bad value
  bool ok() const { return status == TableStatus::Ok; }
};

// Well-known MBR type bytes.
constexpr uint8_t kMbrTypeEmpty = 0x00;
constexpr uint8_t kMbrTypeExtendedChs = 0x05;
constexpr uint8_t kMbrTypeExtendedLba = 0x0F;
constexpr uint8_t kMbrTypeExtendedLinux = 0x85;
constexpr uint8_t kMbrTypeGptProtective = 0xEE;

// An extended partition is a container of logical drives chained by extended
// boot records, never a volume of its own. 0x05 and 0x0F are the types the
// DOS family writes and follows, and what the programs treat as extended;
// the programs list a 0x85 entry as a Linux partition.
constexpr bool IsDosExtendedType(int32_t type) { return type == kMbrTypeExtendedChs || type == kMbrTypeExtendedLba; }
// Those and Linux's own 0x85, which this codec follows too so that a disk
// made on Linux shows its logical drives, and which the clone never copies
// as a volume.
constexpr bool IsExtendedType(int32_t type) { return IsDosExtendedType(type) || type == kMbrTypeExtendedLinux; }

// One entry of a layout. For MBR entries the GPT fields are zero; for GPT
// entries the MBR fields are zero.
struct LayoutEntry {
  PartitionStyle style = PartitionStyle::Mbr;
  uint64_t start = 0;           // bytes from the start of the disk
  uint64_t length = 0;          // bytes
  uint32_t number = 0;          // as the platform numbers partitions; 0 for empty slots and extended entries
  bool rewrite = false;         // the caller's RewritePartition flag (kept, not interpreted)
  // MBR
  uint8_t mbr_type = 0;
  bool boot = false;
  bool recognized = false;      // a real partition (neither empty nor extended)
  uint32_t hidden_sectors = 0;  // primaries: start sector; logical drives: sectors from their EBR
  // GPT
  GUID type_guid{};
  GUID id_guid{};
  uint64_t attributes = 0;
  std::u16string name;          // at most 36 UTF-16 units

  bool is_empty() const;        // an unused MBR slot (type 0 and no extent)
  bool is_extended() const { return style == PartitionStyle::Mbr && IsExtendedType(mbr_type); }
};

struct DiskLayout {
  PartitionStyle style = PartitionStyle::Raw;
  uint32_t mbr_signature = 0;    // MBR: the disk signature at byte 440
  GUID disk_guid{};              // GPT
  uint64_t first_usable = 0;     // GPT: bytes, the first usable position
  uint64_t usable_length = 0;    // GPT: bytes from first_usable to the end of the last usable sector
  uint32_t max_partition_count = 0;  // GPT: entries in the array
  std::vector<LayoutEntry> entries;
  // Problems that did not stop the read: a bad primary GPT copy, a broken or
  // looping EBR chain, entries reaching past the end of the disk. Empty when
  // the tables are sound.
  std::vector<std::string> findings;

  // Real partitions only (no empty slots, no extended containers or links).
  std::vector<LayoutEntry> partitions() const;
};

// Caps on what the reader accepts from a disk.
constexpr size_t kMaxLogicalDrives = 128;         // EBRs followed before the chain is cut
constexpr uint32_t kMaxGptEntries = 16384;        // entries in one GPT array
constexpr uint32_t kMaxGptEntrySize = 4096;       // bytes per GPT entry
constexpr uint32_t kDefaultGptEntries = 128;

// Reads the tables of a whole disk. A disk without a boot signature answers
// style RAW with no entries and Ok. ReadFailed when sector 0 cannot be read.
// For GPT, BadGptHeader / BadGptEntries only when both copies are bad;
// AbsurdEntryCount when the header's count or entry size exceeds the caps.
TableResult ReadDiskLayout(BlockDevice& disk, DiskLayout* layout);

// Writes `layout` to the disk. MBR: the first four entries are the MBR's slots
// (missing ones are empty); the extended container's logical drives are the
// non-empty, non-extended entries after the first four, each in a fresh EBR
// placed at start - hidden_sectors (or, when that does not fit, at the start of
// the free space before it); links between EBRs are rebuilt. The boot code in
// bytes 0-439 of sector 0 is kept. GPT: protective MBR, entry arrays, backup
// header first and primary header last, with their CRC32s; zero disk GUIDs and
// id GUIDs are replaced by fresh ones, and max_partition_count 0 means 128.
// RAW: wipes sector 0's table and signature. Returns InvalidLayout or
// UnalignedLayout without writing when the layout does not fit the disk.
TableResult WriteDiskLayout(BlockDevice& disk, const DiskLayout& layout);

// Initialises an empty table: MBR with the given signature, or GPT with the
// given disk GUID (a fresh one when zero) and entry count (0 means 128).
TableResult CreateEmptyTable(BlockDevice& disk, PartitionStyle style, uint32_t mbr_signature,
                             const GUID& disk_guid, uint32_t max_partition_count);

// GUID helpers for GPT fields and tests.
GUID NewRandomGuid();
bool IsZeroGuid(const GUID& guid);
// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" form (upper case, no braces).
std::string GuidToText(const GUID& guid);
// Accepts the form above with or without braces, any case; false when malformed.
bool GuidFromText(const std::string& text, GUID* guid);

// The CRC-32 used by GPT (reflected, polynomial 0xEDB88320).
uint32_t Crc32(const void* data, size_t length, uint32_t seed = 0);

}  // namespace platform::storage
