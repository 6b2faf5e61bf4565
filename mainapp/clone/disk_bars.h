// The disk bars of the clone wizard: a disk drawn as a horizontal row of
// segments (partitions and free gaps, from its disk map) with a label and a
// size under each, and the layout that gives every segment its pixel width.
// The source, destination and clone pages draw their bars with these.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/types.h"

class CDC;

constexpr int kMinimumSegmentWidth = 44;

// Gives every item of `items` (count items, or the map of listed disk
// `listedIndex` built first when count is 0) its pixel width in a bar of
// `barWidth` pixels; the widths follow the lengths, none narrower than 44.
// `diskSectors` is the disk's size (512-byte units). Returns the count.
int32_t LayoutDiskBarWidths(DiskMapItem* items, int32_t count, uint64_t diskSectors, int barWidth);
// The same for listed disk `listedIndex`, building its map first when
// `count` is 0 (with `refresh` handed to the map builder).
int32_t LayoutDiskBar(int32_t listedIndex, DiskMapItem* items, const RECT& bar, bool refresh, int32_t count);

// How a bar is drawn.
struct DiskBarStyle {
  // Whether segment i is outlined in yellow.
  bool (*highlighted)(const DiskMapItem& item, int32_t index, const void* context) = nullptr;
  const void* context = nullptr;
  bool gptDisk = false;          // a gap at msrIndex is the GPT header area
  int32_t msrIndex = -1;
  uint64_t diskSectors = 0;      // shown when the map is empty
};

// Draws the bar into `dc` at `bar` (off screen first, then one copy).
void PaintDiskBar(CDC& dc, const RECT& bar, const DiskMapItem* items, int32_t count, const DiskBarStyle& style);
