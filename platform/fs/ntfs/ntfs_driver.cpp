#include "platform/fs/ntfs/ntfs_driver.h"

#include <cerrno>
#include <mutex>

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/fs/ntfs/ntfs_lib.h"
#include "platform/fs/ntfs/read_cache_device.h"

namespace platform::fs::ntfs {

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENODATA: return ERROR_NOT_A_REPARSE_POINT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EIO: return ERROR_FILE_CORRUPT;
    default: return ERROR_GEN_FAILURE;
  }
}

namespace {

// The mount and the lock every call takes: libntfs-3g is not thread-safe.
struct Shared {
  std::mutex lock;
  lib::Volume* volume = nullptr;
  std::shared_ptr<BlockDevice> device;
};

bool io_read(void* c, uint64_t offset, void* buffer, size_t length) {
  return static_cast<Shared*>(c)->device->read_at(offset, buffer, length);
}
bool io_write(void* c, uint64_t offset, const void* buffer, size_t length) {
  return static_cast<Shared*>(c)->device->write_at(offset, buffer, length);
}
bool io_flush(void* c) { return static_cast<Shared*>(c)->device->flush(); }

FileInfo to_info(const lib::Entry& e) {
  FileInfo i;
  i.name = e.name;
  i.short_name = e.short_name;
  i.attributes = e.attributes;
  i.size = e.size;
  i.allocation_size = e.allocation_size;
  i.creation_time = e.creation_time;
  i.last_access_time = e.last_access_time;
  i.last_write_time = e.last_write_time;
  i.reparse_tag = e.reparse_tag;
  i.file_id = e.mref & 0x0000FFFFFFFFFFFFULL;
  i.link_count = e.link_count;
  return i;
}

class NtfsFile : public OpenFile {
 public:
  NtfsFile(std::shared_ptr<Shared> shared, uint64_t mref, bool writable, uint64_t size, std::u16string stream = {})
      : shared_(std::move(shared)), mref_(mref), writable_(writable), size_(size), stream_(std::move(stream)) {}

  uint64_t size() const override { return size_; }

  DWORD read(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    *done = 0;
    std::lock_guard guard(shared_->lock);
    if (!shared_->volume) return ERROR_INVALID_HANDLE;
    return ErrorFromErrno(lib::ReadData(shared_->volume, mref_, offset, buffer, length, done, stream_));
  }
  DWORD write(uint64_t offset, const void* buffer, size_t length) override {
    if (!writable_) return ERROR_ACCESS_DENIED;
    std::lock_guard guard(shared_->lock);
    if (!shared_->volume) return ERROR_INVALID_HANDLE;
    if (offset + length < offset) return ERROR_INVALID_PARAMETER;
    int r = lib::WriteData(shared_->volume, mref_, offset, buffer, length, stream_);
    if (!r) {
      if (offset + length > size_) size_ = offset + length;
      touch();
    }
    return ErrorFromErrno(r);
  }
  DWORD set_size(uint64_t size) override {
    if (!writable_) return ERROR_ACCESS_DENIED;
    std::lock_guard guard(shared_->lock);
    if (!shared_->volume) return ERROR_INVALID_HANDLE;
    int r = lib::Truncate(shared_->volume, mref_, size, stream_);
    if (!r) {
      size_ = size;
      touch();
    }
    return ErrorFromErrno(r);
  }
  DWORD write_back() override {
    std::lock_guard guard(shared_->lock);
    if (!shared_->volume) return ERROR_INVALID_HANDLE;
    return ErrorFromErrno(lib::WriteBack(shared_->volume));
  }
  DWORD flush() override {
    std::lock_guard guard(shared_->lock);
    if (!shared_->volume) return ERROR_INVALID_HANDLE;
    return ErrorFromErrno(lib::Sync(shared_->volume));
  }

 private:
  void touch() {
    if (touched_) return;  // once per handle is enough: the time of the first write
    touched_ = true;
    lib::TouchWrite(shared_->volume, mref_, Clock::instance().now_filetime());
  }
  std::shared_ptr<Shared> shared_;
  uint64_t mref_;
  bool writable_;
  uint64_t size_;
  std::u16string stream_;  // empty: the unnamed data stream
  bool touched_ = false;
};

class Driver : public NtfsDriver {
 public:
  Driver(std::shared_ptr<Shared> shared, bool read_only) : shared_(std::move(shared)), read_only_(read_only) {}
  ~Driver() override {
    std::lock_guard guard(shared_->lock);
    if (shared_->volume) lib::Unmount(shared_->volume);
    shared_->volume = nullptr;
  }

