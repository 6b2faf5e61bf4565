#include "platform/fs/hostfs/host_driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/hostfs/name_cache.h"
#include "platform/fs/path_name.h"

namespace platform::fs::hostfs {

namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1970-01-01 in FILETIME ticks
constexpr DWORD kStoredAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                    FILE_ATTRIBUTE_OFFLINE;
constexpr size_t kMaxEntries = 1000000;
// The side store's mark of a removed record, and the lines it may carry
// beyond twice its records before it is written anew.
constexpr const char* kRemovedMark = "-";
constexpr size_t kStoreSlack = 64;

DWORD from_errno(int e) {
  switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_GEN_FAILURE;
  }
}

uint64_t ticks(const timespec& t) {
  return kUnixEpochTicks + static_cast<uint64_t>(t.tv_sec) * 10000000ULL + static_cast<uint64_t>(t.tv_nsec) / 100;
}
timespec to_timespec(uint64_t t) {
  timespec out{};
  if (t < kUnixEpochTicks) return out;
  uint64_t rel = t - kUnixEpochTicks;
  out.tv_sec = static_cast<time_t>(rel / 10000000ULL);
  out.tv_nsec = static_cast<long>((rel % 10000000ULL) * 100);
  return out;
}

std::string folded_key(const VolumePath& path) {
  std::u16string joined;
  for (auto& c : path) {
    joined += u'/';
    for (char16_t ch : c) joined += FoldCase(ch);
  }
  return to_utf8(joined);
}

struct Meta {
  DWORD attributes = 0;
  uint64_t creation = 0;
};

class HostFile : public OpenFile {
 public:
  HostFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~HostFile() override { close(fd_); }
  uint64_t size() const override {
    struct stat st{};
    return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  DWORD read(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    *done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (*done < length) {
      ssize_t n = pread(fd_, p + *done, length - *done, static_cast<off_t>(offset + *done));
      if (n < 0 && errno == EINTR) continue;  // interrupted: read the rest
      if (n < 0) return ERROR_READ_FAULT;
      if (n == 0) break;
      *done += static_cast<size_t>(n);
    }
    return ERROR_SUCCESS;
  }
  DWORD write(uint64_t offset, const void* buffer, size_t length) override {
    if (!writable_) return ERROR_ACCESS_DENIED;
    auto* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
      ssize_t n = pwrite(fd_, p + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
      }
      done += static_cast<size_t>(n);
    }
    return ERROR_SUCCESS;
  }
  DWORD set_size(uint64_t size) override {
    if (!writable_) return ERROR_ACCESS_DENIED;
    return ftruncate(fd_, static_cast<off_t>(size)) == 0 ? ERROR_SUCCESS : from_errno(errno);
  }
  // Writes go straight to the host file: nothing is held back, only fsync is left for flush.
  DWORD write_back() override { return ERROR_SUCCESS; }
  DWORD flush() override { return writable_ && fsync(fd_) != 0 ? ERROR_WRITE_FAULT : ERROR_SUCCESS; }
  int host_descriptor() const override { return fd_; }

 private:
  int fd_;
  bool writable_;
};

class HostDriver : public VolumeDriver {
 public:
  HostDriver(std::string root, bool read_only) : root_(std::move(root)), read_only_(read_only) {
    lock_descriptor();
    refresh();
  }
  ~HostDriver() override {
    if (root_fd_ >= 0) ::close(root_fd_);
  }

  DWORD volume_info(VolumeInfo* info) override {
    struct statvfs vfs{};
    if (statvfs(root_.c_str(), &vfs) != 0) return from_errno(errno);
    info->file_system = u"NTFS";
    info->label.clear();
    uint32_t hash = 2166136261u;
    for (char c : root_) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    info->serial_number = hash;
    info->max_component_length = 255;
    info->flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    info->bytes_per_sector = 512;
    info->bytes_per_cluster = 4096;
    uint64_t unit = vfs.f_frsize ? vfs.f_frsize : 4096;
    info->total_clusters = static_cast<uint64_t>(vfs.f_blocks) * unit / 4096;
    info->free_clusters = static_cast<uint64_t>(vfs.f_bavail) * unit / 4096;
    return ERROR_SUCCESS;
  }
  DWORD set_label(const std::u16string&) override { return read_only_ ? ERROR_WRITE_PROTECT : ERROR_SUCCESS; }

