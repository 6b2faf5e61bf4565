// What the file-system driver fuzz targets share: a zero-filled volume in
// memory that traps on any access outside it (an escape is a crash, not a
// quiet failure), and the walks and changes each target runs on whatever
// volume the driver mounted from the input.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/error.h"
#include "platform/fs/volume_driver.h"

namespace fuzz_support {

// A zero-filled image in memory (calloc, so untouched pages cost nothing).
class CheckedDevice : public platform::BlockDevice {
 public:
  explicit CheckedDevice(uint64_t size) : size_(size), bytes_(static_cast<uint8_t*>(calloc(size, 1))) {}
  ~CheckedDevice() override { free(bytes_); }
  bool ok() const { return bytes_ != nullptr; }
  uint8_t* data() { return bytes_; }
  uint64_t size() const override { return size_; }
  uint32_t sector_size() const override { return 512; }
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    check(offset, length);
    std::memcpy(buffer, bytes_ + offset, length);
    return true;
  }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    check(offset, length);
    std::memcpy(bytes_ + offset, buffer, length);
    return true;
  }
  bool flush() override { return true; }

 private:
  void check(uint64_t offset, size_t length) const {
    if (!in_bounds(offset, length)) __builtin_trap();  // the driver left the volume
  }
  uint64_t size_;
  uint8_t* bytes_;
};

inline void walk(platform::fs::VolumeDriver& v, const platform::fs::VolumePath& folder, int depth) {
  std::vector<platform::fs::FileInfo> entries;
  if (v.list(folder, &entries) != ERROR_SUCCESS) return;
  size_t n = 0;
  for (const auto& e : entries) {
    if (++n > 16) break;
    platform::fs::VolumePath path = folder;
    path.push_back(e.name);
    platform::fs::FileInfo info;
    v.stat(path, &info);
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (depth < 3) walk(v, path, depth + 1);
      continue;
    }
    std::unique_ptr<platform::fs::OpenFile> f;
    if (v.open(path, false, &f) != ERROR_SUCCESS) continue;
    static uint8_t buffer[65536];
    size_t done = 0;
    f->read(0, buffer, sizeof buffer, &done);
    if (f->size() > 100) f->read(f->size() - 100, buffer, 200, &done);
  }
}

// Changes what the image already holds: files grown, cut and removed, and
// entries renamed, so damaged chains (loops, cross-links, links into free
// clusters) meet every path that frees or relinks clusters.
inline void change_existing(platform::fs::VolumeDriver& v) {
  std::vector<platform::fs::FileInfo> entries;
  if (v.list({}, &entries) != ERROR_SUCCESS) return;
  static const uint8_t bytes[3000] = {9, 8, 7};
  size_t n = 0;
  for (const auto& e : entries) {
    if (++n > 6) break;
    platform::fs::VolumePath path{e.name};
    if (!(e.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      std::unique_ptr<platform::fs::OpenFile> f;
      if (v.open(path, true, &f) == ERROR_SUCCESS) {
        uint64_t size = f->size();
        f->write(size > 10 ? size - 10 : 0, bytes, sizeof bytes);
        f->set_size(size / 2);
        f->set_size(size + 5000);
        f.reset();
      }
    }
    if (n % 2) v.rename(path, {u"renamed entry " + std::u16string(1, char16_t(u'a' + n))});
    else v.remove(path);
  }
}

// New entries on whatever the volume turned out to be: a file written,
// grown and cut, a folder, a move, attributes, removal.
inline void make_new_entries(platform::fs::VolumeDriver& volume) {
  auto* v = &volume;
  static const uint8_t payload[5000] = {1, 2, 3};
  if (v->create_file({u"fuzz file with a long name.txt"}, 0) == ERROR_SUCCESS) {
    std::unique_ptr<platform::fs::OpenFile> f;
    if (v->open({u"fuzz file with a long name.txt"}, true, &f) == ERROR_SUCCESS) {
      f->write(0, payload, sizeof payload);
      f->write(20000, payload, 10);
      f->set_size(100);
      f.reset();
    }
  }
  v->create_folder({u"Fuzz Folder"});
  v->rename({u"fuzz file with a long name.txt"}, {u"Fuzz Folder", u"moved.txt"});
  v->set_attributes({u"Fuzz Folder", u"moved.txt"}, FILE_ATTRIBUTE_HIDDEN);
  v->remove({u"Fuzz Folder", u"moved.txt"});
  v->remove({u"Fuzz Folder"});
}

}  // namespace fuzz_support
