// The partition manager's process-wide record: the disk shown, the item under
// the cursor, the disk map of the drawn bar, the bounds and choices the create
// wizard and the resize and format pages hand to the table edits, and the
// drive-layout buffer the edits read and write. One thread, no locking.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

// formatOption values.
constexpr int32_t kFormatNone = 0;
constexpr int32_t kFormatQuick = 1;
constexpr int32_t kFormatFull = 2;  // offered and shown; formatted like a quick format

// Smallest new partition (16 MiB) and smallest resized one (10 MiB), 512-byte units.
constexpr int64_t kMinNewPartitionSectors = 32768;
constexpr int64_t kMinResizeSectors = 20480;
constexpr int64_t kSectorsPerMb = 2048;

struct PartitionManagerStateRecord {
  ListedDiskIndex selectedDisk = kNoListedDisk;
  int32_t cursorItem = -1;    // disk-map item of the last click; -1 none
  DiskMapItem diskMap[kMaxDiskMapItems] = {};
  int32_t diskMapCount = 0;
  DiskMapItem savedDiskMap[kMaxDiskMapItems] = {};
  // Bounds and sizes in 512-byte units. 64-bit: free space of 1 TiB and more
  // must neither wrap nor turn negative.
  int64_t minSectors = 0;
  int64_t maxSectors = 0;
  int64_t newSizeSectors = -1;
  int64_t newSize = -1;  // whole MB in the create wizard; sectors in the resize and format pages
  int32_t partitionType = 0;  // MBR type of the last creation (15 extended); kept across commands
  uint8_t primaryChosen = 1;
  uint8_t logicalMode = 0;
  int32_t formatOption = kFormatNone;
  CString fileSystemName;  // "NTFS", "FAT32", "FAT" or empty
  uint8_t createConfirmed = 0;
  uint8_t resizeConfirmed = 0;
  uint8_t formatConfirmed = 0;
  uint8_t extendedExists = 0;
  int32_t primaryCount = 0;
  alignas(8) uint8_t layoutBuffer[kLayoutBufferSize] = {};
  ListedDiskIndex wizardDisk = kNoListedDisk;
  int32_t wizardItem = -1;
  int32_t formattingItem = -1;  // drawn with a red frame while it is formatted
  int32_t formatLetter = 0;
  // The list row under the last right-click.
  ListedDiskIndex rowDisk = kNoListedDisk;
  int32_t rowPartition = -1;
  uint8_t rowIsPartition = 0;
  // Drive letter of the partition row selected last (the Run Explorer
  // button opens it); -1 when a disk row was selected.
  int32_t explorerLetter = -1;
  // The manager's window while it is open (the bar preview redraws it).
  HWND managerWindow = nullptr;
};

extern PartitionManagerStateRecord PartitionManagerState;

// Physical number of the listed disk `selectedDisk`; -1 when none.
int32_t SelectedPhysicalDisk();
// The item `index` of the manager's map, or null when the index is outside it.
const DiskMapItem* ManagerMapItem(int32_t index);
// Reads the selected disk afresh and lays its map out over `bar`: partitions
// and free stretches, where an extended partition without logical drives is
// its free space inside the extended partition. Returns diskMapCount.
int32_t LayoutManagerMap(const RECT& bar);
