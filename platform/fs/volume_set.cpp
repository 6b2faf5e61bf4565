#include "platform/fs/volume_set.h"

#include <atomic>
#include <map>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/hostfs/host_driver.h"
#include "platform/fs/ntfs/ntfs_driver.h"
#include "platform/fs/volume_share.h"
#include "platform/fs/fat/fat_volume.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

namespace platform::fs {

namespace {

constexpr char kHostPrefix[] = "host:";
constexpr char kShadowPrefix[] = "shadow:";

// The device a driver of a table volume works on: notes that it was written,
// and once the driver's view is known to be stale (another process changed the
// volume) refuses every write, so nothing the old driver still holds can
// reach the image while it is let go.
class GuardedDevice : public BlockDevice {
 public:
  explicit GuardedDevice(std::shared_ptr<BlockDevice> inner) : inner_(std::move(inner)) {}
  uint64_t size() const override { return inner_->size(); }
  uint32_t sector_size() const override { return inner_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    return inner_->read_at(offset, buffer, length);
  }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    if (frozen_) {
      SetLastError(ERROR_NOT_READY);
      return false;
    }
    written_ = true;
    return inner_->write_at(offset, buffer, length);
  }
  bool flush() override { return frozen_ || inner_->flush(); }

  void freeze() { frozen_ = true; }
  // True when something was written since the last time this was asked.
  bool take_written() { return written_.exchange(false); }