  DWORD stat(const VolumePath& path, FileInfo* info) override {
    refresh();
    std::string host;
    if (DWORD e = find(path, &host)) return e;
    return describe(path, host, info);
  }

  DWORD list(const VolumePath& folder, std::vector<FileInfo>* entries) override {
    entries->clear();
    refresh();
    std::string host;
    if (DWORD e = find(folder, &host)) return e == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : e;
    DIR* dir = opendir(host.c_str());
    if (!dir) return errno == ENOTDIR ? ERROR_DIRECTORY : from_errno(errno);
    std::vector<std::string> names;
    while (dirent* d = readdir(dir)) {
      std::string n = d->d_name;
      if (n == "." || n == ".." || (folder.empty() && n == kSideStoreName)) continue;
      names.push_back(n);
      if (names.size() > kMaxEntries) break;
    }
    closedir(dir);
    for (auto& n : names) {
      VolumePath p = folder;
      p.push_back(to_utf16(n));
      FileInfo info;
      if (describe(p, host + "/" + n, &info) == ERROR_SUCCESS) entries->push_back(std::move(info));
    }
    // The order NTFS would give: by upper-cased name.
    std::sort(entries->begin(), entries->end(), [](const FileInfo& a, const FileInfo& b) {
      size_t n = std::min(a.name.size(), b.name.size());
      for (size_t i = 0; i < n; ++i) {
        char16_t x = FoldCase(a.name[i]), y = FoldCase(b.name[i]);
        if (x != y) return x < y;
      }
      return a.name.size() < b.name.size();
    });
    return ERROR_SUCCESS;
  }

  DWORD open(const VolumePath& path, bool writable, std::unique_ptr<OpenFile>* file) override {
    std::string host;
    if (DWORD e = find(path, &host)) return e;
    if (writable && read_only_) return ERROR_WRITE_PROTECT;
    struct stat st{};
    if (::stat(host.c_str(), &st) != 0) return from_errno(errno);
    // Only plain files hold data: a FIFO would block the program forever, a
    // device would hand it endless bytes. Opened without waiting, then checked
    // again on the descriptor, so nothing swapped in between gets through.
    if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
    int fd = ::open(host.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return from_errno(errno);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      ::close(fd);
      return ERROR_ACCESS_DENIED;
    }
    *file = std::make_unique<HostFile>(fd, writable);
    return ERROR_SUCCESS;
  }

  DWORD create_file(const VolumePath& path, DWORD attributes) override {
    StoreLock lock(this);
    std::string host;
    if (DWORD e = prepare_new(path, &host)) return e;
    int fd = ::open(host.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return from_errno(errno);
    close(fd);
    const std::string key = folded_key(path);
    Meta& m = meta_[key];
    m.attributes = attributes & kStoredAttributes;
    m.creation = Clock::instance().now_filetime();
    if (attributes & FILE_ATTRIBUTE_READONLY) chmod(host.c_str(), 0444);
    return save_one(key);
  }

  DWORD create_folder(const VolumePath& path) override {
    StoreLock lock(this);
    std::string host;
    if (DWORD e = prepare_new(path, &host)) return e;
    if (mkdir(host.c_str(), 0777) != 0) return from_errno(errno);
    const std::string key = folded_key(path);
    meta_[key] = Meta{0, Clock::instance().now_filetime()};
    return save_one(key);
  }

  DWORD remove(const VolumePath& path) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    if (path.empty()) return ERROR_ACCESS_DENIED;
    StoreLock lock(this);
    std::string host;
    if (DWORD e = find(path, &host)) return e;
    struct stat st{};
    if (lstat(host.c_str(), &st) != 0) return from_errno(errno);
    if ((S_ISDIR(st.st_mode) ? rmdir(host.c_str()) : unlink(host.c_str())) != 0) return from_errno(errno);
    const std::string key = folded_key(path);
    meta_.erase(key);
    return save_one(key);
  }