  DWORD volume_info(VolumeInfo* info) override {
    lib::VolumeFacts f;
    DWORD e = facts(&f);
    if (e) return e;
    info->file_system = u"NTFS";
    info->label = f.label;
    info->serial_number = static_cast<DWORD>(f.serial);
    info->max_component_length = 255;
    info->flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                  FILE_PERSISTENT_ACLS | FILE_FILE_COMPRESSION | FILE_SUPPORTS_SPARSE_FILES |
                  FILE_SUPPORTS_REPARSE_POINTS;
    info->bytes_per_sector = f.sector_size;
    info->bytes_per_cluster = f.cluster_size;
    info->total_clusters = f.total_clusters;
    info->free_clusters = f.free_clusters;
    return ERROR_SUCCESS;
  }
  DWORD volume_serial(DWORD* serial) override {
    uint64_t whole = 0;
    DWORD e = call([&](lib::Volume* v) { return lib::Serial(v, &whole); });
    if (!e) *serial = static_cast<DWORD>(whole);
    return e;
  }
  DWORD volume_data(NtfsVolumeData* d) override {
    lib::VolumeFacts f;
    DWORD e = facts(&f);
    if (e) return e;
    d->serial = f.serial;
    d->total_clusters = f.total_clusters;
    d->free_clusters = f.free_clusters;
    d->bytes_per_sector = f.sector_size;
    d->bytes_per_cluster = f.cluster_size;
    d->bytes_per_mft_record = f.mft_record_size;
    d->mft_valid_data_length = f.mft_valid_data_length;
    d->mft_start_lcn = f.mft_start_lcn;
    d->mft2_start_lcn = f.mft_mirror_lcn;
    d->major_version = f.major_version;
    d->minor_version = f.minor_version;
    return ERROR_SUCCESS;
  }
  DWORD set_label(const std::u16string& label) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetLabel(v, label); });
  }
  DWORD stat(const VolumePath& path, FileInfo* info) override {
    lib::Entry e;
    DWORD r = call([&](lib::Volume* v) { return lib::Stat(v, path, &e); });
    if (!r) *info = to_info(e);
    return r;
  }
  DWORD list(const VolumePath& folder, std::vector<FileInfo>* entries) override {
    std::vector<lib::Entry> raw;
    DWORD r = call([&](lib::Volume* v) { return lib::List(v, folder, &raw); });
    entries->clear();
    if (r == ERROR_FILE_NOT_FOUND) r = ERROR_PATH_NOT_FOUND;
    if (r) return r;
    for (auto& e : raw) entries->push_back(to_info(e));
    return ERROR_SUCCESS;
  }
  DWORD open(const VolumePath& path, bool writable, std::unique_ptr<OpenFile>* file) override {
    lib::Entry e;
    DWORD r = call([&](lib::Volume* v) { return lib::Stat(v, path, &e); });
    if (r) return r;
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    if (writable && read_only_) return ERROR_WRITE_PROTECT;
    *file = std::make_unique<NtfsFile>(shared_, e.mref, writable, e.size);
    return ERROR_SUCCESS;
  }
  DWORD create_file(const VolumePath& path, DWORD attributes) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    uint64_t now = Clock::instance().now_filetime();
    return call([&](lib::Volume* v) {
      int r = lib::CreateFile(v, path, false);
      if (!r) r = lib::SetTimes(v, path, &now, &now, &now);
      if (!r) r = lib::SetAttributes(v, path, (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE);
      return r;
    });
  }
  DWORD create_folder(const VolumePath& path) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    uint64_t now = Clock::instance().now_filetime();
    return call([&](lib::Volume* v) {
      int r = lib::CreateFile(v, path, true);
      if (!r) r = lib::SetTimes(v, path, &now, &now, &now);
      if (!r) r = lib::SetAttributes(v, path, 0);  // a new folder carries no archive bit
      return r;
    });
  }
  DWORD remove(const VolumePath& path) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::Remove(v, path); });
  }
  DWORD rename(const VolumePath& from, const VolumePath& to) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::Rename(v, from, to); });
  }
  DWORD allocated_ranges(const VolumePath& path, std::vector<AllocatedRange>* ranges) override {
    ranges->clear();
    lib::Entry e;
    DWORD r = call([&](lib::Volume* v) { return lib::Stat(v, path, &e); });
    if (r) return r;
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    r = call([&](lib::Volume* v) { return lib::AllocatedRanges(v, e.mref, &spans); });
    if (r) return r;
    for (auto& s : spans) ranges->push_back({s.first, s.second});
    return ERROR_SUCCESS;
  }
  DWORD list_streams(const VolumePath& path, std::vector<StreamInfo>* streams) override {
    streams->clear();
    std::vector<std::pair<std::u16string, uint64_t>> found;
    DWORD r = call([&](lib::Volume* v) { return lib::ListStreams(v, path, &found); });
    for (auto& f : found) streams->push_back({f.first, f.second});
    return r;
  }
  DWORD open_stream(const VolumePath& path, const std::u16string& stream, bool writable, bool create,
                    std::unique_ptr<OpenFile>* file) override {
    if ((writable || create) && read_only_) return ERROR_WRITE_PROTECT;
    uint64_t mref = 0, size = 0;
    DWORD r = call([&](lib::Volume* v) { return lib::OpenStream(v, path, stream, create, &mref, &size); });
    if (r) return r == ERROR_INVALID_PARAMETER ? ERROR_INVALID_NAME : r;
    *file = std::make_unique<NtfsFile>(shared_, mref, writable, size, stream);
    return ERROR_SUCCESS;
  }
  DWORD set_compressed(const VolumePath& path) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetCompressed(v, path); });
  }
  DWORD set_sparse(const VolumePath& path) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetSparse(v, path); });
  }
  DWORD create_link(const VolumePath& existing, const VolumePath& link) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::Link(v, existing, link); });
  }
  DWORD set_attributes(const VolumePath& path, DWORD attributes) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetAttributes(v, path, attributes); });
  }
  DWORD set_times(const VolumePath& path, const uint64_t* creation, const uint64_t* last_access,
                  const uint64_t* last_write) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetTimes(v, path, creation, last_access, last_write); });
  }
  DWORD set_short_name(const VolumePath& path, const std::u16string& short_name) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetShortName(v, path, short_name); });
  }
  DWORD get_security(const VolumePath& path, std::vector<uint8_t>* descriptor) override {
    DWORD r = call([&](lib::Volume* v) { return lib::GetSecurity(v, path, descriptor); });
    return r == ERROR_NOT_A_REPARSE_POINT ? ERROR_INVALID_DATA : r;
  }
  DWORD set_security(const VolumePath& path, const std::vector<uint8_t>& descriptor) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    DWORD r = call([&](lib::Volume* v) { return lib::SetSecurity(v, path, descriptor); });
    return r == ERROR_NOT_A_REPARSE_POINT ? ERROR_INVALID_DATA : r;
  }
  DWORD get_reparse_point(const VolumePath& path, std::vector<uint8_t>* buffer) override {
    return call([&](lib::Volume* v) { return lib::GetReparse(v, path, buffer); });
  }
  DWORD set_reparse_point(const VolumePath& path, const std::vector<uint8_t>& buffer) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    return call([&](lib::Volume* v) { return lib::SetReparse(v, path, buffer); });
  }
  DWORD flush() override {
    return call([&](lib::Volume* v) { return lib::Sync(v); });
  }
  DWORD write_back() override {
    return call([&](lib::Volume* v) { return lib::WriteBack(v); });
  }

 private:
  template <class F>
  DWORD call(F&& f) {
    std::lock_guard guard(shared_->lock);
    if (!shared_->volume) return ERROR_NOT_READY;
    return ErrorFromErrno(f(shared_->volume));
  }
  DWORD facts(lib::VolumeFacts* f) {
    return call([&](lib::Volume* v) { return lib::Facts(v, f); });
  }
  std::shared_ptr<Shared> shared_;
  bool read_only_;
};

}  // namespace

