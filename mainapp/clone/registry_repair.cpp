#include "mainapp/clone/registry_repair.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/system_exit.h"
#include "platform/core/kobject.h"
#include "platform/registry/registry.h"
#include "platform/storage/ioctl.h"

namespace {

constexpr const char16_t* kOfflineSystem = u"NewSystem1";
constexpr const char16_t* kOfflineSoftware = u"NewSoft1";
constexpr const char16_t* kProfileList = u"\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr DWORD kNameChars = 260;

}  // namespace

void MakeGptMountedDevice(const GUID& partitionId, BYTE record[kGptMountedDeviceBytes]) {
  std::memcpy(record, "DMIO:ID:", 8);
  std::memcpy(record + 8, &partitionId, 16);
}

bool FindGptPartitionId(int32_t physicalDisk, uint64_t startBytes, GUID* partitionId) {
  if (physicalDisk < 0) return false;
  HANDLE disk = OpenDiskHandle(physicalDisk);
  if (!disk || disk == INVALID_HANDLE_VALUE) return false;
  std::vector<BYTE> buffer(kLayoutBufferSize);
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &returned, nullptr);
  CloseDeviceHandle(disk);
  if (!ok || returned < offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) return false;
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

bool FixMountedDevices(int32_t destinationListed) {
  const int32_t index = CloneRunState.systemEntryIndex;
  if (index < 0 || index >= kMaxLayoutEntries || CloneRunState.systemDestinationCopy.GetLength() < 2) return false;
  GUID partitionId{};
  if (!FindGptPartitionId(ListedPhysicalDisk(destinationListed), DiskContext.layoutTable[index].newStartBytes,
                          &partitionId))
    return false;

  EnableTokenPrivilege(u"SeBackupPrivilege");
  EnableTokenPrivilege(u"SeRestorePrivilege");
  const CString hive = CloneRunState.systemDestinationCopy + u"\\Windows\\System32\\Config\\SYSTEM";
  if (RegLoadKeyW(HKEY_USERS, kOfflineSystem, hive) != ERROR_SUCCESS) return false;
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

int FixProfileImagePaths() {
  if (CloneRunState.systemDestinationCopy.GetLength() < 2) return 0;
  EnableTokenPrivilege(u"SeBackupPrivilege");
  EnableTokenPrivilege(u"SeRestorePrivilege");
  const CString hive = CloneRunState.systemDestinationCopy + u"\\Windows\\System32\\Config\\SOFTWARE";
  if (RegLoadKeyW(HKEY_USERS, kOfflineSoftware, hive) != ERROR_SUCCESS) return 0;
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
