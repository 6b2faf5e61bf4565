#include "mainapp/wipe/deletion_state.h"

int32_t SelectedWipeMethod = -1;
uint8_t DeleteAbortRequested = 0;
uint8_t DeleteRunning = 0;
int64_t DeleteStartTime = 0;
CString DeleteStartText;
uint8_t DeleteSnapshotSector[kSnapshotBytes] = {};
