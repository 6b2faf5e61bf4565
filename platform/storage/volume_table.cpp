#include "platform/storage/volume_table.h"

#include <map>
#include <mutex>

namespace platform::storage {

namespace {

struct State {
  std::mutex lock;
  std::vector<MountedVolume> volumes;
  std::map<int, RawAccessListener> listeners;
  int next_listener = 1;
};

State& state() {
  static State* s = new State;
  return *s;
}

}  // namespace

std::vector<MountedVolume> MountedVolumes() {
  auto& s = state();
  std::lock_guard guard(s.lock);
  return s.volumes;
}

void SetMountedVolumes(std::vector<MountedVolume> volumes) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  s.volumes = std::move(volumes);
}

int AddRawAccessListener(RawAccessListener listener) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  int id = s.next_listener++;
  s.listeners.emplace(id, std::move(listener));
  return id;
}

void RemoveRawAccessListener(int id) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  s.listeners.erase(id);
}

void NotifyRawAccess(int disk_number, uint64_t offset, uint64_t length, RawAccess kind) {
  std::vector<RawAccessListener> listeners;
  {
    auto& s = state();
    std::lock_guard guard(s.lock);
    for (auto& [id, l] : s.listeners) listeners.push_back(l);
  }
  // Called outside the lock: a listener may read the table or flush through a device.
  for (auto& l : listeners) l(disk_number, offset, length, kind);
}

}  // namespace platform::storage

// Linking the table links the mount manager that fills it.
namespace platform::storage {
void InstallMountManager();
}
namespace {
[[maybe_unused]] const bool mount_manager_installed = (platform::storage::InstallMountManager(), true);
}
