// Partition table editing: the MBR edits of the partition manager on the
// selected disk, through the platform's drive-layout interface. A first
// partition on an empty disk (a new MBR), a primary or extended partition in
// the free item under the cursor, a logical drive in the free item of the
// extended partition under the cursor, the removal of the item under the
// cursor, and the write of the edited table.
//
// Every edit first re-reads the disk's layout and works out the free extent of
// the item from it, so nothing is placed over a partition, an extended
// partition's bounds or the MBR itself: the new extent lies inside its free
// item, clipped to (or, for a logical drive, kept within) the extended
// partition, and starts and lengths are whole native sectors. The chain of
// extended boot records is rebuilt from the remaining logical drives on every
// write, so removing any logical drive keeps the others.
//
// The edits do not prompt: they return an EditResult whose message key the
// dialog shows (EditResultKey).
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"

enum class EditResult : int {
  Ok = 0,
  NoFileSystem = 1,         // a logical drive without a known file-system name; nothing written
  NoExtendedPartition = 2,  // a logical drive on a disk without an extended partition; nothing written
  CannotFindPartition = 3,  // the item to remove is no partition of the table; nothing written
  WriteFailed = 4,          // the platform refused the new table; the disk keeps its old one
  NoRoom = 5,               // the item under the cursor holds no room for the partition; nothing written
  NoMoreSlots = 6,          // all four primary slots are in use; nothing written
  NotMbrDisk = 7,           // a GPT disk, or a disk whose volume has no partition table; nothing written
  NoDisk = 8,               // no disk selected, or it cannot be opened; nothing written
};

// The language key shown for a result; empty for Ok.
const char16_t* EditResultKey(EditResult result);

// "FAT" 6, "FAT32" 12, "NTFS" 7; anything else -1.
int32_t PartitionTypeFromFsName(const CString& name);

// A stretch of free space (512-byte units, end exclusive).
struct FreeExtent {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t length() const { return end > start ? end - start : 0; }
};

// The usable part of map item `item` of the manager's map for a new primary or
// extended partition (`logical` false) or a logical drive (`logical` true),
// from the disk's current table: free space only; outside the extended
// partition for a primary (the MBR and its first track excluded), inside it for
// a logical drive (up to the next logical drive's boot record). Reads the
// layout of the selected disk. False when the item is no such free space.
bool FreeExtentOfItem(int32_t item, bool logical, FreeExtent* extent);

// Sets the MBR type of the partition (primary or logical) that starts at
// `start` (512-byte units) of the selected disk to the one file system `fs`
// needs (6 FAT: 0x06, 12 FAT32: 0x0C, 7 NTFS: 0x07), unless its type already
// names that file system (FAT 0x04/0x06/0x0E, FAT32 0x0B/0x0C). Ok when the
// type fits or was written.
EditResult SetTypeForFileSystem(uint64_t start, int32_t fs);

// True when map item `item` is the free space of an extended partition that
// holds no logical drive (the whole of it, from its start): deleting the item
// deletes that extended partition.
bool IsEmptyExtendedItem(int32_t item);

// The creation of the wizard's primary or extended partition in the free item
// `wizardItem` (or, with none, the first free stretch that holds it).
EditResult CreatePartitionFromWizard();
// A new MBR with one partition of `sectors` 512-byte units and `type` at
// sector 63 (native sectors on disks of larger sectors), signature 0xA4B57300.
EditResult InitializeDiskWithPartition(int64_t sectors, int32_t type);
// Puts a new primary entry of `sectors` and `type` at the start of `extent`
// into the primary slots of the layout table, keeping the slots in disk order
// and every existing entry. Returns the entry count to write (0 on failure).
int32_t InsertPrimaryEntry(int64_t sectors, int32_t type, const FreeExtent& extent);
// A logical drive of `newSizeSectors` (its boot record's 2048 sectors
// included) in the free item `wizardItem` inside the extended partition.
EditResult CreateLogicalDrive();
// Removes the partition of map item `item` (a primary, a logical drive, or the
// extended partition with its logical drives) and writes the table.
EditResult RemovePartitionOfItem(int32_t item);
// Sends the first `count` entries of the layout table to the selected disk
// (mode 0 after a creation, 1 after a removal). False when the disk refused it.
bool WriteDriveLayout(int32_t count, int32_t mode);

// Re-reads the selected disk's layout into layoutBuffer and the layout table;
// sets extendedExists and primaryCount. Returns the entry count, -1 on failure.
int32_t ReadSelectedLayout();
// True when the selected disk's table is one the edits may change: an MBR, or
// a disk with no table and no volume on it.
bool SelectedDiskIsEditable();
