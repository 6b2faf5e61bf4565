// The tick rules of the disk list pages (the secure deletion's, the sector
// viewer's, the surface scan's): one ticked row, a disk row's partitions
// following its tick, the system disk's and the boot medium's rows drawn
// disabled, and the ticked row copied into DiskSelection.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"
#include "platform/ui/controls.h"

// How a disk list page lists the disks.
struct DiskListStyle {
  bool markSystem = true;         // the system disk's rows get the disabled images
  bool markBootMedium = true;     // so do the boot medium's (DiskContext.markedBootDisk)
  bool letteredOnly = false;      // partitions without a drive letter get no row
  bool diskUsedColumn = true;     // disk rows show their partitions' used total
};

// Fills `list` as the clone's lists are filled (FillDiskListRows: one row
// per listed disk and one per partition, recorded in DiskListRows, at most
// the 26 rows the tables hold, the disk and letter tables refreshed first),
// then finds the system disk and, with `markSystem`, gives its rows the
// disabled images; with `markBootMedium` the boot medium's rows get them too.
void FillDeletionDiskList(CListCtrl& list, const DiskListStyle& style);

// Copies the ticked row of `list` (or `forcedRow`) into DiskSelection: a disk
// row gives the whole disk, a partition row its letter, file-system name,
// start and count, all in native sectors of its disk. Returns true when a row
// was taken.
bool GetDeletionListSelection(const CListCtrl& list, int32_t forcedRow);

// Leaves `row` the only ticked row, and a disk row's partition rows with its
// tick state.
void ApplyRowTick(CListCtrl& list, int row, bool ticked);

// One check-box change of a list row made by the user: `checkedRow` becomes
// the row (or -1 when unticked) and the ticks follow (ApplyRowTick). The
// row, or -1 when the change was no tick of a listed row.
int TakeRowTick(CListCtrl& list, const NMHDR* header, int32_t& checkedRow);

// The listed disk of a list row (a partition row through its disk row),
// kNoListedDisk for a row the tables do not hold.
ListedDiskIndex ListedIndexOfRow(int row);
// The physical disk of a list row, kNoPhysicalDisk when none.
PhysicalDiskNumber PhysicalDiskOfRow(int row);
// Whether a row (disk or partition) lies on the boot medium, whose rows
// cannot be ticked.
bool IsBootMediumRow(int row);
