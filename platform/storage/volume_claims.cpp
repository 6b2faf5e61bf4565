#include "platform/storage/volume_claims.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "platform/core/error.h"
#include "platform/machine/machine.h"

namespace platform::storage {

namespace {

// Offsets of a slot's bytes (see the header).
constexpr off_t kOpen = 0, kReading = 1, kWriting = 2, kDeniesReading = 3, kDeniesWriting = 4;
constexpr off_t kSlotSize = 8;
constexpr off_t kFirstSlot = 64;
// Slots spread over 2^52 places: two volumes of one machine sharing a slot
// would only make one wait for the other, and never happens in practice.
constexpr uint64_t kSlotCount = 1ull << 52;

// How many of this process's users stand behind each byte of a slot.
struct Counts {
  int open = 0;
  int reading = 0;
  int writing = 0;
  int denies_reading = 0;
  int denies_writing = 0;
  int locks = 0;
};

struct State {
  std::mutex mutex;
  std::string folder;
  pid_t pid = 0;
  int fd = -1;
  uint64_t epoch = 0;
  std::map<off_t, Counts> slots;
};

State& state() {
  static auto* s = new State;
  return *s;
}

off_t SlotOf(const SharedVolumeKey& key) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint64_t v : {key.device, key.inode, key.offset})
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xff)) * 0x100000001b3ull;
  return kFirstSlot + static_cast<off_t>(h % kSlotCount) * kSlotSize;
}

bool SetByte(int fd, off_t at, short type, bool wait = false) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when another process holds a lock on the byte that conflicts with `type`.
bool OthersHold(int fd, off_t at, short type = F_WRLCK) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

// The claims file of the current machine, opened once per folder and
// process (a forked child gets its own, or it would share the parent's locks).
// False when there is no machine or the folder takes no claims.
bool EnsureOpen(State& s) {
  auto machine = machine::CurrentIfOpen();
  if (!machine) return false;
  if (s.fd >= 0 && s.folder == machine->folder() && s.pid == getpid()) return true;
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.slots.clear();
  ++s.epoch;
  s.folder = machine->folder();
  s.pid = getpid();
  int fd = ::open((s.folder + "/volumes.claims").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  s.fd = fd;
  return true;
}

// Adds (+1) or removes (-1) one user of a sharing byte, locking or unlocking
// the byte when the first comes or the last goes.
void Count(int fd, off_t at, int* count, int delta) {
  if (delta > 0 && (*count)++ == 0) SetByte(fd, at, F_RDLCK);
  if (delta < 0 && *count > 0 && --*count == 0) SetByte(fd, at, F_UNLCK);
}

void CountUse(int fd, off_t base, Counts& c, const VolumeUse& use, int delta) {
  if (use.reads) Count(fd, base + kReading, &c.reading, delta);
  if (use.writes) Count(fd, base + kWriting, &c.writing, delta);
  if (!use.shares_read) Count(fd, base + kDeniesReading, &c.denies_reading, delta);
  if (!use.shares_write) Count(fd, base + kDeniesWriting, &c.denies_writing, delta);
}

}  // namespace

bool SharedVolumeKeyOf(const std::string& path, uint64_t offset, SharedVolumeKey* key) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  key->device = static_cast<uint64_t>(S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev);
  key->inode = S_ISBLK(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_ino);
  key->offset = offset;
  return true;
}

bool SharedVolumeKeyOfDisk(const machine::Disk& disk, uint64_t offset, SharedVolumeKey* key) {
  auto machine = machine::CurrentIfOpen();
  if (!machine) return false;
  const auto& config = disk.config();
  return SharedVolumeKeyOf(config.device.empty() ? machine->resolve(config.image) : config.device, offset, key);
}

VolumeClaim& VolumeClaim::operator=(VolumeClaim&& other) noexcept {
  if (this == &other) return *this;
  release();
  key_ = other.key_;
  use_ = other.use_;
  epoch_ = std::exchange(other.epoch_, 0);
  locked_ = std::exchange(other.locked_, false);
  return *this;
}

