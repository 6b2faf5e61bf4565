// The raw copy engines of the clone: 512-byte units copied from one physical
// disk to another in blocks of 16 tracks, each with a verify pass that reads
// the destination back, compares it with the source and rewrites what
// differs. They run on the user-interface thread inside the clone page,
// pump its messages between blocks, stop when CloneRunState.cloneAborted is
// set and show their progress in the page's items (clone_page_items.h) at
// the display's pace (PacedPosition), not for every block. The copy pass
// reads the next block while a thread of its own writes the last one; a
// block counts as done (progress, position) once it is written. The verify
// pass reads both disks at once, each on a thread of its own, in spans of
// several blocks, and reads the next span while it compares the last.
//
// Failures: a source block that cannot be read is read again sector by
// sector; each unreadable native sector adds 1 to DiskContext.ioErrorCount
// and is written as zeros (never as stale buffer bytes). A failed write adds
// 1 to ioErrorCount. The verify pass never writes before it has read the
// destination back; a block that still differs after 3 repairs stays in
// CloneRunState.verifyMismatchCount.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"

#include "platform/core/cstring.h"

class CWnd;

enum class RawPass { Copy, Verify };

// One range to copy, in 512-byte units, between two physical disks.
struct RawRange {
  int32_t sourceDisk = -1;       // physical numbers
  int32_t destinationDisk = -1;
  uint64_t sourceStart = 0;
  uint64_t destinationStart = 0;
  uint64_t count = 0;
};

// What one pass did.
struct RawPassResult {
  bool started = false;          // false: a disk could not be opened or no memory
  uint64_t unitsDone = 0;        // units transferred (or compared) before the end or a cancel
  int32_t unreadableSectors = 0; // native source sectors that could not be read
  int32_t failedWrites = 0;      // destination writes that failed
  int32_t mismatchedBlocks = 0;  // verify: blocks that still differ
};

// Block size in 512-byte units for a disk's geometry: 16 tracks of at most
// 63 sectors (ReadDiskGeometry caps them), 1008 units at most.
int32_t RawBlockUnits(int32_t sectorsPerTrack);

// Called after each block with the units done so far (the page's callbacks
// show them at the display's pace).
using RawProgress = void (*)(CWnd* page, uint64_t done, void* context);

// The block loop shared by the engines. Opens both disks itself (never the
// current disk of the disk layer); `blockUnits` must be a whole number of
// native sectors of both disks.
RawPassResult RunRawPass(CWnd* page, const RawRange& range, RawPass pass, int32_t blockUnits,
                         RawProgress progress, void* context);

// The sector-by-sector clone of a whole disk: CloneSettings.copySourceStart
// and copySourceLength of the listed source disk onto the listed destination
// disk from its start. False when a disk cannot be opened or memory runs out;
// a cancelled copy returns true with cloneAborted set.
bool CopyDiskSectors(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed, RawPass pass);

// Layout entry `entry` of the source disk from its start to its planned new
// start on the destination, never longer than its planned length (a smaller
// planned partition is not overrun). Adds the units copied to
// CloneRunState.copiedBytes in the copy pass.
bool CopyPartitionSectors(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed, int32_t entry,
                          RawPass pass);
