// Opening devices, the sharing and lock tables, and the seams of device.h.
#include <map>
#include <mutex>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/device_handle.h"
#include "platform/storage/device_path.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"
#include "platform/storage/volume_claims.h"

namespace platform::storage {
namespace {

struct OpenRecord {
  const DeviceHandle* handle;
  DWORD access;
  DWORD share;
};

struct Tables {
  std::mutex mutex;
  std::map<std::string, std::vector<OpenRecord>> opens;
  std::map<std::string, const DeviceHandle*> locks;
  DiskLookup lookup;
  RescanHook rescan;
  VolumeControlHandler volume_control;
};

Tables& tables() {
  static Tables t;
  return t;
}

bool WantsRead(DWORD access) { return access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA); }
bool WantsWrite(DWORD access) { return access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA); }

std::string DiskKey(int disk) { return "disk:" + std::to_string(disk); }

DeviceOpenResult Refuse(HANDLE* out, DWORD error) {
  if (out) *out = INVALID_HANDLE_VALUE;
  SetLastError(error);
  return DeviceOpenResult::Failed;
}

// Finds a volume in the mount manager's table.
template <class Match>
bool FindVolume(Match match, MountedVolume* volume) {
  for (auto& v : MountedVolumes())
    if (match(v)) {
      *volume = v;
      return true;
    }
  return false;
}

}  // namespace

void SetDiskLookup(DiskLookup lookup) {
  std::lock_guard guard(tables().mutex);
  tables().lookup = std::move(lookup);
}

// GetVersionEx's platform code of Windows 95, 98 and Me.
constexpr DWORD kWindows95Family = 1;

std::shared_ptr<machine::Disk> LookupDisk(int number) {
  DiskLookup lookup;
  {
    std::lock_guard guard(tables().mutex);
    lookup = tables().lookup;
  }
  if (lookup) return lookup(number);
  auto current = machine::Current();
  return current ? current->disk(number) : nullptr;
}

void SetRescanHook(RescanHook hook) {
  std::lock_guard guard(tables().mutex);
  tables().rescan = std::move(hook);
}

void RequestRescan(int disk_number) {
  RescanHook hook;
  {
    std::lock_guard guard(tables().mutex);
    hook = tables().rescan;
  }
  if (hook) hook(disk_number);
}

void SetVolumeControlHandler(VolumeControlHandler handler) {
  std::lock_guard guard(tables().mutex);
  tables().volume_control = std::move(handler);
}

std::optional<BOOL> CallVolumeControlHandler(const MountedVolume& volume, DWORD code, const void* in, DWORD in_size,
                                             void* out, DWORD out_size, DWORD* returned) {
  VolumeControlHandler handler;
  {
    std::lock_guard guard(tables().mutex);
    handler = tables().volume_control;
  }
  if (!handler) return std::nullopt;
  return handler(volume, code, in, in_size, out, out_size, returned);
}

std::string VolumeKey(int disk_number, uint64_t offset, const std::u16string& guid_path) {
  if (disk_number >= 0) return "volume:" + std::to_string(disk_number) + ":" + std::to_string(offset);
  std::string key = "volume:";
  for (char16_t c : guid_path) key += static_cast<char>(c < 0x80 ? c : '?');
  return key;
}

bool IsVolumeLocked(int disk_number, uint64_t offset, const SharedVolumeKey* known) {
  {
    std::lock_guard guard(tables().mutex);
    if (tables().locks.count(VolumeKey(disk_number, offset, u""))) return true;
  }
  if (known) return IsVolumeLockedElsewhere(*known);
  // Asked on every file call: never opens a machine (as LookupDisk would the
  // demo PC) just to find nobody has one.
  DiskLookup lookup;
  {
    std::lock_guard guard(tables().mutex);
    lookup = tables().lookup;
  }
  auto current = machine::CurrentIfOpen();
  auto disk = lookup ? lookup(disk_number) : current ? current->disk(disk_number) : nullptr;
  SharedVolumeKey key;
  return disk && SharedVolumeKeyOfDisk(*disk, offset, &key) && IsVolumeLockedElsewhere(key);
}

