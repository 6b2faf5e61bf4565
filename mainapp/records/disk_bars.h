// The disk bars: a disk drawn as a horizontal row of segments (partitions and
// free gaps, from its disk map) with a label and a size under each, and the
// layout that gives every segment its pixel width. The clone wizard's pages
// and the partition manager draw their bars with these.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

class CDC;

constexpr int kMinimumSegmentWidth = 44;

// Gives every item of `items` (count items) its pixel width in a bar of
// `barWidth` pixels; the widths follow the lengths, none narrower than 44.
// `diskSectors` is the disk's size (512-byte units). Returns the count.
int32_t LayoutDiskBarWidths(DiskMapItem* items, int32_t count, uint64_t diskSectors, int barWidth);
// The same for a listed disk, building its map first when `count` is 0
// (with `refresh` handed to the map builder).
int32_t LayoutDiskBar(ListedDiskIndex listed, DiskMapItem* items, const RECT& bar, bool refresh, int32_t count);

// How a bar is drawn.
struct DiskBarStyle {
  // Whether segment i is outlined in yellow.
  bool (*highlighted)(const DiskMapItem& item, int32_t index, const void* context) = nullptr;
  const void* context = nullptr;
  bool gptDisk = false;          // a gap at msrIndex is the GPT header area
  int32_t msrIndex = -1;
  uint64_t diskSectors = 0;      // shown when the map is empty
  // A partition of this type is one the plan adds (the EFI system partition
  // of a conversion to GPT) and is labelled IDS_new; 0 for none.
  int32_t newPartitionType = 0;
  int32_t alertItem = -1;        // framed in red (the partition being formatted), before any highlight
  // A lettered partition whose volume holds no file system is labelled
  // IDS_Unformatted in place of its type name, as the manager's list says.
  bool markUnformatted = false;
  // Fonts of the label and size lines (the sizes also serve the empty bar).
  const char16_t* fontFace = u"MS Shell Dlg";
  int labelHeight = 12;
  int labelWeight = 400;
  int sizeHeight = 12;
  int sizeWeight = 400;
};

// The name of a partition's segment: " (C:) " and the type name for a
// lettered partition (IDS_Unformatted instead of the type name when asked to
// mark a volume without a file system), the type name alone without a letter.
CString DiskBarPartitionName(const DiskMapItem& item, bool markUnformatted = false);

// The label under segment `index`: " (C:) " and the type name for a lettered
// partition (IDS_Unformatted for the name when the style marks a volume
// without a file system), the type name alone without a letter, IDS_new for a partition
// the plan adds, "Raw" without a file system, "GPTHDR", IDS_Unallocated or
// IDS_Free for gaps.
CString DiskBarSegmentLabel(const DiskMapItem& item, int32_t index, const DiskBarStyle& style);

// Draws the bar into `dc` at `bar` (off screen first, then one copy).
void PaintDiskBar(CDC& dc, const RECT& bar, const DiskMapItem* items, int32_t count, const DiskBarStyle& style);
