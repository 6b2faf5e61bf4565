// The destination layout planner of a whole-disk clone: where every partition
// of the source disk will lie on the destination and how long it will be. It
// scales the partitions to the destination's size (automatic and manual
// sizing), keeps their lengths (same size), or turns an MBR source into a GPT
// layout with a new EFI system partition in front. The plan is written into
// each layout entry's newStartBytes, newLengthBytes and newType (bytes);
// nothing is written to any disk.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "mainapp/records/clone_settings.h"

// What the planner needs besides the layout table; the program-wide
// PlanDestinationLayout fills it from the settings and the disk tables.
struct PlannerInputs {
  uint64_t sourceSectors = 0;       // S, 512-byte units
  uint64_t destinationSectors = 0;  // D, 512-byte units
  int32_t multiplier = 1;           // the destination's native bytes per sector / 512
  int32_t sectorsPerTrack = 63;     // the destination's sectors per track
  // The alignment unit in 512-byte sectors: 2048 from Windows 6 on, the last
  // geometry's sectors per track before.
  int32_t alignUnit = 2048;
  SizingMode sizingMode = SizingMode::Automatic;
  bool convertToGpt = false;
  bool sourceIsGpt = false;
  bool systemMigration = false;
  int32_t systemIndex = 0;  // Q: the entry holding the running Windows, 0 when none
  int32_t realCount = 0;    // real (non-empty) entries of the source layout
};

struct PlannerResults {
  double scaleFactor = 1.0;
  int32_t newPartitionCount = 0;
  uint8_t singlePartitionMoved = 0;
  int32_t count = 0;  // entries of the planned layout (the MBR path may widen one entry to four)
};

// The alignment unit (512-byte sectors) for a Windows major version.
int32_t AlignmentUnitFor(int32_t windowsMajor, int32_t lastSectorsPerTrack);

// Sorts entries 1 .. count - 1 by start (entry 0 stays; empty slots, whose
// start is 0, follow the partitions as cleared slots) and points each nested
// entry, and each extended link inside an extended partition, at its
// container's new position.
void SortLayoutEntries(LayoutEntry* table, int32_t count);

// Plans `count` sorted entries of `table` (kMaxLayoutEntries long) onto the
// destination. With system migration `count` is the number of partitions to copy.
PlannerResults PlanLayoutEntries(LayoutEntry* table, int32_t count, const PlannerInputs& in);

// The program-wide planner: fills DiskContext.layoutTable from the source
// disk's layout, sorts it, finds the running system's partition and plans
// onto CloneSettings.chosenDestinationDisk with the sizes in
// PlanSourceSectors and PlanDestinationSectors. Sets ScaleFactor,
// NewPartitionCount and SinglePartitionMoved. Returns the planned entry count.
int32_t PlanDestinationLayout(int32_t sourcePhysicalDisk, const void* layout, int32_t count);