DWORD VolumeClaim::Take(const SharedVolumeKey& key, const VolumeUse& use, VolumeClaim* out) {
  out->release();
  State& s = state();
  std::lock_guard guard(s.mutex);
  if (!EnsureOpen(s)) return 0;
  const off_t base = SlotOf(key);
  Counts& c = s.slots[base];
  // The open byte: shared by every user, refused while another process locks.
  const bool first = c.open == 0 && c.locks == 0;
  // A mere presence while this process already holds the open byte changes no
  // lock and has nothing to check (nobody else can lock the volume meanwhile),
  // so it is only counted: the file calls on an open file cost no lock traffic.
  const bool checks = use.reads || use.writes || !use.shares_read || !use.shares_write;
  if (!first && !checks) {
    ++c.open;
    out->key_ = key;
    out->use_ = use;
    out->epoch_ = s.epoch;
    return 0;
  }
  SetByte(s.fd, 0, F_WRLCK, true);
  DWORD error = 0;
  if (first && !SetByte(s.fd, base + kOpen, F_RDLCK)) error = ERROR_ACCESS_DENIED;
  // Each side's sharing must allow what the other side does.
  if (!error && ((use.reads && OthersHold(s.fd, base + kDeniesReading)) ||
                 (use.writes && OthersHold(s.fd, base + kDeniesWriting)) ||
                 (!use.shares_read && OthersHold(s.fd, base + kReading)) ||
                 (!use.shares_write && OthersHold(s.fd, base + kWriting)))) {
    error = ERROR_SHARING_VIOLATION;
    if (first) SetByte(s.fd, base + kOpen, F_UNLCK);
  }
  if (!error) {
    ++c.open;
    CountUse(s.fd, base, c, use, +1);
    out->key_ = key;
    out->use_ = use;
    out->epoch_ = s.epoch;
  }
  SetByte(s.fd, 0, F_UNLCK);
  return error;
}

void VolumeClaim::release() {
  if (!epoch_) return;
  if (locked_) unlock();
  State& s = state();
  std::lock_guard guard(s.mutex);
  // Claims of a folder let go since (another machine, a forked child) went with its descriptor.
  if (std::exchange(epoch_, 0) != s.epoch || s.fd < 0) return;
  const off_t base = SlotOf(key_);
  Counts& c = s.slots[base];
  CountUse(s.fd, base, c, use_, -1);
  if (c.open > 0 && --c.open == 0 && c.locks == 0) SetByte(s.fd, base + kOpen, F_UNLCK);
}

DWORD VolumeClaim::lock() {
  if (!epoch_ || locked_) return 0;
  State& s = state();
  std::lock_guard guard(s.mutex);
  if (epoch_ != s.epoch || s.fd < 0) return 0;
  const off_t base = SlotOf(key_);
  Counts& c = s.slots[base];
  // Turning this process's shared hold into an exclusive one fails while any
  // other process holds the byte.
  if (c.locks == 0 && !SetByte(s.fd, base + kOpen, F_WRLCK)) return ERROR_ACCESS_DENIED;
  ++c.locks;
  locked_ = true;
  return 0;
}

void VolumeClaim::unlock() {
  if (!locked_) return;
  locked_ = false;
  State& s = state();
  std::lock_guard guard(s.mutex);
  if (epoch_ != s.epoch || s.fd < 0) return;
  const off_t base = SlotOf(key_);
  Counts& c = s.slots[base];
  if (c.locks > 0 && --c.locks == 0) SetByte(s.fd, base + kOpen, c.open > 0 ? F_RDLCK : F_UNLCK);
}

bool IsVolumeLockedElsewhere(const SharedVolumeKey& key) {
  State& s = state();
  std::lock_guard guard(s.mutex);
  if (!EnsureOpen(s)) return false;
  const off_t base = SlotOf(key);
  auto it = s.slots.find(base);
  // This process's own hold of the open byte, shared or exclusive, keeps
  // every other process from locking it: nothing to ask.
  if (it != s.slots.end() && (it->second.locks > 0 || it->second.open > 0)) return false;
  return OthersHold(s.fd, base + kOpen, F_RDLCK);
}

}  // namespace platform::storage