std::unique_ptr<NtfsDriver> Mount(std::shared_ptr<BlockDevice> device, bool read_only, DWORD* error) {
  *error = ERROR_SUCCESS;
  if (!device) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  // Only hand libntfs-3g a device whose boot sector says NTFS.
  uint8_t boot[512];
  if (device->size() < sizeof boot || !device->read_at(0, boot, sizeof boot)) {
    *error = ERROR_UNRECOGNIZED_VOLUME;
    return nullptr;
  }
  static const uint8_t kOemId[8] = {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  for (int i = 0; i < 8; ++i)
    if (boot[3 + i] != kOemId[i]) {
      *error = ERROR_UNRECOGNIZED_VOLUME;
      return nullptr;
    }
  auto shared = std::make_shared<Shared>();
  // The library reads its metadata in small pieces, many of them again.
  shared->device = std::make_shared<ReadCacheDevice>(std::move(device));
  lib::Io io;
  io.context = shared.get();
  io.size = shared->device->size();
  io.sector_size = shared->device->sector_size();
  io.read = io_read;
  io.write = io_write;
  io.flush = io_flush;
  int r = lib::Mount(io, read_only, &shared->volume);
  if (r) {
    *error = r == EIO || r == EINVAL ? ERROR_FILE_CORRUPT : ErrorFromErrno(r);
    return nullptr;
  }
  return std::make_unique<Driver>(std::move(shared), read_only);
}

}  // namespace platform::fs::ntfs
