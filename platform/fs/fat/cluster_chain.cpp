#include "platform/fs/fat/cluster_chain.h"

#include <algorithm>

namespace platform::fs::fat {

size_t ClusterChain::run_of(size_t index) const {
  // The last run whose start is at or before the index.
  auto it = std::upper_bound(runs_.begin(), runs_.end(), uint64_t(index),
                             [](uint64_t i, const Run& r) { return i < r.start; });
  return size_t(it - runs_.begin()) - 1;
}

uint32_t ClusterChain::operator[](size_t index) const {
  const Run& r = runs_[run_of(index)];
  return r.first + uint32_t(index - r.start);
}

void ClusterChain::append_run(uint32_t first, uint32_t count) {
  if (count == 0) return;
  if (!runs_.empty()) {
    Run& last = runs_.back();
    if (uint64_t(last.first) + last.count == first && uint64_t(last.count) + count <= UINT32_MAX) {
      last.count += count;
      size_ += count;
      return;
    }
  }
  runs_.push_back({first, count, size_});
  size_ += count;
}

void ClusterChain::append(const ClusterChain& other) {
  for (const Run& r : other.runs_) append_run(r.first, r.count);
}

void ClusterChain::truncate(size_t count) {
  if (count >= size_) return;
  if (count == 0) {
    clear();
    return;
  }
  size_t keep = run_of(count - 1);
  runs_.resize(keep + 1);
  runs_.back().count = uint32_t(count - runs_.back().start);
  size_ = count;
}

ClusterChain ClusterChain::tail(size_t from) const {
  ClusterChain out;
  if (from >= size_) return out;
  size_t i = run_of(from);
  uint32_t skip = uint32_t(from - runs_[i].start);
  out.append_run(runs_[i].first + skip, runs_[i].count - skip);
  for (++i; i < runs_.size(); ++i) out.append_run(runs_[i].first, runs_[i].count);
  return out;
}

}  // namespace platform::fs::fat
