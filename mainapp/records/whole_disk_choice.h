// The clone records for a whole-disk copy chosen outside the wizard's
// source page (the quick duplicate; one-click copy takes the same snapshot):
// which disk the copy engines read, the selection records, and the texts
// the clone and summary pages show. Without it they would read whatever an
// earlier wizard run left behind.
#pragma once

#include "disk/disk_numbers.h"

// Returns false, writing nothing, unless both name listed disks and differ.
// On success sets, in CloneSettings: copySourceDisk, copySourceStart 0,
// copySourceLength (the source size), sourceIsGpt (from the source's
// partition table), systemMigration 0 and migrationPartitionCount 0,
// sourceMapItem -1, sourceName ("Disk N"), sourceDescription and
// destinationDescription ("Disk N:" model, a blank, size); and the disk
// number and model text of DiskSelection (source) and DestinationSelection
// (destination).
bool RecordWholeDiskChoice(ListedDiskIndex source, ListedDiskIndex destination);
