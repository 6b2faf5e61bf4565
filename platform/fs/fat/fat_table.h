// The file allocation table: entries read and written by cluster number
// through a window cache over the active copy, changed sectors written back to
// every FAT copy on flush (or when their window leaves the cache). Every chain
// walk is capped by the cluster count.
//
// Memory: at most kCachedWindows windows of kWindowBytes each (1 MiB), whatever
// the volume's size; a whole FAT in memory would cost about 1 MiB per GiB of
// volume at 4 KiB clusters (2 GiB for a 2 TB volume). The mount reads the FAT
// once, window by window, to count the free clusters. A window that cannot be
// read after the mount makes its entries read as bad clusters (never free,
// never part of a sound chain) and the error is reported by the next chain
// walk and flush.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/fat/boot_sector.h"
#include "platform/fs/fat/cluster_chain.h"
#include "platform/fs/fat/cluster_owners.h"

namespace platform::fs::fat {

class FatTable {
 public:
  static constexpr uint32_t kFree = 0;
  static constexpr uint32_t kEndOfChain = 0x0FFFFFFF;  // normalised end marker

  static constexpr uint32_t kWindowBytes = 64 << 10;
  static constexpr size_t kCachedWindows = 16;

  // Reads the active FAT copy through and counts its free clusters. The
  // device must outlive the table. Returns the device error on failure.
  DWORD load(BlockDevice& device, const FatGeometry& geometry);

  // Entry value with end-of-chain markers normalised to kEndOfChain and the bad
  // cluster marker kept as is (0x0FFFFFF7).
  uint32_t get(uint32_t cluster) const;
  void set(uint32_t cluster, uint32_t value);

  bool is_end(uint32_t value) const { return value >= kEndOfChain - 7 && value != kBadCluster; }
  static constexpr uint32_t kBadCluster = 0x0FFFFFF7;
  static constexpr uint32_t kPreferredRun = 16;

  // Follows the chain from `first`; fails with ERROR_FILE_CORRUPT on a cycle, a
  // free or bad entry inside the chain, or a link out of range.
  DWORD chain(uint32_t first, ClusterChain* clusters) const;

  // Allocates `count` clusters, preferring the ones right after `after` (0: no
  // preference) and then the first free run long enough. The clusters are
  // linked in order and end with an end marker; they are not linked to `after`.
  // A cluster marked free that a chain still names (see owners()) is skipped.
  DWORD allocate(uint32_t count, uint32_t after, ClusterChain* clusters);
  // Marks every cluster of the chain free. The caller has made sure that none
  // of them is shared with another chain.
  void release(const ClusterChain& clusters);

  // The owner map, kept current by allocate() and release() once built.
  ClusterOwners& owners() { return owners_; }
  const ClusterOwners& owners() const { return owners_; }

  uint32_t free_clusters() const { return free_count_; }
  uint32_t next_free_hint() const { return hint_; }

  // Writes changed sectors to every FAT copy, one transfer per window and copy.
  DWORD flush(BlockDevice& device);
  // True when entries changed since the last flush (even if their windows
  // were written back already when they left the cache).
  bool dirty() const { return changed_; }
  // Windows in memory now (for tests of the bound).
  size_t cached_windows() const { return windows_.size(); }

 private:
  struct Window {
    uint64_t index = 0;           // byte offset in the FAT / kWindowBytes
    std::vector<uint8_t> bytes;
    uint32_t dirty_first = 0;     // changed sectors [dirty_first, dirty_end) of the window
    uint32_t dirty_end = 0;
    uint64_t last_use = 0;
  };
  // The window holding FAT byte `offset`, read on demand; null (and io_error_
  // set) when it cannot be read.
  Window* window_for(uint64_t offset) const;
  // Writes a window's changed sectors to every copy.
  DWORD write_window(BlockDevice& device, Window& w) const;
  // Where entry `cluster` starts in the FAT; false past its end.
  bool entry_offset(uint32_t cluster, uint64_t* at) const;
  uint64_t fat_bytes() const { return uint64_t(g_.fat_sectors) * g_.bytes_per_sector; }

  FatGeometry g_;
  BlockDevice* device_ = nullptr;
  mutable std::vector<std::unique_ptr<Window>> windows_;
  mutable Window* last_ = nullptr;
  mutable uint64_t tick_ = 0;
  mutable DWORD io_error_ = 0;
  bool changed_ = false;
  uint32_t free_count_ = 0;
  uint32_t hint_ = 2;
  ClusterOwners owners_;
};

}  // namespace platform::fs::fat
