// The file allocation table held in memory: one copy read at mount, entries
// read and written by cluster number, dirty sectors tracked and written back to
// every FAT copy on flush. Every chain walk is capped by the cluster count.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/fs/fat/boot_sector.h"
#include "platform/fs/fat/cluster_owners.h"

namespace platform::fs::fat {

class FatTable {
 public:
  static constexpr uint32_t kFree = 0;
  static constexpr uint32_t kEndOfChain = 0x0FFFFFFF;  // normalised end marker

  // Reads the active FAT copy in one I/O. Returns the device error on failure.
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
  DWORD chain(uint32_t first, std::vector<uint32_t>* clusters) const;

  // Allocates `count` clusters, preferring the ones right after `after` (0: no
  // preference) and then the first free run long enough. The clusters are
  // linked in order and end with an end marker; they are not linked to `after`.
  // A cluster marked free that a chain still names (see owners()) is skipped.
  DWORD allocate(uint32_t count, uint32_t after, std::vector<uint32_t>* clusters);
  // Marks every cluster of the list free. The caller has made sure that none
  // of them is shared with another chain.
  void release(const std::vector<uint32_t>& clusters);

  // The owner map, kept current by allocate() and release() once built.
  ClusterOwners& owners() { return owners_; }
  const ClusterOwners& owners() const { return owners_; }

  uint32_t free_clusters() const { return free_count_; }
  uint32_t next_free_hint() const { return hint_; }

  // Writes dirty sectors to every FAT copy, coalescing neighbours.
  DWORD flush(BlockDevice& device);
  bool dirty() const { return any_dirty_; }

 private:
  void mark_dirty(uint64_t byte_offset, uint32_t length);

  FatGeometry g_;
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> dirty_;  // one flag per FAT sector
  bool any_dirty_ = false;
  uint32_t free_count_ = 0;
  uint32_t hint_ = 2;
  ClusterOwners owners_;
};

}  // namespace platform::fs::fat
