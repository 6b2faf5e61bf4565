// The counters of one clone that the summary page shows besides those of
// CloneRunState: the verify blocks that could not be compared and the time
// the run took. The clone run resets them before it copies.
#pragma once

#include <cstdint>

struct CloneCountersRecord {
  // Blocks a verify pass could not compare because the source could not be
  // read there.
  int32_t verifySecondCount = 0;
  // Seconds from the start of the copy phase to the end of the run.
  int64_t cloneElapsedTime = 0;
};

extern CloneCountersRecord CloneCounters;
