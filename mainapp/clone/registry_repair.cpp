#include "mainapp/clone/registry_repair.h"

#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/clone/clone_run_state.h"
#include "mainapp/clone/disk_selection.h"
#include "mainapp/shell/system_exit.h"
#include "platform/core/kobject.h"
#include "platform/registry/registry.h"
#include "platform/storage/ioctl.h"

namespace {

constexpr const char16_t* kOfflineSystem = u"NewSystem1";

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
