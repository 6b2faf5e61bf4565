#include "platform/fs/file_object.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/core/error.h"
#include "platform/fs/file_api.h"
#include "platform/fs/ntfs/ntfs_driver.h"

namespace platform::fs {

namespace {

constexpr DWORD kDeleteAccess = 0x00010000;
constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr size_t kReparseHeader = 8;

std::vector<std::weak_ptr<FileObject>>& open_files() {
  static auto* files = new std::vector<std::weak_ptr<FileObject>>;
  return *files;
}

bool same_file(const Location& a, const Location& b) {
  if (a.volume != b.volume || a.path.size() != b.path.size()) return false;
  for (size_t i = 0; i < a.path.size(); ++i)
    if (!EqualNoCase(a.path[i], b.path[i])) return false;
  return true;
}

}  // namespace

bool SharingConflict(const Location& where, DWORD access, DWORD share) {
  std::lock_guard g(FsLock());
  bool reads = access & kReadAccess, writes = access & kWriteAccess, deletes = access & kDeleteAccess;
  for (auto& weak : open_files()) {
    auto f = weak.lock();
    if (!f || !f->is_open() || !same_file(f->where(), where)) continue;
    DWORD a = f->access(), s = f->share();
    if ((reads && !(s & FILE_SHARE_READ)) || (writes && !(s & FILE_SHARE_WRITE)) ||
        (deletes && !(s & FILE_SHARE_DELETE)))
      return true;
    if (((a & kReadAccess) && !(share & FILE_SHARE_READ)) || ((a & kWriteAccess) && !(share & FILE_SHARE_WRITE)) ||
        ((a & kDeleteAccess) && !(share & FILE_SHARE_DELETE)))
      return true;
  }
  return false;
}

void TrackOpenFile(const std::shared_ptr<FileObject>& file) {
  std::lock_guard g(FsLock());
  auto& files = open_files();
  std::erase_if(files, [](const std::weak_ptr<FileObject>& w) {
    auto f = w.lock();
    return !f || !f->is_open();
  });
  files.push_back(file);
  file->hold_volume();
}

FileObject::FileObject(Location where, DWORD access, DWORD share, DWORD flags, bool directory, std::u16string stream)
    : where_(std::move(where)), access_(access), share_(share), flags_(flags), directory_(directory),
      stream_(std::move(stream)) {
  if (flags_ & FILE_FLAG_DELETE_ON_CLOSE) delete_on_close_ = true;
}

FileObject::~FileObject() = default;

bool FileObject::can_write() const { return (access_ & kWriteAccess) != 0; }
bool FileObject::can_read() const { return (access_ & kReadAccess) != 0; }

void FileObject::release_driver_state() { open_.reset(); }

DWORD FileObject::attach(std::shared_ptr<VolumeDriver>* driver) {
  std::lock_guard g(FsLock());
  if (closed_) return ERROR_INVALID_HANDLE;
  DWORD e = ERROR_SUCCESS;
  uint64_t instance = 0;
  auto d = DriverFor(where_.volume, &e, &instance);
  if (!d) return e;
  if (!directory_ && (!open_ || instance != instance_)) {
    open_.reset();
    std::unique_ptr<OpenFile> opened;
    e = stream_.empty() ? d->open(where_.path, can_write(), &opened)
                        : d->open_stream(where_.path, stream_, can_write(), false, &opened);
    if (e) return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? ERROR_FILE_INVALID : e;
    open_ = std::move(opened);
  }
  if (instance != instance_) {
    instance_ = instance;
    AddDriverUser(where_.volume, std::dynamic_pointer_cast<FileObject>(shared_from_this()));
  }
  *driver = std::move(d);
  return ERROR_SUCCESS;
}

// ReadFile and WriteFile find the file's driver state under FsLock, then
// move the bytes with FsLock let go: the driver's own lock keeps its volume
// consistent, the pin keeps other processes off the machine's volumes, and the
// handle's own lock keeps its position. So transfers on different volumes run
// at once. The driver state and the driver are held by the transfer, so a
// driver let go meanwhile (a raw access) closes only after it.
DWORD FileObject::begin_transfer(bool writing, Transfer* t) {
  std::lock_guard g(FsLock());
  if (directory_) return ERROR_INVALID_FUNCTION;
  if (writing ? !can_write() : !can_read()) return ERROR_ACCESS_DENIED;
  if (DWORD e = attach(&t->driver)) return e;
  t->file = open_;
  t->pin.emplace();
  return ERROR_SUCCESS;
}

BOOL FileObject::read(void* buffer, DWORD size, DWORD* done) {
  std::lock_guard io(io_);
  *done = 0;
  Transfer t;
  if (DWORD e = begin_transfer(false, &t)) return fail(e);
  size_t n = 0;
  const DWORD e = t.file->read(position_, buffer, size, &n);
  t.pin.reset();  // before the error is set: letting go ends a call
  if (e) return fail(e);
  position_ += n;
  *done = static_cast<DWORD>(n);
  return TRUE;
}

BOOL FileObject::write(const void* buffer, DWORD size, DWORD* done) {
  std::lock_guard io(io_);
  *done = 0;
  Transfer t;
  if (DWORD e = begin_transfer(true, &t)) return fail(e);
  std::shared_ptr<OpenFile>& file = t.file;
  // A handle with only append access always writes at the end.
  if ((access_ & kWriteAccess) == FILE_APPEND_DATA) position_ = file->size();
  if (position_ + size < position_) return fail(ERROR_INVALID_PARAMETER);
  DWORD e = size ? file->write(position_, buffer, size) : ERROR_SUCCESS;
  if (!e && (flags_ & FILE_FLAG_WRITE_THROUGH)) e = file->flush();
  {
    // The volume takes part in a call again, whose end writes back what the
    // transfer left in the driver and counts the change for other processes.
    std::lock_guard g(FsLock());
    JoinVolumeCall(where_.volume);
    t.pin.reset();
  }
  if (e) return fail(e);
  position_ += size;
  *done = size;
  return TRUE;
}

BOOL FileObject::copy_from(FileObject& source, uint64_t source_offset, DWORD size, DWORD* done) {
  std::lock_guard g(FsLock());
  *done = 0;
  if (directory_ || source.directory_) return fail(ERROR_INVALID_FUNCTION);
  if (!can_write() || !source.can_read()) return fail(ERROR_ACCESS_DENIED);
  if ((access_ & kWriteAccess) == FILE_APPEND_DATA || (flags_ & FILE_FLAG_WRITE_THROUGH))
    return fail(ERROR_NOT_SUPPORTED);  // the plain write path keeps those promises
  std::shared_ptr<VolumeDriver> to, from;
  if (DWORD e = attach(&to)) return fail(e);
  if (DWORD e = source.attach(&from)) return fail(e);
  const int out = open_->host_descriptor();
  const int in = source.open_->host_descriptor();
  if (out < 0 || in < 0) return fail(ERROR_NOT_SUPPORTED);
  if (position_ + size < position_ || source_offset + size < source_offset) return fail(ERROR_INVALID_PARAMETER);
  auto in_at = static_cast<off_t>(source_offset);
  auto out_at = static_cast<off_t>(position_);
  size_t left = size;
  while (left) {
    const ssize_t n = ::copy_file_range(in, &in_at, out, &out_at, left, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // A host that cannot copy between these two (another file system,
      // an old kernel) has copied nothing yet: the caller reads and writes.
      if (left == size && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
        return fail(ERROR_NOT_SUPPORTED);
      position_ += size - left;
      *done = static_cast<DWORD>(size - left);
      return fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    }
    if (n == 0) break;  // the source ended
    left -= static_cast<size_t>(n);
  }
  position_ += size - left;
  *done = static_cast<DWORD>(size - left);
  return TRUE;
}

BOOL FileObject::seek(LONGLONG distance, DWORD method, LONGLONG* new_position) {
  std::lock_guard io(io_);
  std::lock_guard g(FsLock());
  if (directory_) return fail(ERROR_INVALID_FUNCTION);
  LONGLONG base = 0;
  if (method == FILE_CURRENT) {
    base = static_cast<LONGLONG>(position_);
  } else if (method == FILE_END) {
    std::shared_ptr<VolumeDriver> d;
    if (DWORD e = attach(&d)) return fail(e);
    base = static_cast<LONGLONG>(open_->size());
  } else if (method != FILE_BEGIN) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  LONGLONG target = base + distance;
  if ((distance < 0 && target > base) || (distance > 0 && target < base)) return fail(ERROR_INVALID_PARAMETER);
  if (target < 0) return fail(ERROR_NEGATIVE_SEEK);
  position_ = static_cast<uint64_t>(target);
  if (new_position) *new_position = target;
  return TRUE;
}

BOOL FileObject::get_size(LONGLONG* size) {
  std::lock_guard g(FsLock());
  if (directory_) {
    *size = 0;
    return TRUE;
  }
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = attach(&d)) return fail(e);
  *size = static_cast<LONGLONG>(open_->size());
  return TRUE;
}

BOOL FileObject::set_end_of_file() {
  std::lock_guard g(FsLock());
  if (directory_) return fail(ERROR_INVALID_FUNCTION);
  if (!can_write()) return fail(ERROR_ACCESS_DENIED);
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = attach(&d)) return fail(e);
  if (DWORD e = open_->set_size(position_)) return fail(e);
  return TRUE;
}

