#include "platform/fs/volume_share.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform::fs {

namespace {

constexpr size_t kRecordSize = 32;
constexpr size_t kCountAt = 0x18;
// Records past this many are not looked at: the file is ours, but a damaged
// one must not make every call read megabytes.
constexpr uint64_t kMaxRecords = 4096;

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
  struct stat st {};
  uint64_t size = fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  uint64_t records = std::min<uint64_t>(size / kRecordSize, kMaxRecords);
  *end = records * kRecordSize;
  *count = 0;
  if (!records) return -1;
  std::vector<uint8_t> bytes(records * kRecordSize);
  ssize_t got = pread(fd_, bytes.data(), bytes.size(), 0);
  if (got < 0) return -1;
  records = static_cast<uint64_t>(got) / kRecordSize;
  for (uint64_t i = 0; i < records; ++i) {
    uint64_t f[4];
    std::memcpy(f, &bytes[i * kRecordSize], sizeof f);
    if (f[0] == key.device && f[1] == key.inode && f[2] == key.offset) {
      *count = f[3];
      return static_cast<int64_t>(i * kRecordSize);
    }
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
