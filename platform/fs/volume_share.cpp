#include "platform/fs/volume_share.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform::fs {

namespace {

constexpr size_t kRecordSize = 32;
constexpr size_t kCountAt = 0x18;
// Records past this many are not looked at: the file is ours, but a damaged
// one must not make every call read megabytes.
constexpr uint64_t kMaxRecords = 4096;
// find()'s end when the file could not be read.
constexpr uint64_t kUnread = ~0ull;

bool whole_lock(int fd, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  while (fcntl(fd, F_SETLKW, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<VolumeShareLock> VolumeShareLock::open(const std::string& machine_folder) {
  std::string path = machine_folder + "/volumes.lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<VolumeShareLock>(new VolumeShareLock(fd, machine_folder));
}

VolumeShareLock::~VolumeShareLock() {
  if (held_) unlock();
  ::close(fd_);
}

bool VolumeShareLock::lock() {
  if (held_) return true;
  held_ = whole_lock(fd_, F_WRLCK);
  return held_;
}

void VolumeShareLock::unlock() {
  if (!held_) return;
  whole_lock(fd_, F_UNLCK);
  held_ = false;
}

int64_t VolumeShareLock::find(const SharedVolumeKey& key, uint64_t* count, uint64_t* end) {
  // Read in pieces until a short read ends the file: asked twice a file call,
  // so no look at the file's size first. A trailing part record is not one.
  uint8_t bytes[64 * kRecordSize];
  *count = 0;
  *end = 0;
  while (*end < kMaxRecords * kRecordSize) {
    ssize_t got = pread(fd_, bytes, std::min<uint64_t>(sizeof bytes, kMaxRecords * kRecordSize - *end),
                        static_cast<off_t>(*end));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *end = kUnread;
      return -1;
    }
    const uint64_t records = static_cast<uint64_t>(got) / kRecordSize;
    for (uint64_t i = 0; i < records; ++i) {
      uint64_t f[4];
      std::memcpy(f, &bytes[i * kRecordSize], sizeof f);
      if (f[0] == key.device && f[1] == key.inode && f[2] == key.offset) {
        *count = f[3];
        return static_cast<int64_t>(*end + i * kRecordSize);
      }
    }
    *end += records * kRecordSize;
    if (static_cast<uint64_t>(got) < sizeof bytes) break;
  }
  return -1;
}

uint64_t VolumeShareLock::generation(const SharedVolumeKey& key) {
  uint64_t count = 0, end = 0;
  find(key, &count, &end);
  return count;
}

uint64_t VolumeShareLock::bump(const SharedVolumeKey& key) {
  uint64_t count = 0, end = 0;
  int64_t at = find(key, &count, &end);
  // Unreadable: appending blind could land on another volume's record.
  if (end == kUnread) return 0;
  ++count;
  if (at >= 0) {
    if (pwrite(fd_, &count, sizeof count, at + static_cast<int64_t>(kCountAt)) != sizeof count) return 0;
  } else {
    uint64_t record[4] = {key.device, key.inode, key.offset, count};
    if (pwrite(fd_, record, sizeof record, static_cast<off_t>(end)) != sizeof record) return 0;
  }
  return count;
}

}  // namespace platform::fs
