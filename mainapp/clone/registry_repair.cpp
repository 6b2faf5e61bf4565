#include "mainapp/clone/registry_repair.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/volume_space.h"
#include "mainapp/clone/boot_code.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/system_exit.h"
#include "platform/core/kobject.h"
#include "platform/core/little_endian.h"
#include "platform/fs/file_api.h"
#include "platform/process/bcd_store.h"
#include "platform/registry/registry.h"
#include "platform/storage/ioctl.h"

namespace {

constexpr const char16_t* kOfflineSystem = u"NewSystem1";
constexpr const char16_t* kOfflineSoftware = u"NewSoft1";
constexpr const char16_t* kProfileList = u"\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr DWORD kNameChars = 260;
constexpr const char16_t* kOfflineStore = u"NewBcd1";
constexpr DWORD kMaxStoreObjects = 4096;  // walks over a store's keys are capped

// Loads a hive file of the copy under HKEY_USERS\`name`, with the backup and
// restore privileges the load needs; true when loaded.
bool LoadOfflineHive(const char16_t* name, const CString& file) {
  EnableTokenPrivilege(u"SeBackupPrivilege");
  EnableTokenPrivilege(u"SeRestorePrivilege");
  return RegLoadKeyW(HKEY_USERS, name, file) == ERROR_SUCCESS;
}

}  // namespace

void MakeGptMountedDevice(const GUID& partitionId, BYTE record[kGptMountedDeviceBytes]) {
  std::memcpy(record, "DMIO:ID:", 8);
  std::memcpy(record + 8, &partitionId, 16);
}

namespace {

// The drive layout of a physical disk into `buffer`; the bytes returned, 0
// when the disk cannot be opened or answers with less than a layout's head.
DWORD ReadDriveLayout(int32_t physicalDisk, std::vector<BYTE>& buffer) {
  if (physicalDisk < 0) return 0;
  HANDLE disk = OpenDiskHandle(physicalDisk);
  if (!disk || disk == INVALID_HANDLE_VALUE) return 0;
  buffer.assign(kLayoutBufferSize, 0);
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &returned, nullptr);
  CloseDeviceHandle(disk);
  return ok && returned >= offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) ? returned : 0;
}

}  // namespace

bool FindGptPartitionId(int32_t physicalDisk, uint64_t startBytes, GUID* partitionId) {
  std::vector<BYTE> buffer;
  const DWORD returned = ReadDriveLayout(physicalDisk, buffer);
  if (returned == 0) return false;
  const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  if (layout->PartitionStyle != PARTITION_STYLE_GPT) return false;
  const size_t fit =
      (returned - offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) / sizeof(PARTITION_INFORMATION_EX);
  for (size_t i = 0; i < layout->PartitionCount && i < fit; ++i) {
    const PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[i];
    if (entry.PartitionLength.QuadPart > 0 && static_cast<uint64_t>(entry.StartingOffset.QuadPart) == startBytes) {
      *partitionId = entry.Gpt.PartitionId;
      return true;
    }
  }
  return false;
}

