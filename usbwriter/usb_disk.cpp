#include "usbwriter/usb_disk.h"

#include "disk/disk_access.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "usbwriter/iso/iso_reader.h"

HANDLE UsbDiskHandle = nullptr;

namespace {

constexpr int kWriteAttempts = 5;

HANDLE Open(int disk, DWORD access, DWORD share) {
  if (disk < 0 || disk > 9) return nullptr;
  char16_t path[] = u"\\\\.\\PhysicalDrive0";
  path[17] = static_cast<char16_t>(u'0' + disk);
  // Not write-through: a flush after every request would cost a device cache
  // flush per 16 KiB. The write sequence flushes once where it must
  // (FlushUsbDisk) instead.
  HANDLE handle = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

}  // namespace

HANDLE OpenUsbDisk(int disk) {
  UsbDiskHandle = Open(disk, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!UsbDiskHandle) MessageBoxW(nullptr, LookupString(u"IDS_Error"), LookupString(u"IDS_PRODNAME"), MB_OK);
  return UsbDiskHandle;
}

HANDLE OpenUsbDiskRead(int disk) {
  UsbDiskHandle = Open(disk, GENERIC_READ, FILE_SHARE_READ);
  return UsbDiskHandle;
}

void CloseUsbDisk() {
  if (UsbDiskHandle) CloseHandle(UsbDiskHandle);
  UsbDiskHandle = nullptr;
}

int ReadUsbSectors(void* buffer, uint64_t sector, uint32_t count) {
  if (!UsbDiskHandle) return -1;
  DWORD done = ReadSectorsAt(UsbDiskHandle, buffer, sector, static_cast<int32_t>(count));
  return done == count * 512 ? 0 : -1;
}

bool WriteUsbSectors(const void* buffer, uint64_t sector, uint32_t count) {
  for (int attempt = 0; UsbDiskHandle && attempt < kWriteAttempts; ++attempt) {
    if (WriteSectorsAt(UsbDiskHandle, buffer, sector, static_cast<int32_t>(count)) == count * 512) return true;
  }
  MessageBoxW(nullptr, u"Error in Writing Sector", LookupString(u"IDS_PRODNAME"), MB_OK);
  ++CopyErrorCount;
  return false;
}

bool FlushUsbDisk() {
  if (UsbDiskHandle && FlushFileBuffers(UsbDiskHandle)) return true;
  MessageBoxW(nullptr, u"Error in Writing Sector", LookupString(u"IDS_PRODNAME"), MB_OK);
  ++CopyErrorCount;
  return false;
}

bool ReadUsbGeometry(UsbGeometry* geometry) {
  DISK_GEOMETRY g{};
  DWORD returned = 0;
  if (!UsbDiskHandle || !DeviceIoControl(UsbDiskHandle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof(g),
                                         &returned, nullptr)) {
    return false;
  }
  geometry->cylinders = static_cast<uint64_t>(g.Cylinders.QuadPart);
  geometry->heads = g.TracksPerCylinder;
  geometry->sectorsPerTrack = g.SectorsPerTrack;
  return true;
}

uint64_t GetUsbDiskSectorCount(int disk) {
  if (!OpenUsbDiskRead(disk)) return 0;
  UsbGeometry geometry;
  bool ok = ReadUsbGeometry(&geometry);
  CloseUsbDisk();
  return ok ? geometry.sectors() : 0;
}
