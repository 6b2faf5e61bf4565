#include "platform/fs/fat/fat_file.h"

#include "platform/core/error.h"

namespace platform::fs::fat {

namespace {
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;  // the size field is 32 bits
}

uint64_t FatOpenFile::size() const {
  if (!node_) return 0;
  std::lock_guard lock(fs_->mutex);
  return node_->size;
}

DWORD FatOpenFile::read(uint64_t offset, void* buffer, size_t length, size_t* done) {
  *done = 0;
  if (!node_) return ERROR_SUCCESS;
  std::lock_guard lock(fs_->mutex);
  if (offset >= node_->size || length == 0) return ERROR_SUCCESS;
  size_t n = size_t(std::min<uint64_t>(length, node_->size - offset));
  if (DWORD e = fs_->chain_io(node_->chain, offset, buffer, n, false)) return e;
  *done = n;
  return ERROR_SUCCESS;
}

DWORD FatOpenFile::reserve(uint64_t bytes) {
  uint64_t cb = fs_->g.bytes_per_cluster;
  uint64_t need = (bytes + cb - 1) / cb;
  if (need <= node_->chain.size()) return ERROR_SUCCESS;
  ClusterChain added;
  uint32_t after = node_->chain.empty() ? 0 : node_->chain.back();
  if (DWORD e = fs_->fat.allocate(uint32_t(need - node_->chain.size()), after, &added)) return e;
  if (node_->chain.empty())
    node_->first_cluster = added.front();
  else
    fs_->fat.set(node_->chain.back(), added.front());
  node_->chain.append(added);
  return ERROR_SUCCESS;
}

void FatOpenFile::trim_to_size() {
  uint64_t cb = fs_->g.bytes_per_cluster;
  size_t keep = size_t((node_->size + cb - 1) / cb);
  if (keep >= node_->chain.size()) return;
  ClusterChain dropped = node_->chain.tail(keep);
  node_->chain.truncate(keep);
  if (keep == 0)
    node_->first_cluster = 0;
  else
    fs_->fat.set(node_->chain.back(), FatTable::kEndOfChain);
  fs_->fat.release(dropped);
}

DWORD FatOpenFile::check_write(uint64_t from, uint64_t to) {
  if (DWORD e = fs_->ensure_owners()) return e;
  if (DWORD e = fs_->check_unshared_at(node_->entry_offset)) return e;
  uint64_t cb = fs_->g.bytes_per_cluster;
  size_t have = node_->chain.size();
  uint64_t need = (to + cb - 1) / cb;
  size_t lo = size_t(std::min<uint64_t>(from / cb, have));
  size_t hi = size_t(std::min<uint64_t>(need, have));
  if (need > have && have > 0) {
    lo = std::min(lo, have - 1);
    hi = have;
  }
  return fs_->check_unshared(node_->chain, lo, hi);
}

DWORD FatOpenFile::check_truncate(uint64_t size) {
  if (DWORD e = fs_->ensure_owners()) return e;
  if (DWORD e = fs_->check_unshared_at(node_->entry_offset)) return e;
  uint64_t cb = fs_->g.bytes_per_cluster;
  size_t keep = size_t((size + cb - 1) / cb);
  if (keep >= node_->chain.size()) return ERROR_SUCCESS;
  return fs_->check_unshared(node_->chain, keep == 0 ? 0 : keep - 1, node_->chain.size());
}

DWORD FatOpenFile::write(uint64_t offset, const void* buffer, size_t length) {
  if (!node_ || !writable_) return ERROR_ACCESS_DENIED;
  if (length == 0) return ERROR_SUCCESS;
  std::lock_guard lock(fs_->mutex);
  if (offset > kMaxFileSize || length > kMaxFileSize - offset) return ERROR_DISK_FULL;
  uint64_t end = offset + length;
  if (DWORD e = check_write(std::min(offset, node_->size), end)) return e;
  if (DWORD e = reserve(end)) return e;
  DWORD e = ERROR_SUCCESS;
  // The gap between the old end and the write reads as zeros.
  if (offset > node_->size) e = fs_->zero_range(node_->chain, node_->size, offset - node_->size);
  if (!e) e = fs_->chain_io(node_->chain, offset, const_cast<void*>(buffer), length, true);
  if (e) [[unlikely]] {
    trim_to_size();
    return e;
  }
  if (end > node_->size) node_->size = end;
  return fs_->update_node_entry(*node_, true);
}

DWORD FatOpenFile::set_size(uint64_t size) {
  if (!node_ || !writable_) return ERROR_ACCESS_DENIED;
  std::lock_guard lock(fs_->mutex);
  if (size > kMaxFileSize) return ERROR_DISK_FULL;
  if (size == node_->size) return ERROR_SUCCESS;
  if (DWORD e = size > node_->size ? check_write(node_->size, size) : check_truncate(size)) return e;
  if (size > node_->size) {
    if (DWORD e = reserve(size)) return e;
    if (DWORD e = fs_->zero_range(node_->chain, node_->size, size - node_->size)) [[unlikely]] {
      trim_to_size();
      return e;
    }
  } else {
    node_->size = size;
    trim_to_size();
  }
  node_->size = size;
  return fs_->update_node_entry(*node_, true);
}

DWORD FatOpenFile::write_back() {
  std::lock_guard lock(fs_->mutex);
  return fs_->write_back_all();
}

DWORD FatOpenFile::flush() {
  std::lock_guard lock(fs_->mutex);
  return fs_->flush_all();
}

}  // namespace platform::fs::fat
