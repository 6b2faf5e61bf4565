#include "platform/fs/ntfs/read_cache_device.h"

#include <algorithm>
#include <cstring>

#include "platform/core/error.h"

namespace platform::fs::ntfs {

ReadCacheDevice::ReadCacheDevice(std::shared_ptr<BlockDevice> inner, size_t max_blocks)
    : inner_(std::move(inner)), max_blocks_(std::max<size_t>(max_blocks, 1)) {}

ReadCacheDevice::Block* ReadCacheDevice::block(uint64_t index) {
  if (auto it = where_.find(index); it != where_.end()) {
    blocks_.splice(blocks_.begin(), blocks_, it->second);
    return &blocks_.front();
  }
  const uint64_t start = index * kBlockBytes;
  const uint64_t total = inner_->size();
  if (start >= total) return nullptr;
  const size_t length = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, total - start));
  std::vector<uint8_t> bytes;
  if (blocks_.size() >= max_blocks_) {
    // Reuse the least recently used block's buffer.
    where_.erase(blocks_.back().index);
    bytes = std::move(blocks_.back().bytes);
    blocks_.pop_back();
  }
  bytes.resize(length);
  ++device_reads_;
  if (!inner_->read_at(start, bytes.data(), length)) return nullptr;
  blocks_.push_front(Block{index, std::move(bytes)});
  where_[index] = blocks_.begin();
  return &blocks_.front();
}

void ReadCacheDevice::forget(uint64_t index) {
  if (auto it = where_.find(index); it != where_.end()) {
    blocks_.erase(it->second);
    where_.erase(it);
  }
}

bool ReadCacheDevice::read_at(uint64_t offset, void* buffer, size_t length) {
  if (!in_bounds(offset, length)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    return false;
  }
  if (length >= kBlockBytes) {
    std::lock_guard g(mutex_);
    ++device_reads_;
    return inner_->read_at(offset, buffer, length);
  }
  std::lock_guard g(mutex_);
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t at = offset;
  const uint64_t end = offset + length;
  while (at < end) {
    const uint64_t index = at / kBlockBytes;
    const size_t within = static_cast<size_t>(at - index * kBlockBytes);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlockBytes - within, end - at));
    Block* b = block(index);
    if (!b || b->bytes.size() < within + n) {
      // The block as a whole did not read (a bad sector somewhere in it):
      // the piece asked for is read alone, so only a read that covers the
      // bad sector fails.
      ++device_reads_;
      if (!inner_->read_at(at, out, n)) return false;
    } else {
      std::memcpy(out, b->bytes.data() + within, n);
    }
    out += n;
    at += n;
  }
  return true;
}

bool ReadCacheDevice::write_at(uint64_t offset, const void* buffer, size_t length) {
  std::lock_guard g(mutex_);
  const bool written = inner_->write_at(offset, buffer, length);
  if (!length || !in_bounds(offset, length)) return written;
  const auto* in = static_cast<const uint8_t*>(buffer);
  const uint64_t first = offset / kBlockBytes, last = (offset + length - 1) / kBlockBytes;
  for (uint64_t index = first; index <= last; ++index) {
    auto it = where_.find(index);
    if (it == where_.end()) continue;
    if (!written) {
      // What the device holds there now is unknown: read it afresh next time.
      forget(index);
      continue;
    }
    Block& b = *it->second;
    const uint64_t start = index * kBlockBytes;
    const uint64_t from = std::max(offset, start), to = std::min<uint64_t>(offset + length, start + b.bytes.size());
    if (from < to) std::memcpy(b.bytes.data() + (from - start), in + (from - offset), static_cast<size_t>(to - from));
  }
  return written;
}

}  // namespace platform::fs::ntfs
