// The record of one chosen disk or partition, its three process-wide
// instances, and GetListSelection, which fills the first of them from the
// ticked row of the source page's disk list.
//
// The record is copied whole from one instance to another (the destination
// page copies DestinationSelection into ScanTarget, the stand-alone scan page
// DiskSelection into ScanTarget), so it holds only plain values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/listed_disks.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"

class CListCtrl;

enum DiskSelectionKind : int32_t {
  kSelectionWholeDisk = 2,
  kSelectionPartition = 3,
};

constexpr int kSelectionModelSize = 32;
constexpr int kSelectionFileSystemSize = 64;

// Sector numbers are native sectors of the disk (512-byte units divided by
// the disk's sector multiplier).
struct DiskSelectionRecord {
  PhysicalDiskNumber diskNumber;                    // written for a whole-disk choice only
  int32_t kind;                                     // DiskSelectionKind
  WCHAR driveLetter;                                // a partition's letter, a blank when its row has none
  WCHAR model[kSelectionModelSize];                 // whole-disk choice, terminated
  WCHAR fileSystemName[kSelectionFileSystemSize];   // partition choice: "RAW", "FAT", "FAT32" or "NTFS"
  uint64_t startSector;                             // 0 for a whole disk
  uint64_t sectorCount;
  uint64_t cursor;                                  // no filler writes it; the wipe keeps its running position here
};
static_assert(offsetof(DiskSelectionRecord, kind) == 4);
static_assert(offsetof(DiskSelectionRecord, driveLetter) == 8);
static_assert(offsetof(DiskSelectionRecord, model) == 10);
static_assert(offsetof(DiskSelectionRecord, fileSystemName) == 74);
static_assert(offsetof(DiskSelectionRecord, startSector) == 208);
static_assert(sizeof(DiskSelectionRecord) == 232);
static_assert(sizeof(PhysicalDiskNumber) == sizeof(int32_t));

// The ticked row of the source list (GetListSelection; the wipe, scan and
// viewer pages fill it with their own routines).
extern DiskSelectionRecord DiskSelection;
// The clone's destination.
extern DiskSelectionRecord DestinationSelection;
// The bad-sector scan's target.
extern DiskSelectionRecord ScanTarget;

// Sets the record's model text: at most 31 characters, then zeros.
void SetSelectionModel(DiskSelectionRecord& record, const CString& model);

// Ticked rows the last GetListSelection counted.
extern int32_t tickedCount;
// The disk of the last partition row GetListSelection took.
extern PhysicalDiskNumber partitionDiskNumber;

// Scans the rows of the source page's disk list (at most the 26 rows that
// DiskListRows describes) and fills DiskSelection from the ticked ones:
// the first ticked disk row wins and ends the scan; otherwise the last
// ticked partition row fills the record. `forcedRow` counts as ticked even
// when its check box is clear (-1: none). A row whose table entry does not
// lead to a listed disk is skipped and left uncounted. Returns 1.
int32_t GetListSelection(const CListCtrl& list, int32_t forcedRow);