BOOL FileObject::flush() {
  std::lock_guard g(FsLock());
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = attach(&d)) return fail(e);
  if (!can_write()) return fail(ERROR_ACCESS_DENIED);
  DWORD e = open_ ? open_->flush() : d->flush();
  return e ? fail(e) : TRUE;
}

BOOL FileObject::io_control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  std::lock_guard g(FsLock());
  *returned = 0;
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = attach(&d)) return fail(e);
  switch (code) {
    case FSCTL_GET_REPARSE_POINT: {
      std::vector<uint8_t> data;
      if (DWORD e = d->get_reparse_point(where_.path, &data)) return fail(e);
      if (out_size < kReparseHeader) return fail(ERROR_INSUFFICIENT_BUFFER);
      DWORD n = static_cast<DWORD>(std::min<size_t>(data.size(), out_size));
      std::memcpy(out, data.data(), n);
      *returned = n;
      return n < data.size() ? fail(ERROR_MORE_DATA) : TRUE;
    }
    case FSCTL_SET_REPARSE_POINT: {
      if (!in || in_size < kReparseHeader) return fail(ERROR_INVALID_PARAMETER);
      auto* b = static_cast<const uint8_t*>(in);
      size_t data_length = b[4] | (b[5] << 8);
      if (data_length + kReparseHeader > in_size) return fail(ERROR_INVALID_PARAMETER);
      std::vector<uint8_t> data(b, b + kReparseHeader + data_length);  // the record's own length, not the buffer's
      if (DWORD e = d->set_reparse_point(where_.path, data)) return fail(e);
      return TRUE;
    }
    case FSCTL_SET_SPARSE: {
      if (directory_) return fail(ERROR_INVALID_PARAMETER);
      if (!can_write()) return fail(ERROR_ACCESS_DENIED);
      // A first byte of 0 asks to clear the flag, which no caller needs.
      if (in && in_size >= 1 && *static_cast<const uint8_t*>(in) == 0) return fail(ERROR_NOT_SUPPORTED);
      if (open_) open_->write_back();
      if (DWORD e = d->set_sparse(where_.path)) return fail(e);
      return TRUE;
    }
    case FSCTL_SET_COMPRESSION: {
      if (!in || in_size < sizeof(USHORT)) return fail(ERROR_INVALID_PARAMETER);
      USHORT format = 0;
      std::memcpy(&format, in, sizeof format);
      // Only turning compression on is asked for.
      if (format == COMPRESSION_FORMAT_NONE) return fail(ERROR_NOT_SUPPORTED);
      if (format != COMPRESSION_FORMAT_DEFAULT && format != COMPRESSION_FORMAT_LZNT1)
        return fail(ERROR_INVALID_PARAMETER);
      if (open_) open_->write_back();
      if (DWORD e = d->set_compressed(where_.path)) return fail(e);
      return TRUE;
    }
    case FSCTL_QUERY_ALLOCATED_RANGES: {
      constexpr DWORD kRange = 16;  // FILE_ALLOCATED_RANGE_BUFFER: offset (+0), length (+8)
      if (directory_) return fail(ERROR_INVALID_PARAMETER);
      if (!in || in_size < kRange) return fail(ERROR_INVALID_PARAMETER);
      int64_t from = 0, length = 0;
      std::memcpy(&from, in, 8);
      std::memcpy(&length, static_cast<const uint8_t*>(in) + 8, 8);
      if (from < 0 || length < 0 || from > INT64_MAX - length) return fail(ERROR_INVALID_PARAMETER);
      if (open_) open_->write_back();
      std::vector<AllocatedRange> ranges;
      if (DWORD e = d->allocated_ranges(where_.path, &ranges)) return fail(e);
      const uint64_t lo = static_cast<uint64_t>(from), hi = static_cast<uint64_t>(from + length);
      DWORD n = 0;
      for (const AllocatedRange& r : ranges) {
        const uint64_t start = std::max(r.offset, lo), end = std::min(r.offset + r.length, hi);
        if (start >= end) continue;
        if (!out || out_size - n < kRange) {
          *returned = n;
          return fail(ERROR_MORE_DATA);
        }
        const int64_t pair[2] = {static_cast<int64_t>(start), static_cast<int64_t>(end - start)};
        std::memcpy(static_cast<uint8_t*>(out) + n, pair, kRange);
        n += kRange;
      }
      *returned = n;
      return TRUE;
    }
    case FSCTL_GET_NTFS_VOLUME_DATA: {
      auto* ntfs_driver = dynamic_cast<ntfs::NtfsDriver*>(d.get());
      if (!ntfs_driver) return fail(ERROR_INVALID_PARAMETER);
      if (out_size < sizeof(NTFS_VOLUME_DATA_BUFFER)) return fail(ERROR_INSUFFICIENT_BUFFER);
      ntfs::NtfsVolumeData vd;
      if (DWORD e = ntfs_driver->volume_data(&vd)) return fail(e);
      if (!vd.bytes_per_sector || !vd.bytes_per_cluster) return fail(ERROR_FILE_CORRUPT);
      NTFS_VOLUME_DATA_BUFFER b{};
      b.VolumeSerialNumber.QuadPart = static_cast<LONGLONG>(vd.serial);
      b.NumberSectors.QuadPart = static_cast<LONGLONG>(vd.total_clusters * (vd.bytes_per_cluster / vd.bytes_per_sector));
      b.TotalClusters.QuadPart = static_cast<LONGLONG>(vd.total_clusters);
      b.FreeClusters.QuadPart = static_cast<LONGLONG>(vd.free_clusters);
      b.BytesPerSector = vd.bytes_per_sector;
      b.BytesPerCluster = vd.bytes_per_cluster;
      b.BytesPerFileRecordSegment = vd.bytes_per_mft_record;
      b.ClustersPerFileRecordSegment = vd.bytes_per_mft_record / vd.bytes_per_cluster;
      b.MftValidDataLength.QuadPart = static_cast<LONGLONG>(vd.mft_valid_data_length);
      b.MftStartLcn.QuadPart = static_cast<LONGLONG>(vd.mft_start_lcn);
      b.Mft2StartLcn.QuadPart = static_cast<LONGLONG>(vd.mft2_start_lcn);
      std::memcpy(out, &b, sizeof b);
      *returned = sizeof b;
      return TRUE;
    }
    default:
      return fail(ERROR_INVALID_FUNCTION);
  }
}

DWORD FileObject::on_handle_closed() {
  std::lock_guard g(FsLock());
  if (closed_) return ERROR_SUCCESS;
  // Closing leaves the bytes in the image, as the host's page cache holds them
  // after a plain write; only FlushFileBuffers and write-through ask for more.
  // A write-back that fails (the disk was unplugged, a sector refused the
  // write) is the writer's loss: CloseHandle reports it.
  DWORD result = ERROR_SUCCESS;
  // Attaching first drops what another process made stale, so only a view
  // that still matches the volume is written back.
  std::shared_ptr<VolumeDriver> d;
  if (open_ && can_write() && (result = attach(&d)) == ERROR_SUCCESS && open_) result = open_->write_back();
  open_.reset();
  closed_ = true;
  if (delete_on_close_) {
    DWORD e = ERROR_SUCCESS;
    if (auto d = DriverFor(where_.volume, &e)) d->remove(where_.path);
  }
  claim_.release();
  return result;
}

}  // namespace platform::fs
