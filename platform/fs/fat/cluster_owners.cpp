#include "platform/fs/fat/cluster_owners.h"

namespace platform::fs::fat {

void ClusterOwners::start(uint32_t max_cluster) {
  built_ = false;
  shared_.clear();
  shared_count_ = 0;
  owned_.assign((uint64_t(max_cluster) >> 6) + 1, 0);
}

void ClusterOwners::clear() {
  built_ = false;
  owned_ = {};
  shared_ = {};
  shared_count_ = 0;
}

bool ClusterOwners::claim(uint32_t cluster) {
  size_t word = cluster >> 6;
  if (word >= owned_.size()) return true;
  uint64_t bit = uint64_t(1) << (cluster & 63);
  if (owned_[word] & bit) {
    mark_shared(cluster);
    return false;
  }
  owned_[word] |= bit;
  return true;
}

void ClusterOwners::mark_shared(uint32_t cluster) {
  size_t word = cluster >> 6;
  if (word >= owned_.size()) return;
  if (shared_.empty()) shared_.assign(owned_.size(), 0);
  uint64_t bit = uint64_t(1) << (cluster & 63);
  if (shared_[word] & bit) return;
  shared_[word] |= bit;
  ++shared_count_;
}

void ClusterOwners::release(uint32_t cluster) {
  size_t word = cluster >> 6;
  if (word < owned_.size()) owned_[word] &= ~(uint64_t(1) << (cluster & 63));
}

}  // namespace platform::fs::fat