bool FixMountedDevices(ListedDiskIndex destinationListed) {
  const int32_t index = CloneRunState.systemEntryIndex;
  if (index < 0 || index >= kMaxLayoutEntries || CloneRunState.systemDestinationCopy.GetLength() < 2) return false;
  GUID partitionId{};
  if (!FindGptPartitionId(ListedPhysicalDisk(destinationListed).value, DiskContext.layoutTable[index].newStartBytes,
                          &partitionId))
    return false;

  const CString hive = CloneRunState.systemDestinationCopy + u"\\Windows\\System32\\Config\\SYSTEM";
  if (!LoadOfflineHive(kOfflineSystem, hive)) return false;
  bool written = false;
  HKEY key = nullptr;
  const CString path = CString(kOfflineSystem) + u"\\MountedDevices";
  if (RegOpenKeyExW(HKEY_USERS, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    BYTE record[kGptMountedDeviceBytes];
    MakeGptMountedDevice(partitionId, record);
    written = RegSetValueExW(key, u"\\DosDevices\\C:", 0, REG_BINARY, record, kGptMountedDeviceBytes) ==
              ERROR_SUCCESS;
    RegDeleteValueW(key, u"\\DosDevices\\D:");
    RegDeleteValueW(key, u"\\DosDevices\\E:");
    RegFlushKey(key);
    RegCloseKey(key);
  }
  RegUnLoadKeyW(HKEY_USERS, kOfflineSystem);
  return written;
}

namespace {

// The MountedDevices record that names `place`.
std::vector<BYTE> MountedRecord(const PartitionPlace& place) {
  if (place.gpt) {
    std::vector<BYTE> record(kGptMountedDeviceBytes);
    MakeGptMountedDevice(place.partition, record.data());
    return record;
  }
  std::vector<BYTE> record(kMbrMountedDeviceBytes);
  platform::WriteLe32(record.data(), place.signature);
  platform::WriteLe64(record.data() + 4, place.offset);
  return record;
}

// Whether a boot store's device names the partition at `place`.
bool NamesPlace(const platform::process::BcdDevice& device, const PartitionPlace& place) {
  using Kind = platform::process::BcdDevice::Kind;
  if (place.gpt)
    return device.kind == Kind::GptPartition && std::memcmp(&device.partition_guid, &place.partition, sizeof(GUID)) == 0;
  return device.kind == Kind::MbrPartition && device.disk_signature == place.signature && device.offset == place.offset;
}

std::vector<uint8_t> BootStoreDevice(const PartitionPlace& place) {
  return place.gpt ? platform::process::BcdGptPartitionDevice(place.disk, place.partition)
                   : platform::process::BcdMbrPartitionDevice(place.signature, place.offset);
}

// The partitions a whole-disk clone copied: each layout entry with a planned
// place, at its source offset and its planned one.
std::vector<std::pair<uint64_t, uint64_t>> CopiedOffsets() {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  for (int32_t k = 0; k < DiskContext.layoutRealCount && k < kMaxLayoutEntries; ++k) {
    const LayoutEntry& e = DiskContext.layoutTable[k];
    if (e.newLengthBytes == 0 || e.lengthBytes == 0 || e.nesting == -1) continue;
    out.emplace_back(e.startBytes, e.newStartBytes);
  }
  return out;
}

}  // namespace

int MoveMountedDevices(const CString& hiveFile, const std::vector<MountedDeviceMove>& moves) {
  if (hiveFile.IsEmpty()) return -1;
  if (!LoadOfflineHive(kOfflineSystem, hiveFile)) return -1;
  int changed = -1;
  HKEY key = nullptr;
  const CString path = CString(kOfflineSystem) + u"\\MountedDevices";
  if (RegOpenKeyExW(HKEY_USERS, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    changed = 0;
    // First the names to change, then the changes: the enumeration is not
    // disturbed by the values it walks.
    std::vector<std::pair<CString, std::vector<BYTE>>> rewrites;
    for (DWORD index = 0;; ++index) {
      WCHAR name[kNameChars] = {};
      DWORD nameChars = kNameChars;
      BYTE data[64] = {};
      DWORD bytes = sizeof data;
      DWORD type = 0;
      const LSTATUS status = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data, &bytes);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS || type != REG_BINARY) continue;
      for (const MountedDeviceMove& move : moves) {
        if (MountedRecord(move.from) != std::vector<BYTE>(data, data + bytes)) continue;
        rewrites.emplace_back(CString(name), MountedRecord(move.to));
        break;
      }
    }
    for (const auto& [name, record] : rewrites)
      if (RegSetValueExW(key, name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size())) == ERROR_SUCCESS)
        ++changed;
    RegFlushKey(key);
    RegCloseKey(key);
  }
  RegUnLoadKeyW(HKEY_USERS, kOfflineSystem);
  return changed;
}

