// An open file (or folder) on a FAT volume: reads and writes along its
// cluster chain, grows it with contiguous clusters when it can, truncates it.
#pragma once

#include <memory>

#include "platform/fs/fat/fat_fs.h"
#include "platform/fs/volume_driver.h"

namespace platform::fs::fat {

class FatOpenFile : public OpenFile {
 public:
  // `node` null opens a folder: size 0, nothing to read, nothing writable.
  FatOpenFile(std::shared_ptr<FatFs> fs, std::shared_ptr<FileNode> node, bool writable)
      : fs_(std::move(fs)), node_(std::move(node)), writable_(writable) {}

  uint64_t size() const override;
  DWORD read(uint64_t offset, void* buffer, size_t length, size_t* done) override;
  DWORD write(uint64_t offset, const void* buffer, size_t length) override;
  DWORD set_size(uint64_t size) override;
  DWORD write_back() override;
  DWORD flush() override;

 private:
  // Grows the chain to hold `bytes`; on failure nothing changes.
  DWORD reserve(uint64_t bytes);
  // Gives back clusters past what the current size needs (after a failed write).
  void trim_to_size();
  // Builds the owner map if needed; ERROR_DISK_CORRUPT when writing bytes
  // [from, to) would touch a cluster another chain shares (the clusters
  // written, the last one when the chain grows) or when the file's own entry
  // sits in one.
  DWORD check_write(uint64_t from, uint64_t to);
  // The same for cutting the file to `size` bytes: the clusters given back and
  // the new last one, whose link changes.
  DWORD check_truncate(uint64_t size);
  std::shared_ptr<FatFs> fs_;
  std::shared_ptr<FileNode> node_;
  bool writable_;
};

}  // namespace platform::fs::fat
