// The bad-sector scan of one disk or partition (the ScanTarget record): every
// sector is read in chunks of one track; a chunk that fails is read again
// sector by sector, each failed sector retried three times, and the
// unreadable sectors and those read on a retry are counted and listed. The clone runs it on
// its destination before copying; the stand-alone scan pages run it on the
// disk or partition the user ticked.
//
// Units: ScanTarget's start and count are native sectors of its disk; a
// chunk is one track of 512-byte units (at most 63), i.e. that many units
// divided by the sector multiplier in native sectors (at least one).
#pragma once

#include <cstdint>
#include <vector>

#include "mainapp/records/disk_selection.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

struct ScanStateRecord {
  uint8_t scanAutomatic = 0;   // 1: started by the clone, no messages
  uint8_t scanStarted = 0;     // the scan loop has begun
  uint8_t scanFinished = 0;    // the scan loop has ended
  uint8_t scanCancelled = 0;   // the user cancelled the scan
  int32_t scanErrorCount = 0;  // read errors found: the lines of failedSectors
  int32_t badSectorCount = 0;  // of those, sectors that no retry could read
  uint8_t scanOnlySummary = 0;
  CString scanTargetText;
  // The time (CTime seconds) the scan's work ended; 0 before that. The time
  // taken runs from CloneRunState.operationStart to here.
  int64_t scanEndTime = 0;
  // One line per read error, by native sector: IDS_ErrorinSector and an
  // unreadable sector; a sector a retry read, followed by IDS_ReadOnRetry; or
  // a failed chunk whose every sector then read, as "first-last" followed by
  // IDS_ReadOnRetry.
  std::vector<CString> failedSectors;
};
extern ScanStateRecord ScanState;

// The page the scan keeps alive and shows its progress in (sector edit 1078,
// remaining time 1084, elapsed time 1085, progress bar through the shared
// ProgressBar); null when scanning without a page. Its Cancel sets
// ScanState.scanCancelled inside the scan's message pumps.
extern HWND ScanProgressPage;

// Scans `target`. Resets the counters, the list and scanCancelled first.
// Locks the disk's volumes (whole disk) or the partition's volume while it
// reads and always releases them and closes the disk again. Never reads past
// the target or past the end of the disk. False when the disk or the volume
// cannot be opened (nothing scanned).
bool ScanBadSectors(const DiskSelectionRecord& target);
