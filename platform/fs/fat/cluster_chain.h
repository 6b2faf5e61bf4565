// A chain of clusters held as runs of consecutive cluster numbers.
//
// A file written on a fresh volume is one or a few runs, so an open file of
// any size costs a few dozen bytes rather than four bytes per cluster (a
// 4 GiB file of 4 KiB clusters would otherwise hold a 4 MiB list). Indexing
// is a binary search over the runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::fs::fat {

class ClusterChain {
 public:
  struct Run {
    uint32_t first;   // first cluster of the run
    uint32_t count;   // clusters in it
    uint64_t start;   // index in the chain of its first cluster
  };

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() {
    runs_.clear();
    size_ = 0;
  }
  const std::vector<Run>& runs() const { return runs_; }

  // The cluster at `index` (< size()).
  uint32_t operator[](size_t index) const;
  uint32_t front() const { return runs_.front().first; }
  uint32_t back() const { return runs_.back().first + runs_.back().count - 1; }
  // Which run holds `index` (< size()).
  size_t run_of(size_t index) const;

  // Appends one cluster, extending the last run when it follows it.
  void push_back(uint32_t cluster) { append_run(cluster, 1); }
  // Appends `count` clusters from `first` on.
  void append_run(uint32_t first, uint32_t count);
  void append(const ClusterChain& other);
  // Keeps the first `count` clusters (count <= size()).
  void truncate(size_t count);
  // Clusters [from, size()) as a chain of their own.
  ClusterChain tail(size_t from) const;

 private:
  std::vector<Run> runs_;
  size_t size_ = 0;
};

}  // namespace platform::fs::fat
