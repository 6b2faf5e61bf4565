// Copy-on-write snapshots of ranges of disk images, shared by every process
// of one simulated PC.
//
// Taking a snapshot copies nothing: the snapshot reads the live image, except
// for the blocks written since it was taken, whose old bytes the writer (any
// process of the PC, through FileBlockDevice) saves to the snapshot's side
// store before it overwrites them. The side store holds only those blocks.
//
// Where the records live: the table of the current machine folder,
// DIR/snapshots.table beside volumes.lock, so that every process of the PC
// finds the snapshots of the images it writes; without a machine folder (or
// when it is read-only) a table private to the process.
//
// The side store and its block map are unnamed host files (the host's
// temporary folder) held open by the process that took the snapshot; writers
// of other processes reach them through /proc/PID/fd/N. They go when the
// snapshot is released or its process dies: nothing is ever left behind in a
// folder. A writer lets go of a released or dead snapshot's files at its next
// write.
//
// DIR/snapshots.table, 4096 bytes (host byte order; the file never leaves the host):
//   header
//   +0x00 u32 magic "SNAP"
//   +0x04 u32 version (1)
//   +0x08 u64 records in use (a writer with nothing attached and this 0 skips the table)
//   +0x10 u64 generation, bumped by every take and release
//   (64 bytes)
//   records at 64 + 64 * i, i < 63
//   +0x00 u64 owner process id (0: free)
//   +0x08 u64 image device (st_dev)
//   +0x10 u64 image inode (st_ino)
//   +0x18 u64 first byte of the range in the image
//   +0x20 u64 length of the range in bytes
//   +0x28 u32 side store descriptor in the owner
//   +0x2c u32 block map descriptor in the owner
//   +0x30 u64 generation the record was made at
//   +0x38 u64 zero
//   (64 bytes)
// The owner holds an open-file-description write lock on its record's 64
// bytes for the snapshot's life; a record whose bytes nobody has locked
// belongs to a dead process and is swept by the next take. The header's 64
// bytes are locked (write) while records change and (read) while they are read.
//
// Block map: +0x00 u64 blocks in the side store, then one u32 per
// kSnapshotBlock block of the range: 0 while the live image still holds the
// snapshot's bytes, else 1 + the block's slot in the side store (slot n at
// byte n * kSnapshotBlock). Savers lock the map's first 8 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/block_device.h"
#include "platform/core/types.h"

namespace platform {

constexpr uint64_t kSnapshotBlock = 4096;

// Makes the table of machine folder `folder` the one this process's image
// writes and snapshots use (empty: a table private to the process).
void UseSnapshotTable(const std::string& folder);

// True when some snapshot may cover an image this process writes: then
// SaveBeforeWrite must run before each write. Cheap (no system call).
bool SnapshotsMayCover();

// Saves, for every snapshot of image `key` that covers part of
// [offset, offset + length), the old bytes of each block the write changes
// and that no earlier write saved. `live_fd` reads the image's current bytes.
// False, last error set, when a block could not be saved: the write must not
// go ahead.
bool SaveBeforeWrite(const BackingFile& key, int live_fd, uint64_t offset, const void* data, size_t length);

// Takes a snapshot of `live` (a device over a host image: a disk or a window
// onto one) as it is now. Null with *error set when `live` is not backed by a
// host image (ERROR_NOT_SUPPORTED), the table is full (ERROR_TOO_MANY_OPEN_FILES)
// or the side store cannot be made (ERROR_DISK_FULL). The returned device is
// read-only; destroying it releases the snapshot.
std::shared_ptr<BlockDevice> TakeSnapshot(std::shared_ptr<BlockDevice> live, DWORD* error);

}  // namespace platform
