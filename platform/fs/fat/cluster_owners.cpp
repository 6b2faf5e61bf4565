#include "platform/fs/fat/cluster_owners.h"

namespace platform::fs::fat {

void ClusterOwners::start(uint32_t max_cluster) {
  built_ = false;
  shared_.clear();
  bits_.assign((uint64_t(max_cluster) >> 6) + 1, 0);
}

void ClusterOwners::clear() {
  built_ = false;
  shared_.clear();
  bits_.clear();
  bits_.shrink_to_fit();
}

bool ClusterOwners::claim(uint32_t cluster) {
  size_t word = cluster >> 6;
  if (word >= bits_.size()) return true;
  uint64_t bit = uint64_t(1) << (cluster & 63);
  if (bits_[word] & bit) {
    shared_.insert(cluster);
    return false;
  }
  bits_[word] |= bit;
  return true;
}

void ClusterOwners::release(uint32_t cluster) {
  size_t word = cluster >> 6;
  if (word < bits_.size()) bits_[word] &= ~(uint64_t(1) << (cluster & 63));
}

}  // namespace platform::fs::fat