 private:
  std::shared_ptr<BlockDevice> inner_;
  // Transfers write without FsLock (TransferPin), under the driver's own lock.
  std::atomic<bool> frozen_{false};
  std::atomic<bool> written_{false};
};

struct Slot {
  std::shared_ptr<VolumeDriver> driver;
  std::shared_ptr<GuardedDevice> guard;  // table volumes only
  uint64_t instance = 0;
  // What the driver was mounted on, to notice a replaced volume.
  uint64_t generation = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
  std::string file_system;
  std::vector<std::weak_ptr<DriverUser>> users;
  // Coordination with other processes on the machine (volume_share.h).
  bool shared = false;          // the volume lies on a machine disk: keyed below
  SharedVolumeKey key;
  uint64_t key_generation = 0;  // the table generation the key was made for
  uint64_t seen = 0;            // the volume's change count the driver's view matches
  bool in_call = false;         // joined by the file call under way
  storage::VolumeClaim call_claim;  // keeps other processes from locking it during the call
  bool changed = false;         // written by a driver since the last count
};

struct Shadow {
  std::shared_ptr<BlockDevice> device;
  std::string file_system;
  std::string source;
};

struct State {
  State() {
    for (const char* kind : {"FAT12", "FAT16", "FAT32"})
      factories[kind] = [](std::shared_ptr<BlockDevice> device, DWORD* error) { return fat::Mount(device, error); };
  }
  std::map<std::string, Slot> slots;
  std::map<std::string, DriverFactory> factories;
  std::map<int, Shadow> shadows;
  int next_shadow = 1;
  uint64_t next_instance = 1;
  std::unique_ptr<VolumeShareLock> share;
  std::vector<std::string> call_volumes;  // slots joined by the file call under way
  int transfer_pins = 0;                  // TransferPins keeping the machine's volume lock
};

void release_slot(Slot& slot) {
  for (auto& weak : slot.users)
    if (auto user = weak.lock()) user->release_driver_state();
  slot.users.clear();
  if (slot.driver) slot.driver->flush();
  slot.driver.reset();
  if (slot.guard && slot.guard->take_written()) slot.changed = true;
  slot.guard.reset();
}

// Lets go of a driver whose view another process made stale: nothing it holds
// may be written over the newer bytes.
void drop_stale_slot(Slot& slot) {
  if (slot.guard) slot.guard->freeze();
  for (auto& weak : slot.users)
    if (auto user = weak.lock()) user->release_driver_state();
  slot.users.clear();
  slot.driver.reset();
  slot.guard.reset();
}

void count_raw_change(int disk, uint64_t offset, uint64_t length);

State& state() {
  static State* s = [] {
    auto* st = new State;
    storage::AddRawAccessListener([](int disk, uint64_t offset, uint64_t length, storage::RawAccess kind) {
      // A write that landed and a lock tell the other processes too: their
      // view of the volume is stale from now on.
      if (kind == storage::RawAccess::Written || kind == storage::RawAccess::Lock) count_raw_change(disk, offset, length);
      if (kind == storage::RawAccess::Written) return;
      // Reads, writes, locks, dismounts and layout changes alike: the driver
      // writes everything back and closes, and mounts again on next use.
      ReleaseDrivers(disk, offset, length);
    });
    // Another machine brings other disks and host folders under the same
    // names: nothing mounted for the previous one may serve it.
    machine::AddMachineChangedListener([](const std::shared_ptr<machine::Machine>&) {
      ReleaseAllDrivers();
      std::lock_guard g(FsLock());
      state().share.reset();
    });
    // File-system controls sent to volume handles come here.
    storage::SetVolumeControlHandler([](const storage::MountedVolume& volume, DWORD code, const void*, DWORD,
                                        void* out, DWORD out_size, DWORD* returned) -> std::optional<BOOL> {
      if (code != FSCTL_GET_NTFS_VOLUME_DATA) return std::nullopt;
      return QueryNtfsVolumeData(volume.guid_path, out, out_size, returned);
    });
    return st;
  }();
  return *s;
}

// The listener and the volume-control handler are in place from start-up, so
// raw access and volume handles find them before the first file call.
[[maybe_unused]] const bool kHooksInstalled = (state(), true);

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::u16string number_text(int n) {
  std::string d = std::to_string(n);
  return std::u16string(d.begin(), d.end());
}

bool find_table_volume(const std::string& key, storage::MountedVolume* out) {
  for (auto& v : storage::MountedVolumes()) {
    if (to_utf8(v.guid_path) == key) {
      *out = v;
      return true;
    }
  }
  return false;
}

// The key of the volume at a name's root, before redirections.
DWORD root_volume(const ParsedName& name, std::string* key) {
  auto machine = machine::CurrentIfOpen();
  switch (name.root) {
    case RootKind::DriveLetter: {
      if (machine) {
        for (auto& m : machine->mounts()) {
          if (m.is_whole_drive() && FoldCase(static_cast<char16_t>(m.path[0])) == name.letter) {
            *key = kHostPrefix + m.name;
            return ERROR_SUCCESS;
          }
        }
      }
      for (auto& v : storage::MountedVolumes()) {
        if (v.letter && FoldCase(v.letter) == name.letter) {
          *key = to_utf8(v.guid_path);
          return ERROR_SUCCESS;
        }
      }
      return ERROR_PATH_NOT_FOUND;
    }
    case RootKind::VolumeGuid: {
      std::u16string wanted = u"Volume" + name.volume_guid;
      for (auto& v : storage::MountedVolumes()) {
        if (v.guid_path.size() >= 4 + wanted.size() &&
            EqualNoCase(std::u16string_view(v.guid_path).substr(4, wanted.size()), wanted)) {
          *key = to_utf8(v.guid_path);
          return ERROR_SUCCESS;
        }
      }
      return ERROR_PATH_NOT_FOUND;
    }
    case RootKind::HarddiskVolume: {
      std::u16string wanted = u"\\Device\\HarddiskVolume" + number_text(name.number);
      for (auto& v : storage::MountedVolumes()) {
        if (EqualNoCase(v.device_name, wanted)) {
          *key = to_utf8(v.guid_path);
          return ERROR_SUCCESS;
        }
      }
      return ERROR_PATH_NOT_FOUND;
    }
    case RootKind::ShadowCopy: {
      if (!state().shadows.count(name.number)) return ERROR_PATH_NOT_FOUND;
      *key = kShadowPrefix + std::to_string(name.number);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_PATH_NOT_FOUND;
}

bool has_prefix(const VolumePath& path, const VolumePath& prefix) {
  if (prefix.size() > path.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (!EqualNoCase(path[i], prefix[i])) return false;
  return true;
}

// The machine's volume lock, opened for the current machine folder. False
// when the folder takes no coordination.
bool open_share(const machine::Machine& machine) {
  auto& st = state();
  if (!st.share || st.share->folder() != machine.folder()) {
    st.share.reset();
    st.share = VolumeShareLock::open(machine.folder());
  }
  return st.share != nullptr;
}

// Makes a table volume part of the file call under way: claims it against
// locks of other processes, takes the machine's volume lock (once per call)
// and drops the driver when another process changed the volume since this one
// last looked. ERROR_ACCESS_DENIED while another process holds it locked.
DWORD join_call(const std::string& key, Slot& slot, const storage::MountedVolume& v) {
  auto& st = state();
  if (slot.in_call) return ERROR_SUCCESS;
  auto machine = machine::CurrentIfOpen();
  if (!machine || v.disk_number < 0) return ERROR_SUCCESS;
  if (!slot.shared || slot.key_generation != v.generation || slot.key.offset != v.offset) {
    slot.shared = false;
    auto disk = machine->disk(v.disk_number);
    if (!disk || !storage::SharedVolumeKeyOfDisk(*disk, v.offset, &slot.key)) return ERROR_SUCCESS;
    slot.shared = true;
    slot.key_generation = v.generation;
  }
  if (DWORD e = storage::VolumeClaim::Take(slot.key, storage::VolumeUse::Presence(), &slot.call_claim)) return e;
  if (!open_share(*machine) || !st.share->lock()) {
    slot.call_claim.release();
    return ERROR_SUCCESS;
  }
  slot.in_call = true;
  st.call_volumes.push_back(key);
  uint64_t now = st.share->generation(slot.key);
  if (slot.driver && now != slot.seen) drop_stale_slot(slot);
  slot.seen = now;
  return ERROR_SUCCESS;
}

// A raw write landed on, or a lock was taken of, [offset, offset + length) of
// `disk`: every volume there counts a change, so the other processes drop
// their view of it.
void count_raw_change(int disk, uint64_t offset, uint64_t length) {
  auto machine = machine::CurrentIfOpen();
  auto d = machine ? machine->disk(disk) : nullptr;
  if (!d) return;
  std::lock_guard g(FsLock());
  auto& st = state();
  std::vector<SharedVolumeKey> keys;
  for (auto& v : storage::MountedVolumes()) {
    if (v.disk_number != disk) continue;
    if (length != 0 && !(offset < v.offset + v.length && v.offset < offset + length)) continue;
    SharedVolumeKey key;
    if (storage::SharedVolumeKeyOfDisk(*d, v.offset, &key)) keys.push_back(key);
  }
  if (keys.empty() || !open_share(*machine)) return;
  // Inside a file call the lock is already held, and the call's end lets it go.
  const bool held = st.share->held();
  if (!held && !st.share->lock()) return;
  for (auto& key : keys) st.share->bump(key);
  if (!held) st.share->unlock();
}

// The end of a file call: every volume it joined writes back what its driver
// holds, changes are counted, and the machine's volume lock is let go.
void end_call() {
  auto& st = state();
  if (st.call_volumes.empty()) {
    // The last transfer pin went while no call held the lock.
    if (st.transfer_pins == 0 && st.share) st.share->unlock();
    return;
  }
  for (auto& key : st.call_volumes) {
    auto it = st.slots.find(key);
    if (it == st.slots.end() || !it->second.in_call) continue;
    Slot& slot = it->second;
    if (slot.driver) slot.driver->write_back();
    if (slot.guard && slot.guard->take_written()) slot.changed = true;
    if (slot.changed && st.share && st.share->held()) slot.seen = st.share->bump(slot.key);
    slot.changed = false;
    slot.in_call = false;
    slot.call_claim.release();
  }
  st.call_volumes.clear();
  if (st.share && st.transfer_pins == 0) st.share->unlock();
}

}  // namespace

void FsMutex::lock() {
  mutex_.lock();
  ++depth_;
}

bool FsMutex::try_lock() {
  if (!mutex_.try_lock()) return false;
  ++depth_;
  return true;
}

void FsMutex::unlock() {
  if (depth_ == 1 && !ending_) {
    ending_ = true;
    end_call();
    ending_ = false;
  }
  --depth_;
  mutex_.unlock();
}

FsMutex& FsLock() {
  static FsMutex* m = new FsMutex;
  return *m;
}

TransferPin::TransferPin() {
  std::lock_guard g(FsLock());
  auto& st = state();
  if (!st.share || !st.share->held()) return;
  ++st.transfer_pins;
  pinned_ = true;
}

void TransferPin::release() {
  if (!pinned_) return;
  std::lock_guard g(FsLock());
  pinned_ = false;
  --state().transfer_pins;
  // The end of this call lets the machine's lock go when nothing holds it.
}

void RegisterFileSystem(const std::string& name, DriverFactory factory) {
  std::lock_guard g(FsLock());
  state().factories[name] = std::move(factory);
}

DWORD Locate(const ParsedName& name, Location* out) {
  std::lock_guard g(FsLock());
  if (name.kind != NameKind::File) return ERROR_INVALID_NAME;
  std::string key;
  DWORD e = root_volume(name, &key);
  if (e) return e;
  out->volume = key;
  out->path = name.components;
  out->full_path = FullPathText(name);
  out->volume_root_of_name = name.components.empty();
  // A folder inside this volume may be served by something else: a host
  // mount or another volume mounted on a folder. The longest match wins.
  size_t best = 0;
  std::string best_key;
  auto consider = [&](const std::u16string& where, const std::string& target) {
    ParsedName at;
    if (ParseName(where, u"", &at) || at.kind != NameKind::File || at.components.empty()) return;
    std::string at_key;
    if (root_volume(at, &at_key) || at_key != key) return;
    if (has_prefix(name.components, at.components) && at.components.size() > best) {
      best = at.components.size();
      best_key = target;
    }
  };
  if (auto machine = machine::CurrentIfOpen()) {
    for (auto& m : machine->mounts())
      if (!m.is_whole_drive()) consider(to_utf16(m.path), kHostPrefix + m.name);
  }
  for (auto& [folder, guid] : storage::FolderMountPoints()) consider(folder, to_utf8(guid));
  if (best) {
    out->volume = best_key;
    out->path.erase(out->path.begin(), out->path.begin() + static_cast<std::ptrdiff_t>(best));
  }
  return ERROR_SUCCESS;
}

std::vector<std::u16string> MountedChildren(const Location& folder) {
  std::lock_guard g(FsLock());
  std::vector<std::u16string> names;
  auto consider = [&](const std::u16string& where) {
    ParsedName at;
    if (ParseName(where, u"", &at) || at.kind != NameKind::File || at.components.size() != folder.path.size() + 1)
      return;
    std::string key;
    if (root_volume(at, &key) || key != folder.volume) return;
    VolumePath parent(at.components.begin(), at.components.end() - 1);
    if (has_prefix(folder.path, parent)) names.push_back(at.components.back());
  };
  if (auto machine = machine::CurrentIfOpen()) {
    for (auto& m : machine->mounts())
      if (!m.is_whole_drive()) consider(to_utf16(m.path));
  }
  for (auto& [where, guid] : storage::FolderMountPoints()) consider(where);
  return names;
}

std::shared_ptr<VolumeDriver> DriverFor(const std::string& volume, DWORD* error, uint64_t* instance) {
  std::lock_guard g(FsLock());
  auto& st = state();
  *error = ERROR_SUCCESS;
  Slot& slot = st.slots[volume];
  std::unique_ptr<VolumeDriver> fresh;
  if (starts_with(volume, kHostPrefix)) {
    if (!slot.driver) {
      auto machine = machine::CurrentIfOpen();
      std::string name = volume.substr(sizeof kHostPrefix - 1);
      bool found = false;
      if (machine) {
        for (auto& m : machine->mounts()) {
          if (m.name != name) continue;
          found = true;
          fresh = hostfs::Mount(machine->resolve(m.host), m.read_only, error);
        }
      }
      if (!found) *error = ERROR_PATH_NOT_FOUND;
    }
  } else if (starts_with(volume, kShadowPrefix)) {
    if (!slot.driver) {
      auto it = st.shadows.find(std::atoi(volume.c_str() + sizeof kShadowPrefix - 1));
      if (it == st.shadows.end()) {
        *error = ERROR_PATH_NOT_FOUND;
      } else if (it->second.file_system == "NTFS") {
        fresh = ntfs::Mount(it->second.device, true, error);
      } else if (st.factories.count(it->second.file_system)) {
        fresh = st.factories[it->second.file_system](it->second.device, error);
      } else {
        *error = ERROR_UNRECOGNIZED_VOLUME;
      }
    }
  } else {
    storage::MountedVolume v;
    if (!find_table_volume(volume, &v)) {
      release_slot(slot);
      *error = ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    if (slot.driver && (slot.generation != v.generation || slot.offset != v.offset || slot.length != v.length ||
                        slot.file_system != v.file_system))
      release_slot(slot);
    // Locked by another process: refused before anything of the old view is
    // written (the locker writes the volume meanwhile).
    if (DWORD e = join_call(volume, slot, v)) {
      *error = e;
      return nullptr;
    }
    // The call's claim was taken under the slot's key just now.
    if (v.disk_number >= 0 &&
        storage::IsVolumeLocked(v.disk_number, v.offset, slot.in_call && slot.shared ? &slot.key : nullptr)) {
      // A locked volume belongs to its locker's raw handle alone.
      release_slot(slot);
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    if (!slot.driver) {
      auto guard = v.device ? std::make_shared<GuardedDevice>(v.device) : nullptr;
      if (!v.device) {
        *error = ERROR_NOT_READY;
      } else if (v.file_system == "NTFS") {
        fresh = ntfs::Mount(guard, false, error);
      } else if (st.factories.count(v.file_system)) {
        fresh = st.factories[v.file_system](guard, error);
      } else {
        *error = ERROR_UNRECOGNIZED_VOLUME;
      }
      if (fresh) slot.guard = guard;
      slot.generation = v.generation;
      slot.offset = v.offset;
      slot.length = v.length;
      slot.file_system = v.file_system;
    }
  }
  if (!slot.driver) {
    if (!fresh) {
      if (!*error) *error = ERROR_UNRECOGNIZED_VOLUME;
      return nullptr;
    }
    slot.driver = std::shared_ptr<VolumeDriver>(std::move(fresh));
    slot.instance = st.next_instance++;
    slot.users.clear();
  }
  if (instance) *instance = slot.instance;
  return slot.driver;
}

DWORD JoinVolumeCall(const std::string& volume) {
  std::lock_guard g(FsLock());
  storage::MountedVolume v;
  if (starts_with(volume, kHostPrefix) || starts_with(volume, kShadowPrefix) || !find_table_volume(volume, &v))
    return ERROR_SUCCESS;
  return join_call(volume, state().slots[volume], v);
}

storage::VolumeClaim HoldVolume(const std::string& volume) {
  std::lock_guard g(FsLock());
  storage::VolumeClaim claim;
  auto it = state().slots.find(volume);
  if (it != state().slots.end() && it->second.shared)
    storage::VolumeClaim::Take(it->second.key, storage::VolumeUse::Presence(), &claim);
  return claim;
}

void AddDriverUser(const std::string& volume, std::weak_ptr<DriverUser> user) {
  std::lock_guard g(FsLock());
  auto& users = state().slots[volume].users;
  // Drop the dead ones now and then so the list stays short.
  if (users.size() > 64)
    std::erase_if(users, [](const std::weak_ptr<DriverUser>& w) { return w.expired(); });
  users.push_back(std::move(user));
}

void ReleaseDrivers(int disk, uint64_t offset, uint64_t length) {
  std::lock_guard g(FsLock());
  auto& st = state();
  for (auto& v : storage::MountedVolumes()) {
    if (v.disk_number != disk) continue;
    bool overlaps = length == 0 || (offset < v.offset + v.length && v.offset < offset + length);
    if (!overlaps) continue;
    auto it = st.slots.find(to_utf8(v.guid_path));
    if (it != st.slots.end()) release_slot(it->second);
  }
  // A volume that vanished from the table since it was mounted: match what it was mounted on.
  for (auto& [key, slot] : st.slots) {
    if (!slot.driver || starts_with(key, kHostPrefix) || starts_with(key, kShadowPrefix)) continue;
    storage::MountedVolume v;
    if (!find_table_volume(key, &v)) release_slot(slot);
  }
}

void ReleaseDriver(const std::string& volume) {
  std::lock_guard g(FsLock());
  auto it = state().slots.find(volume);
  if (it != state().slots.end()) release_slot(it->second);
}

void ReleaseAllDrivers() {
  std::lock_guard g(FsLock());
  for (auto& [key, slot] : state().slots) release_slot(slot);
}

DWORD ExtentOf(const std::string& volume, VolumeExtent* out) {
  std::lock_guard g(FsLock());
  storage::MountedVolume v;
  if (!find_table_volume(volume, &v)) return ERROR_PATH_NOT_FOUND;
  out->disk = v.disk_number;
  out->offset = v.offset;
  out->length = v.length;
  out->file_system = v.file_system;
  out->device = v.device;
  return ERROR_SUCCESS;
}

int AddShadowVolume(std::shared_ptr<BlockDevice> device, const std::string& file_system, const std::string& source) {
  std::lock_guard g(FsLock());
  auto& st = state();
  int n = st.next_shadow++;
  st.shadows[n] = Shadow{std::move(device), file_system, source};
  return n;
}

bool RemoveShadowVolume(int number) {
  std::lock_guard g(FsLock());
  auto& st = state();
  if (!st.shadows.count(number)) return false;
  std::string key = kShadowPrefix + std::to_string(number);
  auto it = st.slots.find(key);
  if (it != st.slots.end()) {
    release_slot(it->second);
    st.slots.erase(it);
  }
  st.shadows.erase(number);
  return true;
}

}  // namespace platform::fs
