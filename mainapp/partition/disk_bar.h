// The manager's panel map (its bar is laid out and drawn by mainapp/records/disk_bars.h).
#pragma once

#include <cstdint>

#include "disk/disk_context.h"

// The partition manager's panel map: the items of the disk it shows, copied
// into `out` (room for kMaxDiskMapItems). Returns the item count (0 when the
// manager shows no disk). The clone's confirmation page copies it when it starts.
int32_t CopyManagerPanelMap(DiskMapItem* out);
