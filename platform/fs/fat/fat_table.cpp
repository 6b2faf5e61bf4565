#include "platform/fs/fat/fat_table.h"

#include <algorithm>
#include <cstring>

#include "platform/core/error.h"

namespace platform::fs::fat {

DWORD FatTable::load(BlockDevice& device, const FatGeometry& geometry) {
  g_ = geometry;
  owners_.clear();
  uint64_t size = uint64_t(g_.fat_sectors) * g_.bytes_per_sector;
  try {
    bytes_.assign(size, 0);
    dirty_.assign(g_.fat_sectors, 0);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  if (!device.read_at(g_.fat_offset(g_.active_fat), bytes_.data(), bytes_.size())) [[unlikely]]
    return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
  free_count_ = 0;
  hint_ = 0;
  for (uint32_t c = 2; c <= g_.max_cluster(); ++c) {
    if (get(c) == kFree) {
      ++free_count_;
      if (!hint_) hint_ = c;
    }
  }
  if (!hint_) hint_ = 2;
  any_dirty_ = false;
  return ERROR_SUCCESS;
}

uint32_t FatTable::get(uint32_t cluster) const {
  switch (g_.kind) {
    case FatKind::Fat12: {
      size_t at = size_t(cluster) * 3 / 2;
      uint32_t word = bytes_[at] | (uint32_t(bytes_[at + 1]) << 8);
      uint32_t v = (cluster & 1) ? (word >> 4) : (word & 0xFFF);
      if (v >= 0xFF8) return kEndOfChain;
      if (v == 0xFF7) return kBadCluster;
      return v;
    }
    case FatKind::Fat16: {
      size_t at = size_t(cluster) * 2;
      uint32_t v = bytes_[at] | (uint32_t(bytes_[at + 1]) << 8);
      if (v >= 0xFFF8) return kEndOfChain;
      if (v == 0xFFF7) return kBadCluster;
      return v;
    }
    case FatKind::Fat32: {
      size_t at = size_t(cluster) * 4;
      uint32_t v;
      std::memcpy(&v, &bytes_[at], 4);
      v &= 0x0FFFFFFF;  // the top four bits are reserved
      if (v >= 0x0FFFFFF8) return kEndOfChain;
      return v;
    }
  }
  return kEndOfChain;
}

void FatTable::set(uint32_t cluster, uint32_t value) {
  uint32_t before = get(cluster);
  switch (g_.kind) {
    case FatKind::Fat12: {
      size_t at = size_t(cluster) * 3 / 2;
      uint32_t v = value == kEndOfChain ? 0xFFF : (value & 0xFFF);
      uint32_t word = bytes_[at] | (uint32_t(bytes_[at + 1]) << 8);
      word = (cluster & 1) ? ((word & 0x000F) | (v << 4)) : ((word & 0xF000) | v);
      bytes_[at] = uint8_t(word);
      bytes_[at + 1] = uint8_t(word >> 8);
      mark_dirty(at, 2);
      break;
    }
    case FatKind::Fat16: {
      size_t at = size_t(cluster) * 2;
      uint32_t v = value == kEndOfChain ? 0xFFFF : (value & 0xFFFF);
      bytes_[at] = uint8_t(v);
      bytes_[at + 1] = uint8_t(v >> 8);
      mark_dirty(at, 2);
      break;
    }
    case FatKind::Fat32: {
      size_t at = size_t(cluster) * 4;
      uint32_t old;
      std::memcpy(&old, &bytes_[at], 4);
      uint32_t v = (old & 0xF0000000) | (value & 0x0FFFFFFF);
      std::memcpy(&bytes_[at], &v, 4);
      mark_dirty(at, 4);
      break;
    }
  }
  if (before == kFree && value != kFree) --free_count_;
  if (before != kFree && value == kFree) ++free_count_;
}

void FatTable::mark_dirty(uint64_t byte_offset, uint32_t length) {
  uint64_t first = byte_offset / g_.bytes_per_sector;
  uint64_t last = (byte_offset + length - 1) / g_.bytes_per_sector;
  for (uint64_t s = first; s <= last && s < dirty_.size(); ++s) dirty_[s] = 1;
  any_dirty_ = true;
}

DWORD FatTable::chain(uint32_t first, std::vector<uint32_t>* clusters) const {
  clusters->clear();
  if (first == 0) return ERROR_SUCCESS;
  uint32_t c = first;
  // A chain can visit each cluster at most once; one more hop means a cycle.
  for (uint64_t hops = 0; hops <= g_.cluster_count; ++hops) {
    if (!g_.is_data_cluster(c)) [[unlikely]]
      return ERROR_FILE_CORRUPT;
    clusters->push_back(c);
    uint32_t next = get(c);
    if (is_end(next)) return ERROR_SUCCESS;
    if (next == kFree || next == kBadCluster) [[unlikely]]
      return ERROR_FILE_CORRUPT;
    c = next;
  }
  return ERROR_FILE_CORRUPT;  // longer than the volume: a cycle
}

DWORD FatTable::allocate(uint32_t count, uint32_t after, std::vector<uint32_t>* clusters) {
  clusters->clear();
  if (count == 0) return ERROR_SUCCESS;
  if (count > free_count_) return ERROR_DISK_FULL;
  uint32_t max = g_.max_cluster();
  // 1. Right after the file's last cluster: [after + 1, after + k].
  uint32_t lo = 0, hi = 0;  // the clusters taken by step 1, hi exclusive
  if (after >= 2 && after < max) {
    lo = hi = after + 1;
    while (hi <= max && hi - lo < count && get(hi) == kFree && !owners_.owned(hi)) ++hi;
    for (uint32_t c = lo; c < hi; ++c) clusters->push_back(c);
  }
  auto usable = [&](uint32_t c) { return get(c) == kFree && !owners_.owned(c) && !(c >= lo && c < hi); };
  // 2. A free run: first one of at least kPreferredRun clusters (so a file
  // written in small pieces keeps room to grow in place), else the first one
  // long enough, searched from the hint and wrapping once.
  if (clusters->size() < count) {
    uint32_t need = count - uint32_t(clusters->size());
    uint32_t found = 0;
    for (uint32_t want : {std::max(need, kPreferredRun), need}) {
      uint32_t run_start = 0, run_len = 0;
      uint32_t start = (hint_ >= 2 && hint_ <= max) ? hint_ : 2;
      for (uint64_t i = 0; i < g_.cluster_count && !found; ++i) {
        uint32_t c = uint32_t(2 + (uint64_t(start - 2) + i) % g_.cluster_count);
        if (c == 2) run_len = 0;  // runs do not wrap around the end of the volume
        if (usable(c)) {
          if (run_len == 0) run_start = c;
          if (++run_len == want) found = run_start;
        } else {
          run_len = 0;
        }
      }
      if (found || want == need) break;
    }
    if (found) {
      for (uint32_t k = 0; k < need; ++k) clusters->push_back(found + k);
    } else {
      // 3. No run long enough: take free clusters one by one.
      for (uint32_t c = 2; c <= max && clusters->size() < count; ++c)
        if (usable(c)) clusters->push_back(c);
    }
  }
  if (clusters->size() < count) [[unlikely]] {
    clusters->clear();
    return ERROR_DISK_FULL;
  }
  for (size_t i = 0; i < clusters->size(); ++i) {
    set((*clusters)[i], i + 1 < clusters->size() ? (*clusters)[i + 1] : kEndOfChain);
    owners_.claim((*clusters)[i]);
  }
  hint_ = clusters->back() < max ? clusters->back() + 1 : 2;
  return ERROR_SUCCESS;
}

void FatTable::release(const std::vector<uint32_t>& clusters) {
  for (uint32_t c : clusters)
    if (g_.is_data_cluster(c)) {
      set(c, kFree);
      owners_.release(c);
    }
  if (!clusters.empty() && clusters.front() < hint_) hint_ = clusters.front();
}

DWORD FatTable::flush(BlockDevice& device) {
  if (!any_dirty_) return ERROR_SUCCESS;
  uint32_t bps = g_.bytes_per_sector;
  for (uint32_t copy = 0; copy < g_.fat_count; ++copy) {
    uint64_t base = g_.fat_offset(copy);
    for (size_t s = 0; s < dirty_.size();) {
      if (!dirty_[s]) { ++s; continue; }
      size_t e = s;
      while (e < dirty_.size() && dirty_[e]) ++e;
      if (!device.write_at(base + uint64_t(s) * bps, &bytes_[s * bps], (e - s) * bps)) [[unlikely]]
        return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
      s = e;
    }
  }
  std::fill(dirty_.begin(), dirty_.end(), 0);
  any_dirty_ = false;
  return ERROR_SUCCESS;
}

}  // namespace platform::fs::fat
