// The destination layout of a whole-disk clone: the new partition table
// built from the source disk's layout and the planned starts, lengths and
// types in the layout table, written with a fresh disk signature; the wait
// until the new volumes are mounted; and the volume services of the run
// (a readable source for a partition, locking every volume of a disk).
//
// Units: the layout table and the drive layouts count bytes; disk sizes are
// 512-byte units.
#pragma once

#include <cstdint>

#include "disk/disk_numbers.h"

#include "platform/core/cstring.h"
#include "platform/core/types.h"

class CWnd;
struct DiskSelectionRecord;

constexpr int kCloneGuidSlots = 16;

struct LayoutWriterStateRecord {
  // 1 when the last BuildDestinationLayout wrote its table; cleared by the
  // clone page when it opens.
  uint8_t layoutWritten = 0;
  // Refreshed from the disks' geometry by CreateDestinationLayout.
  uint64_t sourceDiskSize = 0;
  uint64_t destinationDiskSize = 0;
  // The signature (MBR) the last ApplyDriveLayout gave the destination.
  uint32_t destinationSignature = 0;
  // New GPT partition GUIDs of the destination, by layout entry (slot 0 is
  // entry 0's), and the source volumes' GUIDs by source layout entry.
  GUID DestinationPartitionGuids[kCloneGuidSlots] = {};
  GUID SourceVolumeGuids[kCloneGuidSlots] = {};
  // The volumes of the disk locked by LockDiskVolumes.
  HANDLE lockedVolumes[32] = {};
};

extern LayoutWriterStateRecord LayoutWriterState;

// Layout entries, from the first, that the plan gives a length: the
// partitions the new table holds.
int32_t PlannedPartitionCount();
// Of those, the ones that will carry a volume (no extended container, no
// planned type of 0x80 or above, none of 0).
int32_t PlannedVolumeCount();

// True when the plan holds at least one partition and every planned
// partition lies inside the destination disk (`destinationUnits`, 512-byte
// units): a run never writes a table it cannot fill, nor an empty one.
bool PlanFitsDestination(uint64_t destinationUnits);

// A random disk signature that is neither 0 nor `avoid` (the source's), so
// the copy never carries a signature Windows cannot tell from its source's.
uint32_t MakeDiskSignature(uint32_t avoid);

// Writes `layout` (a DRIVE_LAYOUT_INFORMATION_EX in a kLayoutBufferSize
// buffer) onto physical disk `disk` with a new signature (MBR) or disk GUID
// (GPT, when the layout's is zero). False when the table could not be set.
bool ApplyDriveLayout(int32_t disk, void* layout);

// A layout of one FAT32 partition (type 0x0C) at layout entry 0's planned
// place: zeros over the first track of DestinationSelection's disk, then
// the caller's layout (its count cut to migrationPartitionCount with system
// migration) with entry 0 set from the plan, written onto `disk`. Not used by
// the clone run. The result of ApplyDriveLayout.
bool WriteSingleEntryLayout(int32_t disk, void* layout);

// Turns `layout` (the source disk's layout, `count` entries) into the
// destination's from the plan in the layout table and writes it.
bool BuildDestinationLayout(CWnd* page, int32_t disk, void* layout, int32_t count);

// Clears the destination, writes its new partition table and waits until its
// new volumes have drive letters. Failures set CloneRunState.cloneAborted
// (after "Partition Error"); the layout-written flag tells the rest.
void CreateDestinationLayout(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed);

// The volume to read layout entry k of the source disk from: the shadow
// device of its letter's (or its GUID path's) volume; the live volume itself
// when no shadow copy can be made (under WinPE, or without room for one), so
// that its files are still copied one by one; empty when the entry has no
// copyable volume (it is then copied raw).
CString PrepareSourceVolume(int32_t k, int32_t sourceDisk);

// Locks the lettered volumes of the record's disk; UnlockDiskVolumes
// unlocks and closes them. Both return true.
bool LockDiskVolumes(const DiskSelectionRecord& disk);
bool UnlockDiskVolumes();

// 32 lowercase hexadecimal digits: bytes 3,2,1,0, 5,4, 7,6, then 8..15.
CString GuidToHexText(const GUID& guid);
