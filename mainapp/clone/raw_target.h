// An empty disk made ready for a partition copy: one primary partition from
// the end of the disk's first track to the end of the disk (or of what an
// MBR entry can address), type 7, active when the source partition is, with
// the old boot code, table and the new partition's first sector zeroed so
// that the new volume is blank. The destination page does this when the user
// ticks an empty disk for a partition copy and agrees to prepare it.
#pragma once

#include <cstdint>

// Where the new partition lies, in the disk's native sectors.
struct RawTargetExtent {
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;  // 0: the disk cannot hold it
};

// The partition a disk of `diskSectors` native sectors with `sectorsPerTrack`
// gets. Its start is the first track's end in native sectors (on a 4096-byte
// disk 63 sectors of 4096 bytes, never a start inside a sector); its end is
// the disk's end, or the last sector an MBR entry can reach on a disk of
// 2^32 sectors or more.
RawTargetExtent PlanRawTarget(uint64_t diskSectors, int32_t sectorsPerTrack);

// True when the source partition (CloneSettings' copy source) is the active
// partition of its disk.
bool SourcePartitionIsActive();

enum class RawTargetResult : int32_t {
  Prepared = 0,
  TooSmall = 1,      // the new partition cannot hold the used sectors
  NotEmpty = 2,      // the disk holds partitions: it is never cleared here
  WriteFailed = 3,   // the disk could not be opened, zeroed or given its table
};

// Prepares physical disk `disk` of `diskUnits` 512-byte units as the raw
// target of a partition whose volume uses `usedUnits` 512-byte units.
// Nothing is written unless the result is Prepared or WriteFailed.
RawTargetResult PrepareRawTarget(int32_t disk, uint64_t diskUnits, uint64_t usedUnits, bool active);
