// Plan application: turns the planner's result into a usable destination
// layout and guards the destination's size. It decides the conversion to GPT,
// runs the planner, gives surplus space to the first lettered partition, pulls
// a shrinking plan back inside the destination, builds the planned disk map
// (the After bar) and refuses a destination that cannot hold the source's
// used space plus 25 %. Nothing here writes to a disk.
#pragma once

#include <cstdint>
#include <functional>

#include "disk/disk_context.h"

struct DiskMapRecord;

// Used sectors (512-byte units) of a drive letter's volume.
using UsedSectorsOf = std::function<uint64_t(int32_t letter)>;

// The destination holds at least 2 TiB (4,294,967,296 sectors).
bool NeedsGptConversion(uint64_t destinationSectors);

// Entries 0 .. n - 1 with a new length, n counted from entry 0.
int32_t LeadingPlannedEntries(const LayoutEntry* table, int32_t count);

// When the plan leaves more than 1 MiB more free space at the destination's
// end than the source's free tail scaled by `scale`, the whole MiBs go to the
// first lettered entry and every later entry moves up by as much. Returns the
// bytes given (0 when none).
uint64_t GiveSurplusSpace(LayoutEntry* table, int32_t count, uint64_t sourceSectors, uint64_t destinationSectors,
                          double scale);

// The corrections of a shrinking plan: an end beyond the destination is taken
// from the first lettered entry with more than 32 MiB to spare beyond the
// overrun; a partition that would not hold its used data plus 16 MiB (or an
// unlettered one cut below its length) takes what it lacks from the first
// other lettered entry with more than 32 MiB to spare. Returns false when the
// plan still ends beyond the destination.
bool CorrectShrinkingPlan(LayoutEntry* table, int32_t count, uint64_t destinationSectors, const UsedSectorsOf& used);

// An extended partition (or link) that the plan lets run past the
// destination's end ends after the last logical drive inside it instead: the
// drives keep their places, and the container no longer claims the source's
// free space behind them. Returns false when a logical drive itself ends
// past the destination (the plan cannot be written).
bool EndContainersAfterTheirLogicalDrives(LayoutEntry* table, int32_t count, uint64_t destinationSectors);

// The planned map of the destination from the planned entries (extended
// containers and unplanned entries left out), numbered partitions, each with
// its entry's drive letter; a tail more than 16 MiB long is a free item on an
// MBR result and lengthens the last item on a GPT result. Returns the count.
int32_t BuildPlannedMap(const LayoutEntry* table, int32_t count, uint64_t destinationSectors, bool converting,
                        bool gptResult, DiskMapItem* items);

// On a conversion to GPT, Next hands the planned map's last two items (the
// last one lengthened to the disk's end) back to their layout entries: start
// and length, for items that are partitions. The end stays before the backup
// partition table and header at the disk's end (`diskSectors` 512-byte units,
// `multiplier` of them per native sector), which no partition may cover.
void WriteBackConvertedTail(const DiskMapRecord& map, LayoutEntry* table, int32_t count, uint64_t diskSectors,
                            int32_t multiplier);

// Cuts every planned entry of a GPT result that reaches past the disk's last
// usable sector (`diskSectors` 512-byte units, `multiplier` per native
// sector) back to end there; one that starts beyond it is left out.
void KeepInsideGptUsableSectors(LayoutEntry* table, int32_t count, uint64_t diskSectors, int32_t multiplier);

// The whole-disk plan as the run takes it, from what the destination page's
// Next (or one-click copy, which has no Next) leaves: on a conversion to GPT
// the planned map's tail goes back into its layout entries, ending before the
// backup table; with same-size sizing, or manual sizing the user changed, the
// planned map's lettered partitions go back too and become the destination
// map. Every partition of a GPT result then ends before the backup table.
// Reads CloneSettings' destination and sizing and PlannedDiskMap.
void SettleWholeDiskPlan(int32_t plannedEntries);

// Sectors the lettered entries need (used + used / 4) and the sectors planned for them.
struct PlanTotals {
  uint64_t required = 0;
  uint64_t planned = 0;
};
PlanTotals ComputePlanTotals(const LayoutEntry* table, int32_t count, const UsedSectorsOf& used);

// The program-wide application on CloneSettings' source and destination:
// fills PlanSourceSectors, PlanDestinationSectors, the layout table,
// PlannedDiskMap and the totals. False, after IDS_DestinationTooSmall was
// shown, when the destination cannot hold the required sectors (or the
// source layout cannot be read). `planCount` receives the planned entry count.
bool ApplyDestinationPlan(int32_t* planCount = nullptr);

// The 512-byte sectors the source disk (CloneSettings.copySourceDisk) needs
// on any destination: used + used / 4 of lettered partitions, the length of
// unlettered primaries; logical drives add nothing.
uint64_t ComputeRequiredSectors();

// Used sectors of a letter's mounted volume.
uint64_t VolumeUsedSectors(int32_t letter);