DWORD RegisterOpen(const std::string& key, const DeviceHandle* handle, DWORD access, DWORD share) {
  std::lock_guard guard(tables().mutex);
  if (auto lock = tables().locks.find(key); lock != tables().locks.end() && lock->second != handle)
    return ERROR_ACCESS_DENIED;
  auto& list = tables().opens[key];
  // Opens without data access take no part in sharing, either way.
  const bool data = WantsRead(access) || WantsWrite(access);
  for (const auto& other : list) {
    if (!data || !(WantsRead(other.access) || WantsWrite(other.access))) continue;
    // Each side's sharing must allow what the other side does.
    if ((WantsRead(access) && !(other.share & FILE_SHARE_READ)) || (WantsWrite(access) && !(other.share & FILE_SHARE_WRITE)) ||
        (WantsRead(other.access) && !(share & FILE_SHARE_READ)) || (WantsWrite(other.access) && !(share & FILE_SHARE_WRITE)))
      return ERROR_SHARING_VIOLATION;
  }
  list.push_back({handle, access, share});
  return 0;
}

void UnregisterOpen(const std::string& key, const DeviceHandle* handle) {
  std::lock_guard guard(tables().mutex);
  auto it = tables().opens.find(key);
  if (it == tables().opens.end()) return;
  std::erase_if(it->second, [&](const OpenRecord& r) { return r.handle == handle; });
  if (it->second.empty()) tables().opens.erase(it);
}

DWORD LockVolumeKey(const std::string& key, const DeviceHandle* handle) {
  std::lock_guard guard(tables().mutex);
  auto& locks = tables().locks;
  if (auto it = locks.find(key); it != locks.end()) return it->second == handle ? 0 : ERROR_ACCESS_DENIED;
  // A lock is exclusive: no other handle may have the volume open for data access.
  for (const auto& other : tables().opens[key])
    if (other.handle != handle && (WantsRead(other.access) || WantsWrite(other.access))) return ERROR_ACCESS_DENIED;
  locks[key] = handle;
  return 0;
}

DWORD UnlockVolumeKey(const std::string& key, const DeviceHandle* handle) {
  std::lock_guard guard(tables().mutex);
  auto it = tables().locks.find(key);
  if (it == tables().locks.end() || it->second != handle) return ERROR_NOT_LOCKED;
  tables().locks.erase(it);
  return 0;
}

bool IsDevicePath(std::u16string_view path) { return ParseDevicePath(path).kind != DevicePath::Kind::NotADevice; }

