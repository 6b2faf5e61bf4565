#include "platform/core/snapshot_table.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/host_temp_file.h"

namespace platform {

namespace {

constexpr uint32_t kMagic = 0x50414e53;  // "SNAP"
constexpr uint32_t kVersion = 1;
constexpr size_t kTableBytes = 4096;
constexpr size_t kHeaderBytes = 64;
constexpr size_t kRecordBytes = 64;
constexpr int kRecords = static_cast<int>((kTableBytes - kHeaderBytes) / kRecordBytes);
constexpr size_t kMapHeaderBytes = 8;

struct TableHeader {
  uint32_t magic;                      // +0x00
  uint32_t version;                    // +0x04
  std::atomic<uint64_t> in_use;        // +0x08
  std::atomic<uint64_t> generation;    // +0x10
  uint8_t zero[40];                    // +0x18
};
static_assert(sizeof(TableHeader) == kHeaderBytes);
static_assert(offsetof(TableHeader, generation) == 0x10);

struct TableRecord {
  std::atomic<uint64_t> owner;  // +0x00
  uint64_t device;              // +0x08
  uint64_t inode;               // +0x10
  uint64_t offset;              // +0x18
  uint64_t length;              // +0x20
  uint32_t store_fd;            // +0x28
  uint32_t map_fd;              // +0x2c
  uint64_t made_at;             // +0x30
  uint64_t zero;                // +0x38
};
static_assert(sizeof(TableRecord) == kRecordBytes);
static_assert(offsetof(TableRecord, store_fd) == 0x28 && offsetof(TableRecord, made_at) == 0x30);
static_assert(std::atomic<uint64_t>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free);

off_t record_start(int i) { return static_cast<off_t>(kHeaderBytes + kRecordBytes * static_cast<size_t>(i)); }

// Open-file-description locks: held by the open file, not the process, so
// two descriptors of one process exclude each other too, and closing another
// descriptor of the file keeps them.
bool lock_range(int fd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  while (fcntl(fd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when some open file other than `probe`'s holds a lock on the range.
bool range_locked(int probe, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  if (fcntl(probe, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: keep it
  return fl.l_type != F_UNLCK;
}

// A snapshot as a writer sees it: its range and its files, reached through
// the owner's descriptors.
struct Attached {
  int record = -1;
  uint64_t made_at = 0;
  uint64_t owner = 0;
  BackingFile image;  // base = first byte of the range
  uint64_t length = 0;
  int store_fd = -1;
  int map_fd = -1;
  uint8_t* map = nullptr;
  size_t map_bytes = 0;
};

void detach(Attached& a) {
  if (a.map) munmap(a.map, a.map_bytes);
  if (a.store_fd >= 0) close(a.store_fd);
  if (a.map_fd >= 0) close(a.map_fd);
  a = Attached{};
}

size_t map_bytes_for(uint64_t length) {
  return kMapHeaderBytes + sizeof(uint32_t) * static_cast<size_t>((length + kSnapshotBlock - 1) / kSnapshotBlock);
}

std::atomic<uint32_t>* map_entries(uint8_t* map) { return reinterpret_cast<std::atomic<uint32_t>*>(map + kMapHeaderBytes); }
std::atomic<uint64_t>* map_count(uint8_t* map) { return reinterpret_cast<std::atomic<uint64_t>*>(map); }

bool pread_all(int fd, uint8_t* p, size_t length, uint64_t offset) {
  while (length > 0) {
    ssize_t n = ::pread(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {  // past the end of a short file: zeros
      std::memset(p, 0, length);
      return true;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool pwrite_all(int fd, const uint8_t* p, size_t length, uint64_t offset) {
  while (length > 0) {
    ssize_t n = ::pwrite(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

// An unnamed host file in the temporary folder: it has no name to leave behind.
int unnamed_host_file() {
  int fd = ::open(HostTempFolder().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string path;
  fd = CreateHostTempFile("drum-snapshot", &path);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

class Table {
 public:
  // The table of a machine folder, or (empty folder, or one that refuses the
  // file) a table private to this process. Null only when the host refuses both.
  static Table* open(const std::string& folder) {
    int fd = -1;
    if (!folder.empty()) fd = ::open((folder + "/snapshots.table").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fd = memfd_create("snapshots.table", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(kTableBytes) && ftruncate(fd, kTableBytes) != 0)) {
      close(fd);
      return nullptr;
    }
    void* m = mmap(nullptr, kTableBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    // A second description of the file, to look at other descriptions' locks.
    int probe = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC);
    if (m == MAP_FAILED || probe < 0) {
      if (m != MAP_FAILED) munmap(m, kTableBytes);
      if (probe >= 0) close(probe);
      close(fd);
      return nullptr;
    }
    auto* t = new Table;
    t->fd_ = fd;
    t->probe_ = probe;
    t->base_ = static_cast<uint8_t*>(m);
    t->folder_ = folder;
    lock_range(fd, F_WRLCK, 0, kHeaderBytes);
    if (t->header()->magic != kMagic) {
      t->header()->magic = kMagic;
      t->header()->version = kVersion;
    }
    lock_range(fd, F_UNLCK, 0, kHeaderBytes);
    return t;
  }

  const std::string& folder() const { return folder_; }

  bool may_cover() const { return header()->in_use.load(std::memory_order_acquire) != 0 || attached_any_.load(); }

  bool save(const BackingFile& image, int live_fd, uint64_t offset, const uint8_t* data, size_t length) {
    std::lock_guard g(mutex_);
    refresh_locked();
    bool ok = true, dead = false;
    for (auto& a : attached_) {
      if (!ok || !a.image.same_file(image)) continue;
      ok = save_into(a, live_fd, offset, data, length, &dead);
    }
    if (dead) {
      // Their owners died without releasing them: let go of their files.
      for (auto& a : attached_)
        if (a.owner == 0) detach(a);
      std::erase_if(attached_, [](const Attached& a) { return a.record < 0; });
      attached_any_ = !attached_.empty();
    }
    return ok;
  }

  // A new record for a range of `image`; false with *error set.
  bool take(const BackingFile& image, uint64_t length, int* record, uint64_t* made_at, int* store_fd, int* map_fd,
            uint8_t** map, DWORD* error) {
    int store = unnamed_host_file();
    int mapfd = unnamed_host_file();
    size_t bytes = map_bytes_for(length);
    void* m = MAP_FAILED;
    if (store >= 0 && mapfd >= 0 && ftruncate(mapfd, static_cast<off_t>(bytes)) == 0)
      m = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, mapfd, 0);
    if (m == MAP_FAILED) {
      if (store >= 0) close(store);
      if (mapfd >= 0) close(mapfd);
      *error = ERROR_DISK_FULL;
      return false;
    }
    std::lock_guard g(mutex_);
    lock_range(fd_, F_WRLCK, 0, kHeaderBytes);
    int slot = -1;
    for (int i = 0; i < kRecords && slot < 0; ++i) {
      TableRecord* r = rec(i);
      if (r->owner.load() == 0) {
        slot = i;
      } else if (!range_locked(probe_, record_start(i), kRecordBytes)) {
        // Its process died without releasing it: sweep the record.
        r->owner.store(0);
        header()->in_use.fetch_sub(1);
        slot = i;
      }
    }
    if (slot < 0) {
      lock_range(fd_, F_UNLCK, 0, kHeaderBytes);
      munmap(m, bytes);
      close(store);
      close(mapfd);
      *error = ERROR_TOO_MANY_OPEN_FILES;
      return false;
    }
    lock_range(fd_, F_WRLCK, record_start(slot), kRecordBytes);
    TableRecord* r = rec(slot);
    r->device = image.device;
    r->inode = image.inode;
    r->offset = image.base;
    r->length = length;
    r->store_fd = static_cast<uint32_t>(store);
    r->map_fd = static_cast<uint32_t>(mapfd);
    r->made_at = header()->generation.fetch_add(1) + 1;
    r->zero = 0;
    r->owner.store(static_cast<uint64_t>(getpid()), std::memory_order_release);
    header()->in_use.fetch_add(1, std::memory_order_release);
    lock_range(fd_, F_UNLCK, 0, kHeaderBytes);
    *record = slot;
    *made_at = r->made_at;
    *store_fd = store;
    *map_fd = mapfd;
    *map = static_cast<uint8_t*>(m);
    return true;
  }

  void release(int record) {
    std::lock_guard g(mutex_);
    lock_range(fd_, F_WRLCK, 0, kHeaderBytes);
    if (rec(record)->owner.exchange(0) != 0) header()->in_use.fetch_sub(1);
    header()->generation.fetch_add(1);
    lock_range(fd_, F_UNLCK, record_start(record), kRecordBytes);
    lock_range(fd_, F_UNLCK, 0, kHeaderBytes);
    // This process's own descriptors of it go now, not at the next write.
    for (auto& a : attached_)
      if (a.record == record) detach(a);
    std::erase_if(attached_, [](const Attached& a) { return a.record < 0; });
    attached_any_ = !attached_.empty();
  }

 private:
  TableHeader* header() const { return reinterpret_cast<TableHeader*>(base_); }
  TableRecord* rec(int i) const { return reinterpret_cast<TableRecord*>(base_ + record_start(i)); }

  // Attaches the records of live snapshots and lets go of the rest, when the
  // table changed since the last look.
  void refresh_locked() {
    if (header()->generation.load(std::memory_order_acquire) == seen_) return;
    lock_range(probe_, F_RDLCK, 0, kHeaderBytes);
    seen_ = header()->generation.load();
    std::vector<Attached> keep;
    for (int i = 0; i < kRecords; ++i) {
      TableRecord* r = rec(i);
      uint64_t owner = r->owner.load(std::memory_order_acquire);
      if (owner == 0 || !range_locked(probe_, record_start(i), kRecordBytes)) continue;
      auto old = std::find_if(attached_.begin(), attached_.end(),
                              [&](const Attached& a) { return a.record == i && a.made_at == r->made_at; });
      if (old != attached_.end()) {
        keep.push_back(*old);
        old->record = -1;  // moved
        continue;
      }
      Attached a;
      a.record = i;
      a.made_at = r->made_at;
      a.owner = owner;
      a.image = BackingFile{r->device, r->inode, r->offset};
      a.length = r->length;
      std::string proc = "/proc/" + std::to_string(owner) + "/fd/";
      a.store_fd = ::open((proc + std::to_string(r->store_fd)).c_str(), O_RDWR | O_CLOEXEC);
      a.map_fd = ::open((proc + std::to_string(r->map_fd)).c_str(), O_RDWR | O_CLOEXEC);
      a.map_bytes = map_bytes_for(a.length);
      if (a.store_fd >= 0 && a.map_fd >= 0) {
        void* m = mmap(nullptr, a.map_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, a.map_fd, 0);
        if (m != MAP_FAILED) a.map = static_cast<uint8_t*>(m);
      }
      if (!a.map) {
        // The owner is going away as we look: its snapshot goes with it.
        detach(a);
        continue;
      }
      keep.push_back(a);
    }
    lock_range(probe_, F_UNLCK, 0, kHeaderBytes);
    for (auto& a : attached_)
      if (a.record >= 0) detach(a);
    attached_ = std::move(keep);
    attached_any_ = !attached_.empty();
  }

  // Saves the blocks of `a` that [offset, offset + length) changes and no
  // earlier write saved. Under the map's lock, so two savers never take one
  // slot; each block's bytes are in the store before its entry says so.
  bool save_into(Attached& a, int live_fd, uint64_t offset, const uint8_t* data, size_t length, bool* dead) {
    const uint64_t begin = std::max(offset, a.image.base);
    const uint64_t end = std::min(offset + length, a.image.base + a.length);
    if (begin >= end) return true;
    const uint64_t first = (begin - a.image.base) / kSnapshotBlock;
    const uint64_t last = (end - 1 - a.image.base) / kSnapshotBlock;
    auto* entries = map_entries(a.map);
    bool any = false;
    for (uint64_t b = first; b <= last && !any; ++b) any = entries[b].load(std::memory_order_acquire) == 0;
    if (!any) return true;
    if (!range_locked(probe_, record_start(a.record), kRecordBytes)) {
      a.owner = 0;
      *dead = true;
      return true;
    }
    lock_range(a.map_fd, F_WRLCK, 0, kMapHeaderBytes);
    const uint64_t span_start = a.image.base + first * kSnapshotBlock;
    const uint64_t span_end = std::min(a.image.base + (last + 1) * kSnapshotBlock, a.image.base + a.length);
    std::vector<uint8_t> old(static_cast<size_t>(span_end - span_start));
    bool ok = pread_all(live_fd, old.data(), old.size(), span_start);
    std::vector<uint8_t> block(kSnapshotBlock);
    for (uint64_t b = first; ok && b <= last; ++b) {
      if (entries[b].load(std::memory_order_acquire) != 0) continue;
      const uint64_t at = a.image.base + b * kSnapshotBlock;
      const uint64_t stop = std::min(at + kSnapshotBlock, span_end);
      const uint8_t* was = old.data() + (at - span_start);
      // A block the write leaves as it was needs no saving (yet).
      const uint64_t w0 = std::max(at, offset), w1 = std::min(stop, offset + length);
      if (std::memcmp(was + (w0 - at), data + (w0 - offset), static_cast<size_t>(w1 - w0)) == 0) continue;
      std::memset(block.data(), 0, block.size());
      std::memcpy(block.data(), was, static_cast<size_t>(stop - at));
      const uint64_t slot = map_count(a.map)->load();
      if (!pwrite_all(a.store_fd, block.data(), block.size(), slot * kSnapshotBlock)) {
        ok = false;
        break;
      }
      map_count(a.map)->store(slot + 1, std::memory_order_release);
      entries[b].store(static_cast<uint32_t>(slot + 1), std::memory_order_release);
    }
    lock_range(a.map_fd, F_UNLCK, 0, kMapHeaderBytes);
    if (!ok) SetLastError(ERROR_WRITE_FAULT);
    return ok;
  }

  std::string folder_;
  int fd_ = -1;
  int probe_ = -1;
  uint8_t* base_ = nullptr;
  std::mutex mutex_;
  uint64_t seen_ = 0;
  std::vector<Attached> attached_;
  std::atomic<bool> attached_any_{false};
};

struct Tables {
  std::mutex lock;
  std::map<std::string, Table*> by_folder;  // never freed: snapshots and writers may still use one
  std::atomic<Table*> current{nullptr};
};

Tables& tables() {
  static auto* t = new Tables;
  return *t;
}

Table* table_for(const std::string& folder) {
  auto& t = tables();
  std::lock_guard g(t.lock);
  auto it = t.by_folder.find(folder);
  if (it != t.by_folder.end()) return it->second;
  Table* fresh = Table::open(folder);
  if (fresh) t.by_folder[folder] = fresh;
  return fresh;
}

Table* current_table() {
  Table* t = tables().current.load(std::memory_order_acquire);
  if (t) return t;
  t = table_for("");
  Table* expected = nullptr;
  tables().current.compare_exchange_strong(expected, t);
  return tables().current.load();
}

// The snapshot as its owner reads it: the live range, with the saved blocks
// laid over it. The live bytes are read first and the map looked at after:
// a block a writer changed meanwhile was saved before it was changed, so the
// map then names it and the saved bytes replace what the read saw.
class SnapshotDevice : public BlockDevice {
 public:
  SnapshotDevice(Table* table, std::shared_ptr<BlockDevice> live, int record, int store_fd, int map_fd, uint8_t* map)
      : table_(table), live_(std::move(live)), record_(record), store_fd_(store_fd), map_fd_(map_fd), map_(map),
        map_bytes_(map_bytes_for(live_->size())) {}
  ~SnapshotDevice() override {
    table_->release(record_);
    munmap(map_, map_bytes_);
    close(store_fd_);
    close(map_fd_);
  }
  uint64_t size() const override { return live_->size(); }
  uint32_t sector_size() const override { return live_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    return live_->read_at(offset, buffer, length) && overlay(offset, static_cast<uint8_t*>(buffer), length);
  }
  bool read_direct(uint64_t offset, void* buffer, size_t length) override {
    return live_->read_direct(offset, buffer, length) && overlay(offset, static_cast<uint8_t*>(buffer), length);
  }
  bool write_at(uint64_t, const void*, size_t) override {
    SetLastError(ERROR_WRITE_PROTECT);
    return false;
  }
  bool write_direct(uint64_t, const void*, size_t) override {
    SetLastError(ERROR_WRITE_PROTECT);
    return false;
  }
  bool flush() override { return true; }

 private:
  bool overlay(uint64_t offset, uint8_t* p, size_t length) {
    if (length == 0) return true;
    auto* entries = map_entries(map_);
    const uint64_t first = offset / kSnapshotBlock, last = (offset + length - 1) / kSnapshotBlock;
    uint8_t block[kSnapshotBlock];
    for (uint64_t b = first; b <= last; ++b) {
      const uint32_t e = entries[b].load(std::memory_order_acquire);
      if (e == 0) continue;
      if (!pread_all(store_fd_, block, kSnapshotBlock, (e - 1) * kSnapshotBlock)) {
        SetLastError(ERROR_READ_FAULT);
        return false;
      }
      const uint64_t at = b * kSnapshotBlock;
      const uint64_t w0 = std::max(at, offset), w1 = std::min(at + kSnapshotBlock, offset + length);
      std::memcpy(p + (w0 - offset), block + (w0 - at), static_cast<size_t>(w1 - w0));
    }
    return true;
  }

  Table* table_;
  std::shared_ptr<BlockDevice> live_;
  int record_;
  int store_fd_;
  int map_fd_;
  uint8_t* map_;
  size_t map_bytes_;
};

}  // namespace

void UseSnapshotTable(const std::string& folder) {
  Table* t = table_for(folder);
  if (!t) t = table_for("");
  tables().current.store(t, std::memory_order_release);
}

bool SnapshotsMayCover() {
  Table* t = tables().current.load(std::memory_order_acquire);
  return t && t->may_cover();
}

bool SaveBeforeWrite(const BackingFile& key, int live_fd, uint64_t offset, const void* data, size_t length) {
  Table* t = tables().current.load(std::memory_order_acquire);
  return !t || t->save(key, live_fd, offset, static_cast<const uint8_t*>(data), length);
}

std::shared_ptr<BlockDevice> TakeSnapshot(std::shared_ptr<BlockDevice> live, DWORD* error) {
  BackingFile image;
  if (!live || !live->backing_file(&image)) {
    *error = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  Table* t = current_table();
  if (!t) {
    *error = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  int record = -1, store = -1, map_fd = -1;
  uint64_t made_at = 0;
  uint8_t* map = nullptr;
  if (!t->take(image, live->size(), &record, &made_at, &store, &map_fd, &map, error)) return nullptr;
  return std::make_shared<SnapshotDevice>(t, std::move(live), record, store, map_fd, map);
}

}  // namespace platform