int MoveBootStoreDevices(const CString& storeFile, const std::vector<MountedDeviceMove>& moves) {
  if (storeFile.IsEmpty() || GetFileAttributesW(storeFile) == INVALID_FILE_ATTRIBUTES) return -1;
  if (!LoadOfflineHive(kOfflineStore, storeFile)) return -1;
  int changed = 0;
  const CString objectsPath = CString(kOfflineStore) + u"\\Objects";
  HKEY objects = nullptr;
  if (RegOpenKeyExW(HKEY_USERS, objectsPath, 0, KEY_ALL_ACCESS, &objects) == ERROR_SUCCESS) {
    WCHAR object[kNameChars] = {};
    for (DWORD i = 0; i < kMaxStoreObjects && RegEnumKeyW(objects, i, object, kNameChars) == ERROR_SUCCESS; ++i) {
      const CString elementsPath = objectsPath + u"\\" + object + u"\\Elements";
      HKEY elements = nullptr;
      if (RegOpenKeyExW(HKEY_USERS, elementsPath, 0, KEY_ALL_ACCESS, &elements) != ERROR_SUCCESS) continue;
      WCHAR element[kNameChars] = {};
      for (DWORD j = 0; j < kMaxStoreObjects && RegEnumKeyW(elements, j, element, kNameChars) == ERROR_SUCCESS; ++j) {
        HKEY value = nullptr;
        if (RegOpenKeyExW(HKEY_USERS, elementsPath + u"\\" + element, 0, KEY_ALL_ACCESS, &value) != ERROR_SUCCESS)
          continue;
        BYTE data[platform::process::kBcdPartitionDeviceBytes] = {};
        DWORD bytes = sizeof data;
        DWORD type = 0;
        if (RegQueryValueExW(value, u"Element", nullptr, &type, data, &bytes) == ERROR_SUCCESS && type == REG_BINARY) {
          const platform::process::BcdDevice device = platform::process::DecodeBcdDevice(data, bytes);
          for (const MountedDeviceMove& move : moves) {
            if (!NamesPlace(device, move.from)) continue;
            const std::vector<uint8_t> moved = BootStoreDevice(move.to);
            if (RegSetValueExW(value, u"Element", 0, REG_BINARY, moved.data(), static_cast<DWORD>(moved.size())) ==
                ERROR_SUCCESS)
              ++changed;
            break;
          }
        }
        RegCloseKey(value);
      }
      RegCloseKey(elements);
    }
    RegFlushKey(objects);
    RegCloseKey(objects);
  }
  RegUnLoadKeyW(HKEY_USERS, kOfflineStore);
  return changed;
}

CString CopiedSystemHive(int32_t destinationPhysical) {
  const int32_t index = CloneRunState.systemEntryIndex;
  if (index < 0 || index >= kMaxLayoutEntries || CloneRunState.systemDestinationCopy.IsEmpty()) return CString();
  const CString volume = FindVolumeByExtent(destinationPhysical, DiskContext.layoutTable[index].newStartBytes);
  if (volume.IsEmpty()) return CString();
  return volume + u"\\Windows\\System32\\Config\\SYSTEM";
}

namespace {

// Applies `moves` to the copied system's MountedDevices and to every boot
// store (\Boot\BCD) on the copied partitions. The values changed; -1 when
// there is no copied system hive.
int MoveCopiedSystem(int32_t destinationPhysical, const std::vector<MountedDeviceMove>& moves) {
  for (const auto& offsets : CopiedOffsets()) {
    const CString volume = FindVolumeByExtent(destinationPhysical, offsets.second);
    if (!volume.IsEmpty()) MoveBootStoreDevices(volume + u"\\Boot\\BCD", moves);
  }
  return MoveMountedDevices(CopiedSystemHive(destinationPhysical), moves);
}

}  // namespace

int BindCopiedSystemToDestination(ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  const uint32_t source = ReadDiskSignature(sourceListed), destination = ReadDiskSignature(destinationListed);
  if (source == 0 || destination == 0) return -1;
  std::vector<MountedDeviceMove> moves;
  for (const auto& [from, to] : CopiedOffsets()) moves.push_back({{source, from}, {destination, to}});
  return MoveCopiedSystem(ListedPhysicalDisk(destinationListed).value, moves);
}

int FollowDestinationSignature(ListedDiskIndex destinationListed, uint32_t oldSignature) {
  const uint32_t signature = ReadDiskSignature(destinationListed);
  if (oldSignature == 0 || signature == 0 || signature == oldSignature) return 0;
  std::vector<MountedDeviceMove> moves;
  for (const auto& [from, to] : CopiedOffsets()) moves.push_back({{oldSignature, to}, {signature, to}});
  return MoveCopiedSystem(ListedPhysicalDisk(destinationListed).value, moves);
}