DeviceOpenResult OpenDevice(std::u16string_view path, DWORD access, DWORD share, DWORD creation, DWORD flags, HANDLE* out) {
  DevicePath parsed = ParseDevicePath(path);
  if (parsed.kind == DevicePath::Kind::NotADevice) return DeviceOpenResult::NotADevice;
  if (!out) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return DeviceOpenResult::Failed;
  }
  *out = INVALID_HANDLE_VALUE;
  if (creation != OPEN_EXISTING && creation != OPEN_ALWAYS) return Refuse(out, ERROR_INVALID_PARAMETER);

  DeviceTarget target;
  switch (parsed.kind) {
    case DevicePath::Kind::NotADevice:
    case DevicePath::Kind::Unknown:
      return Refuse(out, ERROR_FILE_NOT_FOUND);
    case DevicePath::Kind::SmartVsd: {
      // The driver exists on 95-family systems only.
      auto current = machine::Current();
      if (!current || current->os().platform_id != kWindows95Family) return Refuse(out, ERROR_FILE_NOT_FOUND);
      target.smart_vsd = true;
      target.share_key = "SMARTVSD";
      break;
    }
    case DevicePath::Kind::PhysicalDrive:
    case DevicePath::Kind::Partition: {
      target.disk = LookupDisk(parsed.disk);
      if (!target.disk) return Refuse(out, ERROR_FILE_NOT_FOUND);
      target.disk_number = parsed.disk;
      target.length = target.disk->size();
      target.share_key = DiskKey(parsed.disk);
      if (parsed.kind == DevicePath::Kind::Partition && parsed.partition > 0) {
        DiskLayout layout;
        if (!ReadDiskLayout(*target.disk->device(), &layout).ok()) return Refuse(out, ERROR_FILE_NOT_FOUND);
        bool found = false;
        for (const auto& e : layout.partitions())
          if (e.number == static_cast<uint32_t>(parsed.partition)) {
            found = true;
            target.is_volume = true;
            target.partition_number = e.number;
            target.base = e.start;
            target.length = std::min<uint64_t>(e.length, e.start < target.disk->size() ? target.disk->size() - e.start : 0);
          }
        if (!found) return Refuse(out, ERROR_FILE_NOT_FOUND);
        MountedVolume volume;
        if (FindVolume([&](const MountedVolume& v) { return v.disk_number == parsed.disk && v.offset == target.base; }, &volume))
          target.volume = volume;
        target.volume.disk_number = parsed.disk;
        target.volume.partition_number = static_cast<int>(target.partition_number);
        target.volume.offset = target.base;
        target.volume.length = target.length;
        target.share_key = VolumeKey(parsed.disk, target.base, u"");
      }
      break;
    }
    case DevicePath::Kind::Letter:
    case DevicePath::Kind::VolumeGuid:
    case DevicePath::Kind::VolumeDevice: {
      MountedVolume volume;
      bool found = FindVolume(
          [&](const MountedVolume& v) {
            if (parsed.kind == DevicePath::Kind::Letter) return v.letter == parsed.letter;
            if (parsed.kind == DevicePath::Kind::VolumeDevice) return EqualsIgnoringCase(v.device_name, parsed.volume_name);
            std::u16string_view name = v.guid_path;
            if (!name.empty() && name.back() != u'\\') return EqualsIgnoringCase(std::u16string(name) + u"\\", parsed.volume_name);
            return EqualsIgnoringCase(name, parsed.volume_name);
          },
          &volume);
      if (!found) return Refuse(out, ERROR_FILE_NOT_FOUND);
      target.is_volume = true;
      target.volume = volume;
      target.disk_number = volume.disk_number;
      target.partition_number = volume.partition_number > 0 ? static_cast<uint32_t>(volume.partition_number) : 0;
      target.base = volume.offset;
      target.length = volume.length;
      if (volume.disk_number >= 0) {
        target.disk = LookupDisk(volume.disk_number);
        if (!target.disk) return Refuse(out, ERROR_FILE_NOT_FOUND);
        // Never beyond the disk, whatever the table says.
        uint64_t size = target.disk->size();
        target.base = std::min(target.base, size);
        target.length = std::min(target.length, size - target.base);
      }
      target.share_key = VolumeKey(volume.disk_number, volume.offset, volume.guid_path);
      break;
    }
  }
  if (target.disk && target.disk->config().faults.open_fails) return Refuse(out, ERROR_NOT_READY);

  auto handle = std::make_shared<DeviceHandle>(std::move(target), access, share, flags);
  if (DWORD error = RegisterOpen(handle->target().share_key, handle.get(), access, share)) return Refuse(out, error);
  // A volume handle that moves data also counts for the machine's other processes.
  const DeviceTarget& t = handle->target();
  SharedVolumeKey key;
  if (t.is_volume && t.disk && (WantsRead(access) || WantsWrite(access)) && SharedVolumeKeyOfDisk(*t.disk, t.base, &key)) {
    VolumeUse use{WantsRead(access), WantsWrite(access), (share & FILE_SHARE_READ) != 0, (share & FILE_SHARE_WRITE) != 0};
    VolumeClaim claim;
    if (DWORD error = VolumeClaim::Take(key, use, &claim)) {
      UnregisterOpen(t.share_key, handle.get());
      return Refuse(out, error);
    }
    handle->set_claim(std::move(claim));
  }
  *out = OpenHandle(handle);
  return DeviceOpenResult::Opened;
}

}  // namespace platform::storage
