// Manual sizing of the destination's planned partitions: the user sets the
// length of one partition of PlannedDiskMap at a time (trackbar or MiB
// field); the partitions after it move and the free space behind them
// shrinks or grows. The map reaches the layout entries only when the
// destination page's Next writes it back. Everything here works on plain
// maps and tables, so it runs without a window; the destination page holds
// the controls.
//
// Units: map starts and lengths and every bound count 512-byte sectors; the
// layout entries count bytes.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "mainapp/clone/clone_plan.h"
#include "platform/core/cstring.h"

// The manual sizing state of the destination page.
struct ManualSizingState {
  int32_t selectedItem = -1;   // PlannedDiskMap item being sized, -1 none
  uint64_t minimum = 0;
  uint64_t maximum = 0;
  int64_t currentLength = -1;  // last applied length, -1 unset
  uint64_t requestedLength = 0;
  bool changed = false;        // the trackbar or Apply changed the map since the last plan
  bool controlsHidden = true;  // the trackbar, the field and Apply are hidden
  int32_t comboLine = -1;      // the combo line remembered across visits of the page
};
extern ManualSizingState ManualSizing;

// Sets item `item` of `map` to `requested` sectors: later partitions move by
// the change, the first free item long enough absorbs it (shorter free items
// keep 1 MiB), a rest of less than 2 MiB at the disk's end (`diskSectors`)
// goes to the last item, a longer rest becomes a free item, and a last item
// under 2 MiB joins the one before it. The map never ends past the disk:
// what would overrun it is taken back from the resized item. Returns the
// item's resulting length (0 and nothing changed for no item or a request
// of 0).
uint64_t ResizePlannedItem(DiskMapRecord& map, int32_t item, uint64_t requested, uint64_t diskSectors);

// Partition copy in same-size mode: trims `item` to the source's length and
// turns the freed sectors into free space right after it. A source as long
// as the item or longer leaves the map as it is.
void ApplySourceSizeToPartition(DiskMapRecord& map, int32_t item, uint64_t sourceLength);

// Writes the first 16 planned items back into the lettered layout entries
// (matched by drive letter); a logical drive's container follows its change.
void WriteBackPlannedMap(const DiskMapRecord& map, LayoutEntry* table, int32_t count);

// The item whose partition index is `position` (a partition row's place
// below its disk row), -1 none.
int32_t FindMapItem(const DiskMapItem* items, int32_t count, int32_t position);

// The bounds of one item.
struct ManualBounds {
  uint64_t minimum = 0;
  uint64_t current = 0;
  uint64_t maximum = 0;
};
// Whole-disk copy: at least the item's used sectors plus a quarter (its
// drive letter's volume, `usedSectors`); at most its planned length plus
// every free item after it.
ManualBounds WholeDiskBounds(const DiskMapRecord& planned, int32_t item, uint64_t usedSectors);
// Partition copy: at least the source partition's used sectors; at most the
// destination item plus every free item after it in `destination`.
ManualBounds PartitionBounds(const DiskMapRecord& destination, int32_t item, uint64_t usedSectors);

// The length a typed MiB text asks for: its first 8 characters read as a
// decimal number of MiB, brought inside the bounds (within 1 MiB of the
// maximum or negative: the maximum; below the minimum: the minimum).
uint64_t TypedLength(const CString& text, uint64_t minimum, uint64_t maximum);
// The length of a trackbar position (16 sectors a step); the last step
// snaps to the maximum.
uint64_t TrackbarLength(int position, uint64_t maximum);

// One line of the partition combo: "Partition" + the item's position in
// the map + " " + its size text; and the item index read back from a line
// (-1 when the line does not start with the partition text).
CString PartitionComboLine(const DiskMapItem& item, int32_t index);
int32_t ItemOfComboLine(const CString& line);
