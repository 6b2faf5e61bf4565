// The state of one clone run: one process-wide record that the clone page
// and its run set, the copy engines, the repair steps and the summary read
// and update. Everything runs on the one user-interface thread.
//
// Units: sector counts are 512-byte units.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"

struct CloneRunStateRecord {
  // The progress range's partition count; 0 in partition mode.
  int32_t progressPartitionCount = 0;
  // Bytes copied by the run; the copy engines add to it.
  uint64_t copiedBytes = 0;
  // Set when the user cancels or a stage fails; cleared when the clone page
  // opens, never by the run itself.
  uint8_t cloneAborted = 0;
  // Start of the copy phase (seconds); the elapsed time counts from it.
  int64_t operationStart = 0;
  // 1 from the start of the copy phase; a second start returns at once.
  uint8_t cloneRunning = 0;
  // Units the run expects to copy; the engines relate progress to it.
  uint64_t copyTotalSectors = 0;
  // The page's status line.
  CString statusText;
  // The current engine operation's own counter.
  uint64_t operationSectors = 0;
  // Source volume of the partition that holds the boot store.
  CString bootFixSource;
  // The partition being copied: readable source, source as shown, destination root.
  CString sourceVolumeText;
  CString sourceDisplayText;
  CString destinationVolumeText;
  // The destination partition whose source holds \WINDOWS\SYSTEM32 (drive
  // text), and what the offline registry repair needs of it.
  CString systemDestinationText;
  CString systemSourceVolume;
  CString systemDestinationCopy;
  int32_t systemEntryIndex = -1;
  // The engines' current-item text and the file copy's item counter.
  CString currentItemText;
  int32_t copyItemCount = 0;
  // What is being copied, as the engines show it.
  CString copyDescription;
  // copiedBytes / 512 at the end of the run (the engines set it meanwhile).
  uint64_t copiedSectors = 0;
  // Blocks whose read-back differed and whose rewrite did not verify (the
  // sector copies' verify); shown by the summary.
  int32_t verifyMismatchCount = 0;
  // The file copy's verify, by files: files whose copy still differs from
  // the source after the pass (contents a rewrite did not mend, another
  // size, missing on the destination), and files it could not compare (the
  // source or the copy could not be read whole); shown by the summary.
  int32_t verifyDifferingFiles = 0;
  int32_t verifyUncomparedFiles = 0;
  // Files, folders and links the file copy had to leave out (cannot be
  // opened, created or read, nested too deep), and their source paths, one
  // a line, the first kSkippedItemsListed of them; shown by the summary.
  int32_t skippedItemCount = 0;
  CString skippedItems;
  // 1 when the offline repair of the copy's boot store found the store but
  // could not change it (no temporary folder on the PC, the editor failed).
  uint8_t offlineRepairFailed = 0;
};

constexpr int32_t kSkippedItemsListed = 20;

extern CloneRunStateRecord CloneRunState;

// Whether the run's copy is incomplete or unproven although it ran to its
// end: blocks or files that still differ, files or blocks the verify could
// not compare, failed transfers, items left out, or an offline repair that
// could not run. Such a run is never called complete.
bool CloneRunHadErrors();
