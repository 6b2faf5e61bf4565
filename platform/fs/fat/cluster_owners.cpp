#include "platform/fs/fat/cluster_owners.h"

namespace platform::fs::fat {

void ClusterOwners::start(uint32_t max_cluster) {
  built_ = false;
  shared_.clear();
  shared_count_ = 0;
  owned_.assign((uint64_t(max_cluster) >> kPageShift) + 1, Page{});
}

void ClusterOwners::clear() {
  built_ = false;
  owned_ = {};
  shared_ = {};
  shared_count_ = 0;
}

bool ClusterOwners::set(Bits& bits, uint32_t cluster) {
  size_t page = cluster >> kPageShift;
  if (page >= bits.size()) return false;
  if (bits[page].empty()) bits[page].assign((size_t(1) << kPageShift) / 64, 0);
  uint32_t i = cluster & ((1u << kPageShift) - 1);
  uint64_t bit = uint64_t(1) << (i & 63);
  uint64_t& word = bits[page][i >> 6];
  if (word & bit) return false;
  word |= bit;
  return true;
}

bool ClusterOwners::claim(uint32_t cluster) {
  if ((size_t(cluster) >> kPageShift) >= owned_.size()) return true;
  if (set(owned_, cluster)) return true;
  mark_shared(cluster);
  return false;
}

void ClusterOwners::mark_shared(uint32_t cluster) {
  if ((size_t(cluster) >> kPageShift) >= owned_.size()) return;
  if (shared_.empty()) shared_.assign(owned_.size(), Page{});
  if (set(shared_, cluster)) ++shared_count_;
}

void ClusterOwners::release(uint32_t cluster) {
  size_t page = cluster >> kPageShift;
  if (page >= owned_.size() || owned_[page].empty()) return;
  uint32_t i = cluster & ((1u << kPageShift) - 1);
  owned_[page][i >> 6] &= ~(uint64_t(1) << (i & 63));
}

}  // namespace platform::fs::fat
