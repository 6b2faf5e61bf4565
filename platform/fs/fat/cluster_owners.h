// Which data clusters some chain names, and which ones two chains name
// (cross-linked files on a damaged volume).
//
// The FAT alone cannot tell either: a chain that runs into an entry marked
// free still names that cluster, and two entries (or two links) leading into
// one cluster look like any other link. The driver builds this map once per
// mount, at the first change to the volume, from a walk of every folder
// (FatFs::ensure_owners), and keeps it current through FatTable's allocate and
// release. A shared cluster is never freed, relinked or written through either
// chain; the allocator never hands out a cluster that a chain names.
//
// Cost: one bit per data cluster (a 32 GiB FAT32 volume of 4 KiB clusters:
// 1 MiB, beside the 32 MiB FAT copy already in memory) and a set of the shared
// clusters, empty on a sound volume, so every check on a sound volume is one
// test of that set. The build reads each folder once and follows each chain
// once: the I/O of listing the whole tree, paid once per mount and only by
// mounts that change something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

namespace platform::fs::fat {

class ClusterOwners {
 public:
  bool built() const { return built_; }
  // Starts a build for clusters 2..max_cluster with nothing owned.
  void start(uint32_t max_cluster);
  // The build is complete: checks and the allocator rely on it from now on.
  void finish() { built_ = true; }
  // Back to "not built" (a new mount, a build that failed).
  void clear();

  // Records that a chain names `cluster`. Returns false when a chain named it
  // already; the cluster is then marked shared.
  bool claim(uint32_t cluster);
  void mark_shared(uint32_t cluster) { shared_.insert(cluster); }
  // The driver freed the cluster.
  void release(uint32_t cluster);

  bool owned(uint32_t cluster) const {
    size_t word = cluster >> 6;
    return word < bits_.size() && (bits_[word] >> (cluster & 63)) & 1;
  }
  bool shared(uint32_t cluster) const { return !shared_.empty() && shared_.count(cluster); }
  bool any_shared() const { return !shared_.empty(); }
  size_t shared_count() const { return shared_.size(); }

 private:
  bool built_ = false;
  std::vector<uint64_t> bits_;
  std::set<uint32_t> shared_;
};

}  // namespace platform::fs::fat