bool ReadVolumePlace(const CString& volume, PartitionPlace* place) {
  if (volume.IsEmpty()) return false;
  const CString device = volume.GetLength() == 2 ? CString(u"\\\\.\\") + volume : volume;
  HANDLE h = CreateFileW(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  alignas(8) BYTE extents[sizeof(VOLUME_DISK_EXTENTS)] = {};
  PARTITION_INFORMATION_EX info{};
  DWORD returned = 0, infoBytes = 0;
  const BOOL ok = DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents, sizeof extents,
                                  &returned, nullptr) &&
                  DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &infoBytes,
                                  nullptr);
  CloseHandle(h);
  if (!ok || returned < sizeof(VOLUME_DISK_EXTENTS) || infoBytes < sizeof info) return false;
  const auto* answer = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(extents);
  if (answer->NumberOfDiskExtents == 0) return false;
  const int32_t disk = static_cast<int32_t>(answer->Extents[0].DiskNumber);
  *place = PartitionPlace{};
  place->offset = static_cast<uint64_t>(answer->Extents[0].StartingOffset.QuadPart);
  // The disk's own name for itself: its signature or its GUID.
  std::vector<BYTE> buffer;
  if (ReadDriveLayout(disk, buffer) == 0) return false;
  const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  if (layout->PartitionStyle == PARTITION_STYLE_GPT) {
    if (info.PartitionStyle != PARTITION_STYLE_GPT) return false;
    place->gpt = true;
    place->disk = layout->Gpt.DiskId;
    place->partition = info.Gpt.PartitionId;
    return true;
  }
  if (layout->PartitionStyle != PARTITION_STYLE_MBR) return false;
  place->signature = layout->Mbr.Signature;
  return true;
}

namespace {

// Applies `moves` to the system and the boot store on the volume `volume`.
int MoveVolumeSystem(const CString& volume, const std::vector<MountedDeviceMove>& moves) {
  MoveBootStoreDevices(volume + u"\\Boot\\BCD", moves);
  const CString hive = volume + u"\\Windows\\System32\\Config\\SYSTEM";
  if (GetFileAttributesW(hive) == INVALID_FILE_ATTRIBUTES) return -1;
  return MoveMountedDevices(hive, moves);
}

}  // namespace

int BindCopiedVolume(const CString& sourceVolume, const CString& destinationVolume) {
  PartitionPlace from, to;
  if (!ReadVolumePlace(sourceVolume, &from) || !ReadVolumePlace(destinationVolume, &to)) return -1;
  return MoveVolumeSystem(destinationVolume, {{from, to}});
}

int FollowVolumeSignature(const CString& destinationVolume, const PartitionPlace& before, uint32_t newSignature) {
  if (before.gpt || newSignature == 0 || newSignature == before.signature) return 0;
  PartitionPlace after = before;
  after.signature = newSignature;
  return MoveVolumeSystem(destinationVolume, {{before, after}});
}

int FixProfileImagePaths() {
  if (CloneRunState.systemDestinationCopy.GetLength() < 2) return 0;
  const CString hive = CloneRunState.systemDestinationCopy + u"\\Windows\\System32\\Config\\SOFTWARE";
  if (!LoadOfflineHive(kOfflineSoftware, hive)) return 0;
  int changed = 0;
  const CString listPath = CString(kOfflineSoftware) + kProfileList;
  HKEY list = nullptr;
  if (RegOpenKeyExW(HKEY_USERS, listPath, 0, KEY_ALL_ACCESS, &list) == ERROR_SUCCESS) {
    WCHAR name[kNameChars] = {};
    for (DWORD index = 0; RegEnumKeyW(list, index, name, kNameChars) == ERROR_SUCCESS; ++index) {
      if (CString(name).Find(u"S-1-5") < 0) continue;
      HKEY profile = nullptr;
      if (RegOpenKeyExW(HKEY_USERS, listPath + u"\\" + name, 0, KEY_ALL_ACCESS, &profile) != ERROR_SUCCESS) continue;
      WCHAR path[kNameChars] = {};
      DWORD bytes = sizeof(path) - sizeof(WCHAR);  // room for a terminating zero
      DWORD type = 0;
      if (RegQueryValueExW(profile, u"ProfileImagePath", nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes) ==
              ERROR_SUCCESS &&
          (type == REG_SZ || type == REG_EXPAND_SZ)) {
        // The text up to its first zero (the value may or may not hold one).
        const CString text0(path);
        CString text = text0.Left(std::min<int>(text0.GetLength(), static_cast<int>(bytes / sizeof(WCHAR))));
        if (text.Find(u"C:") >= 0) {
          text.Replace(u"C:", u"%SystemDrive%");
          if (RegSetValueExW(profile, u"ProfileImagePath", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(text.GetString()),
                             static_cast<DWORD>(text.GetLength() * sizeof(WCHAR))) == ERROR_SUCCESS)
            ++changed;
        }
      }
      RegFlushKey(profile);
      RegCloseKey(profile);
    }
    RegFlushKey(list);
    RegCloseKey(list);
  }
  RegUnLoadKeyW(HKEY_USERS, kOfflineSoftware);
  return changed;
}
