// Lookups in the listed-disk table of DiskContext (filled by EnumerateDisks)
// by listed index. Every lookup takes the same bounds: an index names a
// listed disk only when it lies below both the table's size and the disk
// count of the last enumeration, so a stale index kept across a detach gives
// "none" everywhere alike.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"
#include "platform/core/cstring.h"

// The physical number of the listed disk; kNoPhysicalDisk when the index is
// out of bounds or its slot names no disk.
PhysicalDiskNumber ListedPhysicalDisk(ListedDiskIndex listed);

// The listed index of a physical disk; kNoListedDisk when no listed disk has
// that number.
ListedDiskIndex ListedIndexOfPhysical(PhysicalDiskNumber physical);

// The listed disk's size in 512-byte units, 0 out of bounds.
uint64_t ListedSize(ListedDiskIndex listed);

// The listed disk's model and bus texts, empty out of bounds.
CString ListedModel(ListedDiskIndex listed);
CString ListedBusName(ListedDiskIndex listed);
