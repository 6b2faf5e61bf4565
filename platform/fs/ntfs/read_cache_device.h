// A read cache in front of the device the NTFS library works on.
//
// The library reads its metadata (file records, index blocks, the bitmap) in
// many small pieces and reads the same pieces again and again. Here a small
// read loads the aligned block around it in one transfer and keeps it; later
// small reads in that block cost no host call. Reads of a block or more go to
// the device as they are (file data), and so does every write, which also
// updates the bytes of any block it overlaps: the cache never holds anything
// the device does not, so a flush or a large read needs nothing from it.
//
// Coherence with everything else that writes the volume comes from the
// cache's lifetime: it belongs to one mount, and the platform closes that
// mount before any raw access to the volume and whenever another process
// changed it (volume_set.h).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/core/block_device.h"

namespace platform::fs::ntfs {

class ReadCacheDevice : public BlockDevice {
 public:
  static constexpr size_t kBlockBytes = 64 * 1024;
  static constexpr size_t kBlocks = 128;  // 8 MiB at most

  explicit ReadCacheDevice(std::shared_ptr<BlockDevice> inner, size_t max_blocks = kBlocks);

  uint64_t size() const override { return inner_->size(); }
  uint32_t sector_size() const override { return inner_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override;
  bool write_at(uint64_t offset, const void* buffer, size_t length) override;
  bool flush() override { return inner_->flush(); }

  // Reads that went to the inner device, for tests.
  uint64_t device_reads() const { return device_reads_; }

 private:
  struct Block {
    uint64_t index;
    std::vector<uint8_t> bytes;  // shorter than kBlockBytes only at the end of the device
  };
  // The cached block `index`, loaded when missing; null when it cannot be read.
  Block* block(uint64_t index);
  void forget(uint64_t index);

  std::shared_ptr<BlockDevice> inner_;
  size_t max_blocks_;
  std::mutex mutex_;
  std::list<Block> blocks_;  // most recently used first
  std::unordered_map<uint64_t, std::list<Block>::iterator> where_;
  uint64_t device_reads_ = 0;
};

}  // namespace platform::fs::ntfs
