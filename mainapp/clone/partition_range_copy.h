// The raw copy of one partition onto another partition, sector for sector:
// the single-partition clone without basic duplication runs it (through
// CopyPartitionContents), and the mirror progress page runs the same copy
// with its own page and block size.
//
// The range comes from the wizard's choices: the source partition is
// CloneSettings.copySourceStart/copySourceLength on the listed disk
// copySourceDisk (512-byte units), the destination partition is
// DestinationSelection (native sectors) on the listed disk
// chosenDestinationDisk. Its partition-table entry (table sector and slot) is
// looked up on the destination disk by the partition's start.
#pragma once

#include <cstdint>

#include "mainapp/clone/raw_copy.h"
#include "platform/core/types.h"

class CWnd;

// Where one partition range copy reads and writes, in 512-byte units.
struct PartitionRangeJob {
  RawRange range;
  ListedDiskIndex sourceListed = kNoListedDisk;
  ListedDiskIndex destinationListed = kNoListedDisk;
  uint64_t destinationLength = 0;  // the destination partition's length
  uint64_t destinationTable = 0;   // native sector of the table holding its entry (0: the MBR)
  int32_t destinationSlot = -1;    // 0..3 in that table, -1 when no entry starts there
  int32_t sourceMbrSlot = 0;       // 1..4 of the source's MBR entry starting at the range, 0 none
  int32_t destinationMbrSlot = 0;  // the same on the destination
};

// Builds the job from the wizard's choices. False when a disk is missing,
// source and destination are the same disk and overlap, or the destination
// partition is shorter than the source (the copy would run into whatever
// follows it).
bool PreparePartitionRange(PartitionRangeJob* job);

// The destination and source volumes of the descriptions ("... (X:) ..."):
// the destination's locked while the copy runs; released by the destructor.
class RangeVolumes {
 public:
  RangeVolumes();
  ~RangeVolumes();
  RangeVolumes(const RangeVolumes&) = delete;
  RangeVolumes& operator=(const RangeVolumes&) = delete;
  bool opened() const { return opened_; }

 private:
  HANDLE source_ = nullptr;
  HANDLE destination_ = nullptr;
  bool opened_ = false;
};

// After a finished copy: the destination entry takes the source's length and
// type (partition mode), a primary destination of an active source becomes
// the active partition (asking IDS_MakeActive when another one is), and when
// the active partition's slot changed the boot.ini fix is registered.
// `volumesOpened`: the copy held the partitions' volumes (only then the fix).
void FinishPartitionRange(CWnd* page, const PartitionRangeJob& job, bool volumesOpened);

// Reads both disks' MBRs (before the copy) for the 1-based slots of the
// entries that start at the range's two starts (0 when none).
void FindRangeMbrSlots(PartitionRangeJob* job);

// The clone's engine for one partition, copy or verify pass, with the page's
// progress. True when it ran (also when cancelled: cloneAborted is then set).
bool CopyPartitionRange(CWnd* page, RawPass pass);