  DWORD rename(const VolumePath& from, const VolumePath& to) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    StoreLock lock(this);
    std::string a, b;
    if (DWORD e = find(from, &a)) return e;
    std::string existing;
    DWORD e = find(to, &existing);
    if (e == ERROR_SUCCESS && existing != a) return ERROR_ALREADY_EXISTS;
    if (e && e != ERROR_FILE_NOT_FOUND) return e;
    if ((e = parent_of(to, &b))) return e;
    b += "/" + to_utf8(to.back());
    if (::rename(a.c_str(), b.c_str()) != 0) return from_errno(errno);
    // Carry the side-store records along, the folder's own and everything below it.
    std::string old_key = folded_key(from), new_key = folded_key(to);
    std::map<std::string, Meta> moved;
    for (auto it = meta_.begin(); it != meta_.end();) {
      if (it->first == old_key || it->first.rfind(old_key + "/", 0) == 0) {
        moved[new_key + it->first.substr(old_key.size())] = it->second;
        it = meta_.erase(it);
      } else {
        ++it;
      }
    }
    meta_.insert(moved.begin(), moved.end());
    return save();
  }

  DWORD set_attributes(const VolumePath& path, DWORD attributes) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    StoreLock lock(this);
    std::string host;
    if (DWORD e = find(path, &host)) return e;
    struct stat st{};
    if (::stat(host.c_str(), &st) != 0) return from_errno(errno);
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | 0200);
    // A folder link has no mode of its own: the folder it points at keeps its mode.
    if (!is_folder_link(host) && chmod(host.c_str(), mode) != 0) return from_errno(errno);
    const std::string key = folded_key(path);
    meta_[key].attributes = attributes & kStoredAttributes;
    return save_one(key);
  }

  DWORD set_times(const VolumePath& path, const uint64_t* creation, const uint64_t* last_access,
                  const uint64_t* last_write) override {
    if (read_only_) return ERROR_WRITE_PROTECT;
    std::string host;
    if (DWORD e = find(path, &host)) return e;
    timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (last_access) times[0] = to_timespec(*last_access);
    if (last_write) times[1] = to_timespec(*last_write);
    if ((last_access || last_write) && utimensat(AT_FDCWD, host.c_str(), times, 0) != 0) return from_errno(errno);
    if (creation) {
      StoreLock lock(this);
      const std::string key = folded_key(path);
      meta_[key].creation = *creation;
      return save_one(key);
    }
    return ERROR_SUCCESS;
  }

  DWORD flush() override { return ERROR_SUCCESS; }

 private:
  // Finds the host path of an existing entry, matching each part without regard to case.
  DWORD find(const VolumePath& path, std::string* host) {
    if (path.size() == 1 && EqualNoCase(path[0], to_utf16(kSideStoreName))) return ERROR_FILE_NOT_FOUND;
    std::string cur = root_;
    size_t from = 0;
    // Names mostly come as the host spells them: one look at the whole path
    // (or, for a name not there yet, at its folder) stands for the walk
    // below, which would take the same spelling at every step.
    if (!path.empty()) {
      std::string folder = root_;
      for (size_t i = 0; i + 1 < path.size(); ++i) folder += "/" + to_utf8(path[i]);
      const std::string exact = folder + "/" + to_utf8(path.back());
      struct stat st{};
      if (::stat(exact.c_str(), &st) == 0) {
        *host = exact;
        return ERROR_SUCCESS;
      }
      if (path.size() > 1 && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        cur = folder;
        from = path.size() - 1;
      }
    }
    for (size_t i = from; i < path.size(); ++i) {
      std::string exact = cur + "/" + to_utf8(path[i]);
      struct stat st{};
      bool known = ::stat(exact.c_str(), &st) == 0;
      if (known) {
        cur = exact;
      } else {
        // Not under this spelling: the folder's names, folded, say whether another case exists.
        std::string match;
        if (MatchName(cur, path[i], &match) != NameMatch::kFound) {
          return i + 1 < path.size() ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
        }
        cur += "/" + match;
      }
      if (i + 1 < path.size() && ((!known && ::stat(cur.c_str(), &st) != 0) || !S_ISDIR(st.st_mode)))
        return ERROR_PATH_NOT_FOUND;
    }
    *host = cur;
    return ERROR_SUCCESS;
  }

  DWORD parent_of(const VolumePath& path, std::string* host) {
    if (path.empty()) return ERROR_ACCESS_DENIED;
    VolumePath parent(path.begin(), path.end() - 1);
    DWORD e = find(parent, host);
    if (e) return ERROR_PATH_NOT_FOUND;
    struct stat st{};
    if (::stat(host->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_SUCCESS;
  }

  DWORD prepare_new(const VolumePath& path, std::string* host) {
    if (read_only_) return ERROR_WRITE_PROTECT;
    if (path.empty()) return ERROR_ACCESS_DENIED;
    std::string existing;
    if (find(path, &existing) == ERROR_SUCCESS) return ERROR_ALREADY_EXISTS;
    if (DWORD e = parent_of(path, host)) return e;
    *host += "/" + to_utf8(path.back());
    return ERROR_SUCCESS;
  }

  // A host symbolic link to a folder, below the mounted folder's root.
  static bool is_folder_link(const std::string& host) {
    struct stat link{}, target{};
    return ::lstat(host.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::stat(host.c_str(), &target) == 0 &&
           S_ISDIR(target.st_mode);
  }

  // A host symbolic link to a folder shows as a folder link (a reparse
  // point), so a program that removes a tree removes the link and leaves
  // what it points at, which may lie outside the tree.
  DWORD describe(const VolumePath& path, const std::string& host, FileInfo* info) {
    struct stat st{};
    if (::stat(host.c_str(), &st) != 0) return from_errno(errno);
    const bool folder_link = !path.empty() && S_ISDIR(st.st_mode) && is_folder_link(host);
    *info = FileInfo{};
    size_t slash = host.rfind('/');
    info->name = path.empty() ? u"" : to_utf16(host.substr(slash + 1));
    bool dir = S_ISDIR(st.st_mode);
    auto it = meta_.find(folded_key(path));
    DWORD attributes = it != meta_.end() ? it->second.attributes : (dir ? 0 : FILE_ATTRIBUTE_ARCHIVE);
    if (dir) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((!(st.st_mode & S_IWUSR) && !folder_link) || read_only_) attributes |= FILE_ATTRIBUTE_READONLY;
    if (folder_link) {
      attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      info->reparse_tag = IO_REPARSE_TAG_SYMLINK;
    }
    if (!attributes) attributes = FILE_ATTRIBUTE_NORMAL;
    info->attributes = attributes;
    info->size = dir ? 0 : static_cast<uint64_t>(st.st_size);
    info->allocation_size = static_cast<uint64_t>(st.st_blocks) * 512;
    info->last_write_time = ticks(st.st_mtim);
    info->last_access_time = ticks(st.st_atim);
    info->creation_time = it != meta_.end() && it->second.creation ? it->second.creation : info->last_write_time;
    info->file_id = static_cast<uint64_t>(st.st_ino);
    return ERROR_SUCCESS;
  }

  std::string store_path() const { return root_ + "/" + kSideStoreName; }

  // What tells one store file from the next: a store written anew is
  // another file (another inode, born later), one appended to keeps both.
  struct StoreStamp {
    uint64_t inode = 0;
    int64_t born_seconds = 0;
    uint32_t born_nanoseconds = 0;
    bool operator==(const StoreStamp&) const = default;
  };
  static StoreStamp stamp_of(const struct statx& sx) {
    StoreStamp stamp{sx.stx_ino, 0, 0};
    if (sx.stx_mask & STATX_BTIME) {
      stamp.born_seconds = sx.stx_btime.tv_sec;
      stamp.born_nanoseconds = sx.stx_btime.tv_nsec;
    }
    return stamp;
  }

  // Takes in what other programs sharing the folder wrote to the store
  // since this driver last read or wrote it: the lines appended since, or
  // the whole store when it was written anew. Only whole lines are taken.
  void refresh() {
    struct statx sx{};
    if (statx(AT_FDCWD, store_path().c_str(), 0, STATX_INO | STATX_SIZE | STATX_BTIME, &sx) != 0) {
      if (store_known_) forget_store();
      return;
    }
    StoreStamp stamp = stamp_of(sx);
    if (!store_known_ || !(stamp == store_stamp_) || sx.stx_size < store_offset_) {
      forget_store();
      store_stamp_ = stamp;
      store_known_ = true;
    }
    if (sx.stx_size == store_offset_) return;
    int fd = ::open(store_path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string pending;
    std::vector<char> chunk(64 * 1024);
    for (uint64_t at = store_offset_; at < sx.stx_size && store_lines_ < kMaxEntries;) {
      ssize_t n = pread(fd, chunk.data(), std::min<uint64_t>(chunk.size(), sx.stx_size - at), static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<uint64_t>(n);
      pending.append(chunk.data(), static_cast<size_t>(n));
      size_t begin = 0;
      for (size_t end; (end = pending.find('\n', begin)) != std::string::npos; begin = end + 1) {
        take_line(pending.substr(begin, end - begin));
        store_offset_ += end + 1 - begin;
      }
      pending.erase(0, begin);
    }
    ::close(fd);
  }

  void forget_store() {
    meta_.clear();
    store_lines_ = 0;
    store_offset_ = 0;
    store_known_ = false;
  }

  // One record a line: attributes (hex), creation time (decimal), folded path.
  void take_line(const std::string& line) {
    std::istringstream fields(line);
    std::string attr, created, key;
    if (!std::getline(fields, attr, '\t') || !std::getline(fields, created, '\t') || !std::getline(fields, key))
      return;  // a damaged line loses only its own record
    ++store_lines_;
    if (attr == kRemovedMark) {
      meta_.erase(key);
      return;
    }
    Meta m;
    try {
      m.attributes = static_cast<DWORD>(std::stoul(attr, nullptr, 16)) & kStoredAttributes;
      m.creation = std::stoull(created);
    } catch (...) {
      return;
    }
    meta_[key] = m;
  }

  static std::string record_line(const std::string& key, const Meta* m) {
    if (!m) return std::string(kRemovedMark) + "\t0\t" + key + "\n";
    char attr[16];
    std::snprintf(attr, sizeof attr, "%x", m->attributes);
    return std::string(attr) + "\t" + std::to_string(m->creation) + "\t" + key + "\n";
  }

  // A change of the side store is made under a lock on the mounted folder,
  // which every driver of every program sharing it takes, after taking in
  // what the others wrote: no program's records are lost to another's
  // rewrite, and each record line is one write at the end of the store.
  class StoreLock {
   public:
    explicit StoreLock(HostDriver* d) : d_(d) {
      int fd = d_->lock_descriptor();
      locked_ = !d_->read_only_ && fd >= 0 && flock(fd, LOCK_EX) == 0;
      d_->refresh();
    }
    ~StoreLock() {
      if (locked_) flock(d_->root_fd_, LOCK_UN);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

   private:
    HostDriver* d_;
    bool locked_;
  };

  // The folder opened by this process: a child forked with the driver
  // shares its parent's open folder, and with it the parent's lock.
  int lock_descriptor() {
    if (root_pid_ != getpid()) {
      if (root_fd_ >= 0) ::close(root_fd_);
      root_fd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      root_pid_ = getpid();
    }
    return root_fd_;
  }

  // Where this driver's reading of the store stands after its own write.
  void note_store(int fd) {
    struct statx sx{};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_SIZE | STATX_BTIME, &sx) != 0) return;
    store_stamp_ = stamp_of(sx);
    store_known_ = true;
    store_offset_ = sx.stx_size;
  }

  // One changed record appended to the store (a later line replaces an
  // earlier one, kRemovedMark removes it), so a change costs one line, not a
  // rewrite of every record; the store is written anew once the lines
  // outnumber twice the records. Called under a StoreLock.
  DWORD save_one(const std::string& key) {
    if (read_only_) return ERROR_SUCCESS;
    if (store_lines_ + 1 > 2 * meta_.size() + kStoreSlack) return save();
    auto it = meta_.find(key);
    std::string line = record_line(key, it == meta_.end() ? nullptr : &it->second);
    int fd = ::open(store_path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return ERROR_WRITE_FAULT;
    bool whole = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (whole) note_store(fd);
    ::close(fd);
    if (!whole) return ERROR_WRITE_FAULT;
    ++store_lines_;
    return ERROR_SUCCESS;
  }

  // Called under a StoreLock.
  DWORD save() {
    if (read_only_) return ERROR_SUCCESS;
    std::string text;
    for (auto& [key, m] : meta_) text += record_line(key, &m);
    std::string temp = store_path() + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return ERROR_WRITE_FAULT;
    bool whole = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (whole && ::rename(temp.c_str(), store_path().c_str()) == 0) {
      note_store(fd);
      store_lines_ = meta_.size();
    } else {
      whole = false;
      ::unlink(temp.c_str());
    }
    ::close(fd);
    return whole ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
  }

  std::string root_;
  bool read_only_;
  int root_fd_ = -1;  // the mounted folder, locked while the store changes
  pid_t root_pid_ = 0;  // the process that opened it
  std::map<std::string, Meta> meta_;
  size_t store_lines_ = 0;     // lines taken from the store file, records and replaced ones
  uint64_t store_offset_ = 0;  // bytes of the store file taken in
  StoreStamp store_stamp_;
  bool store_known_ = false;
};

}  // namespace

std::unique_ptr<VolumeDriver> Mount(const std::string& folder, bool read_only, DWORD* error) {
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  *error = ERROR_SUCCESS;
  return std::make_unique<HostDriver>(folder, read_only);
}

}  // namespace platform::fs::hostfs
