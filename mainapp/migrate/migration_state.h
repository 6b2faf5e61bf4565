// The process-wide records of the file and folder migration: what the
// source page collected (MigrationState), the copy run's progress
// (MigrationProgress) and the main dialog's entry flag.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// Set by the main dialog's Files/Folders Migration command before it opens
// the source page; a page opened without it closes at once. Never reset.
extern bool MigrationEntryFlag;

struct MigrationItem {
  uint8_t kind = 0;  // 0 file, 1 folder
  CString path;      // "X:\..." or a network path "\\server\share\..."
  int32_t next = 0;  // 1-based index of the following item, 0 for the last
};

// How a copy run ended, from its counters.
enum class MigrationOutcome : int {
  Completed = 0,            // every item copied
  CompletedWithErrors = 1,  // some files could not be copied (listed)
  Aborted = 2,              // the user cancelled
  Failed = 3,               // no copy buffer could be had
};

struct MigrationStateRecord {
  CString destination;
  int32_t lineCount = 0;
  // The copy list, items 1 .. itemCount (entry 0 is never filled). It grows
  // with the ticks: no fixed number of items.
  std::vector<MigrationItem> items = std::vector<MigrationItem>(1);
  int32_t itemCount = 0;
  int32_t backRequested = 0;
  // The run.
  uint64_t totalBytes = 0;
  uint64_t fileBytes = 0;
  CString previousPath;
  CString sourceRoot;
  int64_t lastElapsed = -1;
  // What could not be copied: one line per file or folder ("path: reason"),
  // the first kFailedItemsListed of failedCount.
  int32_t failedCount = 0;
  CString failedItems;
};
constexpr int32_t kFailedItemsListed = 20;

extern MigrationStateRecord MigrationState;

// The progress of a copy run as the copy page shows it.
struct MigrationProgressRecord {
  uint8_t abortRequested = 0;
  uint8_t busy = 0;
  uint64_t copiedBytes = 0;  // bytes of the finished files of this run
  int64_t startTime = 0;     // seconds
  HWND page = nullptr;       // the page whose controls show the progress; may be null
  int32_t filesCopied = 0;
  CString activityPrefix;
  CString activityDots;
};
extern MigrationProgressRecord MigrationProgress;

// Appends one failure line to MigrationState (counted, listed up to the limit).
void RecordMigrationFailure(const CString& path, const CString& reason);
