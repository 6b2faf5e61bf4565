#include "mainapp/records/clone_run_state.h"

#include "disk/disk_context.h"
#include "mainapp/records/clone_counters.h"

CloneRunStateRecord CloneRunState;
CloneCountersRecord CloneCounters;

bool CloneRunHadErrors() {
  return CloneRunState.verifyMismatchCount != 0 || CloneRunState.verifyDifferingFiles != 0 ||
         CloneRunState.verifyUncomparedFiles != 0 || DiskContext.ioErrorCount != 0 ||
         CloneRunState.skippedItemCount != 0 || CloneRunState.offlineRepairFailed != 0 ||
         CloneCounters.verifySecondCount != 0;
}
