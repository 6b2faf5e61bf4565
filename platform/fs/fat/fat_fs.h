// Shared state of one mounted FAT volume, used by the driver and its open
// files. Every public entry point takes `mutex` first; the helpers below
// assume it is held.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/fat/boot_sector.h"
#include "platform/fs/fat/dir_entry.h"
#include "platform/fs/fat/fat_table.h"
#include "platform/fs/fat/fat_volume.h"
#include "platform/fs/volume_driver.h"

namespace platform::fs::fat {

// A directory's bytes in memory. `id` is its first cluster, or 0 for the
// fixed FAT12/16 root.
struct Directory {
  uint32_t id = 0;
  ClusterChain chain;  // empty for the fixed root
  std::vector<uint8_t> bytes;
  ParsedDirectory parsed;
  // Set when the copy may differ from the device (a failed write, a removed
  // folder); the next lookup reads it again into the same object.
  bool stale = false;
  size_t slot_count() const { return bytes.size() / kEntrySize; }
};

// An open file's shared state: where its entry lives and its cluster chain.
struct FileNode {
  uint32_t dir_id = 0;
  size_t short_slot = 0;
  uint64_t entry_offset = 0;  // device byte offset of the short entry
  uint32_t first_cluster = 0;
  uint64_t size = 0;
  ClusterChain chain;
};

class FatFs {
 public:
  FatFs(std::shared_ptr<BlockDevice> device, const FatGeometry& geometry, const MountOptions& options);

  std::mutex mutex;
  std::shared_ptr<BlockDevice> device;
  FatGeometry g;
  FatTable fat;
  MountOptions options;

  uint32_t root_id() const { return g.kind == FatKind::Fat32 ? g.root_cluster : 0; }
  uint64_t now() const;
  int32_t local_offset() const;

  // The folder with this id from the cache, read and parsed on first use. The
  // pointer stays valid until the next begin_operation().
  DWORD directory(uint32_t id, Directory** dir);
  // Called at the start of every driver call: trims the folder cache.
  void begin_operation();
  uint64_t slot_offset(const Directory& dir, size_t slot) const;
  // Writes slots [first, first + count) of `dir` from its bytes.
  // Marks the folder stale when the write fails.
  DWORD write_slots(Directory& dir, size_t first, size_t count);
  // ERROR_FILE_CORRUPT for an entry no sound volume holds: a first cluster out
  // of range, a folder without clusters, or a short name with forbidden bytes.
  DWORD check_entry(const DirectoryEntry& entry) const;
  DWORD check_directory(const Directory& dir) const;
  // Finds a named entry (long or short name, case-insensitive); -1 when absent.
  int find(const Directory& dir, const std::u16string& name) const;

  // Walks all but the last component. `ancestry` receives the directory ids on
  // the way (root first); a directory met twice is a loop and gives ERROR_FILE_CORRUPT.
  DWORD walk_to_parent(const VolumePath& path, Directory** parent, std::vector<uint32_t>* ancestry);
  // The folder named by the whole path (the root for an empty path).
  DWORD open_directory(const VolumePath& path, Directory** dir, std::vector<uint32_t>* ancestry);
  DWORD child_directory(const DirectoryEntry& entry, std::vector<uint32_t>* ancestry, Directory** out);

  // Adds an entry named `name` with the fields of `entry` (name bytes are
  // chosen here). `except_slot` is an entry whose short name may be reused
  // (a rename within the folder). Returns the short slot.
  DWORD add_entry(Directory& dir, const std::u16string& name, DirEntryDisk entry, size_t* short_slot,
                  long except_slot = -1);
  DWORD remove_entry(Directory& dir, const DirectoryEntry& entry);
  // Parses the folder's bytes again after they were edited in place.
  void reparse(Directory& dir) const;
  // Keeps a cached folder in step with an entry written straight to the device.
  void patch_cached_entry(uint32_t dir_id, size_t slot, const DirEntryDisk& entry);
  DWORD grow_directory(Directory& dir);

  // Data I/O along a chain, coalescing neighbouring clusters into one transfer.
  DWORD chain_io(const ClusterChain& chain, uint64_t offset, void* buffer, size_t length, bool write);
  DWORD zero_range(const ClusterChain& chain, uint64_t offset, uint64_t length);
  DWORD zero_clusters(const ClusterChain& clusters);

  FileInfo info_of(const Directory& dir, const DirectoryEntry& entry) const;
  void stamp_times(DirEntryDisk* e, bool creation, bool write) const;

  std::shared_ptr<FileNode> find_node(uint32_t dir_id, size_t slot);
  void rekey_node(uint32_t old_dir, size_t old_slot, uint32_t new_dir, size_t new_slot, uint64_t offset);
  std::shared_ptr<FileNode> node_for(const Directory& dir, const DirectoryEntry& entry, DWORD* error);
  // Rewrites the size, first cluster and (when `written`) the write time and archive bit of a node's entry.
  DWORD update_node_entry(FileNode& node, bool written);

  // Writes the changed FAT sectors (every copy) and FSInfo to the device,
  // without asking the device to make them durable.
  DWORD write_back_all();
  // write_back_all, then the device's flush.
  DWORD flush_all();

  // Builds the cluster-owner map at the first change to the volume (see
  // cluster_owners.h); every call that changes the volume starts with it.
  // Folders that cannot be read are left out: their entries are out of the
  // driver's reach for changes as well.
  DWORD ensure_owners();
  // ERROR_DISK_CORRUPT when chain[first, last) holds a cluster that another
  // chain names too: such clusters are never freed, relinked or written.
  DWORD check_unshared(const ClusterChain& chain, size_t first, size_t last) const;
  DWORD check_unshared(const ClusterChain& chain) const { return check_unshared(chain, 0, chain.size()); }
  // The same for the cluster holding a byte of the volume (none for the fixed root).
  DWORD check_unshared_at(uint64_t volume_offset) const;

 private:
  // Claims every cluster of the chain from `first`; returns false when its
  // first cluster was claimed already (a folder met twice is not walked again).
  bool claim_chain(uint32_t first);
  DWORD load_directory(uint32_t id, Directory* dir);
  static constexpr size_t kCacheBytes = 32u << 20;
  std::map<uint32_t, std::unique_ptr<Directory>> dirs_;
  static uint64_t key(uint32_t dir, size_t slot) { return (uint64_t(dir) << 32) | uint64_t(slot); }
  std::map<uint64_t, std::weak_ptr<FileNode>> nodes_;
  size_t live_nodes_hint_ = 0;
  // The FSInfo sector as last read or written, so writing a file back costs
  // no read of it; empty until first needed. A driver is released before any
  // raw access to its volume, so nothing else changes it meanwhile.
  std::vector<uint8_t> fsinfo_;
  bool fsinfo_trusted_ = false;
};

DWORD device_error(DWORD fallback);

}  // namespace platform::fs::fat
