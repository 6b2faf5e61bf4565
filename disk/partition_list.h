// The partition list reader: the partitions of one physical disk read straight
// from its sectors (a superfloppy boot sector, the MBR with its chain of
// extended boot records, or a GPT), as PartitionEntry records in
// DiskContext.partitions, each typed with a FileSystemCode; and the table of
// MBR partition types with their display names.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

// One row of the MBR type table: the type byte and its display name (at most
// 10 characters, blank-padded to 10, two zero bytes after).
struct MbrTypeRow {
  int32_t type;
  char name[12];
};
constexpr int kMbrTypeCount = 83;
extern const MbrTypeRow mbrTypeTable[kMbrTypeCount];

// Reads the disk's list into DiskContext (partitionCount, partitions, isGptDisk,
// extendedStart/extendedLength, msrIndex) and copies it to `out` (room for
// kMaxPartitions records). Returns the record count, -1 when the disk cannot
// be opened. The letter tables must be current (GPT entries look their letter
// up). Every list stops at kMaxPartitions records; an EBR chain that loops
// back on itself, or a sector that cannot be read, ends the list.
int32_t ReadPartitionList(PartitionEntry* out, int32_t disk);
// The type when it stands in the table, else 0; reads the given native sector
// of the current disk and gives 11 for a type 4 whose boot sector has '3' at
// byte 85. Type 0 reads nothing.
int32_t CheckPartitionType(int32_t type, uint64_t sector);
// FileSystemCode of the root "X:\" of a letter, or of any volume root path:
// "FAT32" 12, "NTFS" 7, "FAT" 6, "exFAT" 0x87, anything else (or a failed query) 0.
int32_t VolumeFsCodeByLetter(WCHAR letter);
int32_t VolumeFsCodeByPath(const CString& root);
// Whether the volume at "X:\" holds a file system the system mounts (any,
// known to the table or not); false for a partition never formatted.
bool VolumeHasFileSystem(WCHAR letter);
// The row's name trimmed; "N/A" for a row without a name; empty for a type not in the table.
CString PartitionTypeName(int32_t type);
// "NTFS(7)", "FAT32(12)", "RAW(-1)", ..., the IDS_UNKNOWN text for other codes.
CString FileSystemTypeText(int32_t code);
// The reduced reader for small disks; `diskPlusOne` is the physical number
// plus one (and the listed number whose size decides the superfloppy test).
// Table values are stored without the multiplier. 0 when the disk cannot be opened.
int32_t ReadPartitionListBasic(PartitionEntry* out, int32_t diskPlusOne);
// 100 for type 5; 32 for types 6, 7, 9 and 10; 0 otherwise.
int32_t PartitionKindValue(int32_t type);
