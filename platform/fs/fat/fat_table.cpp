#include "platform/fs/fat/fat_table.h"

#include <algorithm>
#include <cstring>

#include "platform/core/error.h"

namespace platform::fs::fat {

DWORD FatTable::load(BlockDevice& device, const FatGeometry& geometry) {
  g_ = geometry;
  device_ = &device;
  owners_.clear();
  windows_.clear();
  last_ = nullptr;
  io_error_ = 0;
  changed_ = false;
  free_count_ = 0;
  hint_ = 0;
  // One pass over the FAT, a window at a time, through the cache.
  uint32_t max = g_.max_cluster();
  for (uint32_t c = 2; c <= max; ++c) {
    uint32_t v = get(c);
    if (io_error_) [[unlikely]] {
      DWORD e = io_error_;
      windows_.clear();
      last_ = nullptr;
      return e;
    }
    if (v == kFree) {
      ++free_count_;
      if (!hint_) hint_ = c;
    }
  }
  if (!hint_) hint_ = 2;
  return ERROR_SUCCESS;
}

FatTable::Window* FatTable::window_for(uint64_t offset) const {
  uint64_t index = offset / kWindowBytes;
  if (last_ && last_->index == index) return last_;
  Window* found = nullptr;
  for (auto& w : windows_)
    if (w->index == index) found = w.get();
  if (!found) {
    std::unique_ptr<Window> fresh;
    if (windows_.size() >= kCachedWindows) {
      // Evict the least recently used window that can go (a changed one only
      // once its sectors reached the device).
      auto victim = windows_.end();
      for (auto it = windows_.begin(); it != windows_.end(); ++it)
        if (victim == windows_.end() || (*it)->last_use < (*victim)->last_use) victim = it;
      if ((*victim)->dirty_first < (*victim)->dirty_end) {
        if (DWORD e = write_window(*device_, **victim)) io_error_ = e;
      }
      if ((*victim)->dirty_first >= (*victim)->dirty_end) {
        fresh = std::move(*victim);
        windows_.erase(victim);
      }
    }
    if (!fresh) fresh = std::make_unique<Window>();
    uint64_t begin = index * kWindowBytes;
    size_t size = size_t(std::min<uint64_t>(kWindowBytes, fat_bytes() - begin));
    fresh->index = index;
    fresh->dirty_first = fresh->dirty_end = 0;
    try {
      fresh->bytes.resize(size);
    } catch (const std::bad_alloc&) {
      io_error_ = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    if (!device_->read_at(g_.fat_offset(g_.active_fat) + begin, fresh->bytes.data(), size)) [[unlikely]] {
      io_error_ = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
      return nullptr;
    }
    windows_.push_back(std::move(fresh));
    found = windows_.back().get();
  }
  found->last_use = ++tick_;
  last_ = found;
  return found;
}

bool FatTable::entry_offset(uint32_t cluster, uint64_t* at) const {
  uint64_t width = g_.kind == FatKind::Fat32 ? 4 : 2;
  uint64_t offset = g_.kind == FatKind::Fat12 ? uint64_t(cluster) * 3 / 2 : uint64_t(cluster) * width;
  if (offset + width > fat_bytes()) return false;
  *at = offset;
  return true;
}

uint32_t FatTable::get(uint32_t cluster) const {
  uint64_t offset;
  if (!entry_offset(cluster, &offset)) [[unlikely]]
    return kBadCluster;
  Window* w = window_for(offset);
  if (!w) [[unlikely]]
    return kBadCluster;
  // FAT12 tables fit one window and FAT16/32 entries never straddle one.
  const uint8_t* p = &w->bytes[offset % kWindowBytes];
  switch (g_.kind) {
    case FatKind::Fat12: {
      uint32_t word = p[0] | (uint32_t(p[1]) << 8);
      uint32_t v = (cluster & 1) ? (word >> 4) : (word & 0xFFF);
      if (v >= 0xFF8) return kEndOfChain;
      if (v == 0xFF7) return kBadCluster;
      return v;
    }
    case FatKind::Fat16: {
      uint32_t v = p[0] | (uint32_t(p[1]) << 8);
      if (v >= 0xFFF8) return kEndOfChain;
      if (v == 0xFFF7) return kBadCluster;
      return v;
    }
    case FatKind::Fat32: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      v &= 0x0FFFFFFF;  // the top four bits are reserved
      if (v >= 0x0FFFFFF8) return kEndOfChain;
      return v;
    }
  }
  return kEndOfChain;
}

void FatTable::set(uint32_t cluster, uint32_t value) {
  uint64_t offset;
  if (!entry_offset(cluster, &offset)) [[unlikely]]
    return;
  uint32_t before = get(cluster);
  Window* w = window_for(offset);
  if (!w) [[unlikely]]
    return;  // io_error_ tells the next chain walk and flush
  uint8_t* p = &w->bytes[offset % kWindowBytes];
  uint32_t width = 2;
  switch (g_.kind) {
    case FatKind::Fat12: {
      uint32_t v = value == kEndOfChain ? 0xFFF : (value & 0xFFF);
      uint32_t word = p[0] | (uint32_t(p[1]) << 8);
      word = (cluster & 1) ? ((word & 0x000F) | (v << 4)) : ((word & 0xF000) | v);
      p[0] = uint8_t(word);
      p[1] = uint8_t(word >> 8);
      break;
    }
    case FatKind::Fat16: {
      uint32_t v = value == kEndOfChain ? 0xFFFF : (value & 0xFFFF);
      p[0] = uint8_t(v);
      p[1] = uint8_t(v >> 8);
      break;
    }
    case FatKind::Fat32: {
      uint32_t old;
      std::memcpy(&old, p, 4);
      uint32_t v = (old & 0xF0000000) | (value & 0x0FFFFFFF);
      std::memcpy(p, &v, 4);
      width = 4;
      break;
    }
  }
  uint32_t within = uint32_t(offset % kWindowBytes);
  uint32_t first = within / g_.bytes_per_sector, end = (within + width - 1) / g_.bytes_per_sector + 1;
  if (w->dirty_first >= w->dirty_end) {
    w->dirty_first = first;
    w->dirty_end = end;
  } else {
    w->dirty_first = std::min(w->dirty_first, first);
    w->dirty_end = std::max(w->dirty_end, end);
  }
  changed_ = true;
  if (before == kFree && value != kFree) --free_count_;
  if (before != kFree && value == kFree) ++free_count_;
}

DWORD FatTable::chain(uint32_t first, ClusterChain* clusters) const {
  clusters->clear();
  if (first == 0) return ERROR_SUCCESS;
  uint32_t c = first;
  // A chain can visit each cluster at most once; one more hop means a cycle.
  for (uint64_t hops = 0; hops <= g_.cluster_count; ++hops) {
    if (!g_.is_data_cluster(c)) [[unlikely]]
      return ERROR_FILE_CORRUPT;
    clusters->push_back(c);
    uint32_t next = get(c);
    if (io_error_) [[unlikely]]
      return io_error_;
    if (is_end(next)) return ERROR_SUCCESS;
    if (next == kFree || next == kBadCluster) [[unlikely]]
      return ERROR_FILE_CORRUPT;
    c = next;
  }
  return ERROR_FILE_CORRUPT;  // longer than the volume: a cycle
}

DWORD FatTable::allocate(uint32_t count, uint32_t after, ClusterChain* clusters) {
  clusters->clear();
  if (count == 0) return ERROR_SUCCESS;
  if (count > free_count_) return ERROR_DISK_FULL;
  uint32_t max = g_.max_cluster();
  // 1. Right after the file's last cluster: [after + 1, after + k].
  uint32_t lo = 0, hi = 0;  // the clusters taken by step 1, hi exclusive
  if (after >= 2 && after < max) {
    lo = hi = after + 1;
    while (hi <= max && hi - lo < count && get(hi) == kFree && !owners_.owned(hi)) ++hi;
    clusters->append_run(lo, hi - lo);
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
      clusters->append_run(found, need);
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
  const auto& runs = clusters->runs();
  for (size_t r = 0; r < runs.size(); ++r) {
    for (uint32_t k = 0; k < runs[r].count; ++k) {
      uint32_t c = runs[r].first + k;
      uint32_t next = k + 1 < runs[r].count ? c + 1 : r + 1 < runs.size() ? runs[r + 1].first : kEndOfChain;
      set(c, next);
      owners_.claim(c);
    }
  }
  hint_ = clusters->back() < max ? clusters->back() + 1 : 2;
  return ERROR_SUCCESS;
}

void FatTable::release(const ClusterChain& clusters) {
  for (const auto& run : clusters.runs())
    for (uint32_t k = 0; k < run.count; ++k) {
      uint32_t c = run.first + k;
      if (g_.is_data_cluster(c)) {
        set(c, kFree);
        owners_.release(c);
      }
    }
  if (!clusters.empty() && clusters.front() < hint_) hint_ = clusters.front();
}

DWORD FatTable::write_window(BlockDevice& device, Window& w) const {
  uint32_t bps = g_.bytes_per_sector;
  uint64_t within = uint64_t(w.dirty_first) * bps;
  size_t length = std::min<size_t>(size_t(w.dirty_end - w.dirty_first) * bps, w.bytes.size() - within);
  for (uint32_t copy = 0; copy < g_.fat_count; ++copy) {
    uint64_t at = g_.fat_offset(copy) + w.index * kWindowBytes + within;
    if (!device.write_at(at, &w.bytes[within], length)) [[unlikely]]
      return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  }
  w.dirty_first = w.dirty_end = 0;
  return ERROR_SUCCESS;
}

DWORD FatTable::flush(BlockDevice& device) {
  for (auto& w : windows_)
    if (w->dirty_first < w->dirty_end) {
      if (DWORD e = write_window(device, *w)) return e;
    }
  // An error met meanwhile (a window that could not be read or written back)
  // is reported once, here.
  DWORD e = io_error_;
  io_error_ = 0;
  if (!e) changed_ = false;
  return e;
}

}  // namespace platform::fs::fat
