// Yarv's view of the machine's disks for the restore wizard: the partitions
// of a disk as its MBR and extended boot records list them (positions in
// 512-byte units whatever the disk's sector size), the drive-letter tables
// (which disk and partition number each letter lies on, each letter's
// extent) and the tests the destination checks make. The letter tables are
// the shared disk layer's (disk/disk_tables.h); this adds the restore's own
// partition walk and its small partition type table.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"

// One partition: start and length in 512-byte units; the 512-byte sector
// that holds its table (0 for the MBR, else its EBR) and its slot there.
struct RestorePartitionEntry {
  int64_t start = 0;
  int32_t typeRow = 0;
  int64_t length = 0;
  int64_t tableSector = 0;
  int32_t slot = 0;
};

inline constexpr int kMaxRestorePartitions = 26;

// The row of a partition type byte in the restore's type table (0 = none,
// also for a byte the table does not hold), and the row's file-system name
// ("FAT32", "NTFS"...; empty for row 0).
int RestoreTypeRow(uint8_t type);
CString RestoreTypeName(int row);

// The data partitions of physical disk `disk`: primaries in slot order, then
// the logical drives in chain order; at most kMaxRestorePartitions. An EBR
// chain that loops, points outside the disk or cannot be read ends the
// list. Empty when the disk cannot be opened.
std::vector<RestorePartitionEntry> ReadMbrPartitionTable(int32_t disk);

// Physical disk + 1 of a drive letter (-1 when unknown) and its partition
// number; its extent (false when the letter has no volume).
int32_t LetterDiskPlusOne(char16_t letter);
int32_t LetterPartitionNumber(char16_t letter);
bool QueryLetterPartition(char16_t letter, int64_t& start, int64_t& length);

// Rebuilds the disk and letter tables; returns the listed disk count.
int32_t RescanRestoreDisks();
// Listed disks (from 1): physical number, size in 512-byte units, model.
int32_t ListedDiskCount();
int32_t ListedDiskPhysical(int32_t listed);
int64_t ListedDiskSectors(int32_t listed);
CString ListedDiskModel(int32_t listed);

// Zeroes the MBR disk signature (bytes 440..443); false when the disk
// cannot be read or written or holds no MBR.
bool ClearDiskSignature(int32_t disk);

// True when the first MBR entry of the disk is marked active.
bool IsFirstPartitionActive(int32_t disk);

// The start of the backup product's boot manager as a master boot record
// carries it: a disk whose sector 0 begins with its first 30 bytes carries
// the boot manager. Empty (as built): no boot manager's bytes are known, and
// no disk is taken to carry one.
extern std::vector<uint8_t> KoztBootTemplate;
// The disk carries the boot manager and the boot manager's own partition
// (recorded in sector 0 at the offset byte 442 names) has this start and
// length (512-byte units). A record that would lie past the sector's end
// names no partition.
bool IsKoztBootPartition(int32_t disk, int64_t start, int64_t length);
// One of the disk's partitions is the boot manager's.
bool DiskHasKoztPartition(int32_t disk);
