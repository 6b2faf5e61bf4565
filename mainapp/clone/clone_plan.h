// The destination plan of a whole-disk clone: the planner's program-wide
// results and the disk maps the wizard pages draw. The planner and the plan
// application write them; the destination page, the clone page, the layout
// writer and one-click copy read them. All of it lives on the one
// user-interface thread, so nothing is locked.
//
// Units: disk sizes and DiskMapItem starts and lengths count 512-byte units;
// the layout entries the plan is written into count bytes.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"

// D / S for automatic and manual sizing, (D - 131072) / S when converting to
// GPT, exactly 1.0 for same size.
extern double ScaleFactor;
// Entries of the new layout (GPT conversion) or entries the planner visited
// (GPT source); the layout writer reads it.
extern int32_t NewPartitionCount;
// 1 when the only partition of a one-entry MBR layout was moved to 1 MiB and
// the layout widened to four slots.
extern uint8_t SinglePartitionMoved;

// S and D: the listed sizes of the source and the destination disk (512-byte
// units), copied when the plan is applied.
extern uint64_t PlanSourceSectors;
extern uint64_t PlanDestinationSectors;

// Sum over lettered source entries of used + used / 4 sectors, and the sum of
// their planned lengths in sectors (set when the plan is applied).
extern uint64_t PlanRequiredSectors;
extern uint64_t PlanPlannedSectors;

// A disk map with its item count and the number of segments its bar layout
// drew (0 until laid out).
struct DiskMapRecord {
  DiskMapItem items[kMaxDiskMapItems] = {};
  int32_t count = 0;
  int32_t barSegments = 0;
};

// The source disk as laid out on the source page (the Before bar).
extern DiskMapRecord SourceDiskMap;
// The destination disk's current map, built when a destination is ticked.
extern DiskMapRecord DestinationDiskMap;
// The destination as planned: the After bar and the partition combo.
extern DiskMapRecord PlannedDiskMap;
