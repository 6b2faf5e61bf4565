// The disk map: a disk's partition list as the ordered row of segments the
// wizard pages draw as a disk bar, with the unallocated stretches of more than
// 20,480 sectors (10 MiB) before, between and after the partitions, each
// marked inside or outside the extended partition. 512-byte units throughout.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "disk/disk_numbers.h"

constexpr uint64_t kDiskMapMinimumGap = 20480;
constexpr uint64_t kGptLeadingGapStart = 34;
constexpr uint64_t kGptLeadingGapLength = 0x40000;

// Fills `items` (kMaxDiskMapItems, all cleared first) for a listed disk. With
// refresh it first reads the disk's list into sharedPartitionBuffer and looks
// up the partitions' letters; without, it works on sharedPartitionBuffer and
// partitionCount as they are (leaving driveLetter 0) and changes neither. Returns the item count, 0 when
// the disk has no partitions or the index names no listed disk; at most
// kMaxDiskMapItems.
int32_t BuildDiskMap(ListedDiskIndex listed, DiskMapItem* items, bool refresh);
// True when an extended partition exists and `sector` (512-byte units of the
// disk whose list was read last) lies in [start, start + length - 63 sectors).
bool IsInsideExtended(uint64_t sector);
