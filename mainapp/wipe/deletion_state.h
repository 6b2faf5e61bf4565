// The process-wide state of one secure deletion: the chosen method, the
// run's flags and times, and the first sector of the target read after the
// overwrite for the report. Plain globals of the user-interface thread.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"

// The method ticked on the method page: 0 zero write, 1 random write,
// 2 random-random-zero, 3 zero, 0xFF, random and a verifying read; -1 none.
extern int32_t SelectedWipeMethod;

// Set by a confirmed Cancel; the overwrite stops at the next chunk.
extern uint8_t DeleteAbortRequested;
// 1 from the confirmed start of a run until the progress page opens again.
extern uint8_t DeleteRunning;
// Start of the overwrite, seconds since 1970.
extern int64_t DeleteStartTime;
// The start in the language's date format followed by " %H:%M".
extern CString DeleteStartText;

// The first 4 KiB of the target's first sector after the overwrite.
constexpr int kSnapshotBytes = 4096;
extern uint8_t DeleteSnapshotSector[kSnapshotBytes];
