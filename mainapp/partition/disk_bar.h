// The drawn disk bar's layout and the manager's panel map.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"

// Lays the disk map of listed disk index `listedIndex` out over a bar
// `barWidth` pixels wide. With `count` 0 the map is built first (BuildDiskMap,
// re-reading the disk when `refresh`), and 0 is returned at once for a disk
// without partitions. Each item gets a width proportional to its length over
// the bar less 4 pixels per item, at least 44 pixels, rescaled up to ten more
// times while the widths overrun the bar. Returns the item count.
int32_t LayoutDiskBar(int32_t listedIndex, DiskMapItem* items, int32_t barWidth, bool refresh, int32_t count);

// The partition manager's panel map: the items of the disk it shows, copied
// into `out` (room for kMaxDiskMapItems). Returns the item count (0 when the
// manager shows no disk). The clone's confirmation page copies it when it starts.
int32_t CopyManagerPanelMap(DiskMapItem* out);
