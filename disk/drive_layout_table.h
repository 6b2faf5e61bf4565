// The drive-layout table: a disk's partitions as the platform's drive-layout
// query reports them (style, GUIDs, attributes, names, byte offsets, partition
// numbers), classified by FileSystemCode, with drive letters and nesting, in
// DiskContext.layoutTable (64 entries); the running Windows' partition; and
// two volume services, growing a partition and counting a disk's volumes.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

// Issues the drive-layout query into `buffer` (kLayoutBufferSize bytes) and
// counts the real partitions into layoutRealCount. Returns the layout's entry
// count (empty MBR slots included), -1 when the query fails (the disk is
// closed either way). The count never exceeds what the returned bytes hold.
int32_t QueryDriveLayout(int32_t disk, void* buffer);
// Fills layoutTable from the layout in `buffer`; needs the letter tables
// current. Entries beyond the table's 64 (or beyond `count`, or beyond the
// buffer) are not read.
void FillLayoutTable(int32_t disk, const void* buffer, int32_t count);
// 1 when an entry with a letter holds \Windows\System32\Kernel32.dll and no
// \NTDETECT.COM (its index then in systemPartitionIndex), else 0.
int32_t FindSystemPartition(int32_t count);
// Grows the letter's partition by `sectors` 512-byte units; true when the platform did.
bool GrowPartition(WCHAR letter, uint64_t sectors);
// Removable and fixed letters from C: whose volume lies on the physical disk.
int32_t CountDiskVolumes(int32_t disk);
// The file's size / 512; 0 when it cannot be opened.
uint64_t FileSizeInSectors(const CString& path);
bool SameGuid(const GUID& a, const GUID& b);
