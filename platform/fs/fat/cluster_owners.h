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
// Cost: one bit per data cluster in pages of kPageClusters clusters, a page
// made only when a cluster in it is claimed: a mostly empty 2 TB volume costs
// a few kilobytes, a full one 64 MiB (4 KiB clusters). A second such map for
// shared clusters is made only when the first one turns up; every check on a
// sound volume is one test of a counter. The build reads each folder once and
// follows each chain once: the I/O of listing the whole tree, paid once per
// mount and only by mounts that change something.
#pragma once

#include <cstddef>
#include <cstdint>
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
  void mark_shared(uint32_t cluster);
  // The driver freed the cluster.
  void release(uint32_t cluster);

  bool owned(uint32_t cluster) const { return test(owned_, cluster); }
  bool shared(uint32_t cluster) const { return shared_count_ != 0 && test(shared_, cluster); }
  bool any_shared() const { return shared_count_ != 0; }
  uint64_t shared_count() const { return shared_count_; }

 private:
  static constexpr uint32_t kPageShift = 15;  // 32768 clusters, 4 KiB of bits
  using Page = std::vector<uint64_t>;        // empty: nothing in it set
  using Bits = std::vector<Page>;
  static bool test(const Bits& bits, uint32_t cluster) {
    size_t page = cluster >> kPageShift;
    if (page >= bits.size() || bits[page].empty()) return false;
    uint32_t i = cluster & ((1u << kPageShift) - 1);
    return (bits[page][i >> 6] >> (i & 63)) & 1;
  }
  // Sets the bit; false when it was set already or lies out of range.
  static bool set(Bits& bits, uint32_t cluster);
  bool built_ = false;
  Bits owned_;
  Bits shared_;  // empty until a shared cluster is found
  uint64_t shared_count_ = 0;
};

}  // namespace platform::fs::fat
