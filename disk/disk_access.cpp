#include "disk/disk_access.h"

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/message_box.h"

namespace {

constexpr DWORD kUnbuffered = FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
constexpr int kDigitIndex = 17;  // the digit of "\\.\PhysicalDrive0"
constexpr int kReadOpenAttempts = 3;
constexpr DWORD kReadOpenPauseMs = 200;
constexpr int kWriteAttempts = 5;

// Opens the physical disk's device path after the "no drive" check. The
// digit is patched with the number taken as a signed 8-bit value, so only
// 0 to 9 name a disk; 10 becomes ':' and fails, as the callers expect.
HANDLE OpenPhysicalDrive(int32_t disk, DWORD access, DWORD share, DWORD flags = kUnbuffered) {
  WCHAR path[] = u"\\\\.\\PhysicalDrive0";
  static_assert(sizeof(path) / sizeof(path[0]) == 19);
  path[kDigitIndex] = static_cast<WCHAR>(u'0' + static_cast<int8_t>(disk));
  return CreateFileW(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

void WarnNoDrive(int32_t disk) {
  if (disk < 0) AfxMessageBox(u"open: No Drive", MB_OK);
}

HANDLE ZeroIfInvalid(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

// Closes the current disk's handle if it is still open; the field keeps its value.
BOOL CloseCurrentHandleOnce() {
  if (!DiskContext.currentDiskOpen) return platform::fail(ERROR_INVALID_HANDLE);
  DiskContext.currentDiskOpen = false;
  return CloseHandle(DiskContext.currentDiskHandle);
}

// Rounds a count of 512-byte units up to whole native sectors and gives the
// byte count of the transfer; false for a count that is not positive or a
// transfer beyond one platform call.
bool TransferBytes(int32_t count, int32_t multiplier, DWORD* bytes) {
  if (count <= 0 || multiplier <= 0) return false;
  int64_t units = (static_cast<int64_t>(count) + multiplier - 1) / multiplier * multiplier;
  int64_t total = units * 512;
  if (total > 0xFFFFFFFFll) return false;
  *bytes = static_cast<DWORD>(total);
  return true;
}

void MoveTo(HANDLE handle, uint64_t byte_offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(byte_offset);
  SetFilePointerEx(handle, to, nullptr, FILE_BEGIN);  // a failed move shows up as a failed transfer
}

// True when [offset, offset + bytes) runs past the end the handle reports. The
// platform would move the bytes up to the end and report that shorter count:
// such a transfer is refused whole instead, so nothing is half written.
bool RunsPastEnd(HANDLE handle, uint64_t offset, DWORD bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0) return false;  // the transfer itself will tell
  uint64_t end = static_cast<uint64_t>(size.QuadPart);
  return offset > end || bytes > end - offset;
}

}  // namespace

namespace {
// Opens the disk for reading and writing with `flags` and makes it current.
HANDLE OpenCurrentDiskReadWrite(int32_t disk, DWORD flags) {
  WarnNoDrive(disk);
  HANDLE handle =
      ZeroIfInvalid(OpenPhysicalDrive(disk, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, flags));
  if (!handle) CloseCurrentHandleOnce();  // the handle this failure replaces would otherwise leak
  DiskContext.currentDisk = disk;
  DiskContext.currentDiskHandle = handle;
  DiskContext.currentDiskOpen = handle != nullptr;
  if (handle) ++DiskContext.openDiskCount;
  return handle;
}
}  // namespace

HANDLE OpenDiskReadWrite(int32_t disk) { return OpenCurrentDiskReadWrite(disk, kUnbuffered); }

HANDLE OpenDiskForBulkWrites(int32_t disk) { return OpenCurrentDiskReadWrite(disk, FILE_FLAG_NO_BUFFERING); }

HANDLE OpenDiskRead(int32_t disk) {
  WarnNoDrive(disk);
  HANDLE handle = nullptr;
  for (int attempt = 0; attempt < kReadOpenAttempts; ++attempt) {
    handle = ZeroIfInvalid(OpenPhysicalDrive(disk, GENERIC_READ, FILE_SHARE_READ));
    if (handle) break;
    Sleep(kReadOpenPauseMs);
  }
  if (handle) {
    DiskContext.currentDisk = disk;
    ++DiskContext.openDiskCount;
  } else {
    // The handle this failure replaces would otherwise leak.
    CloseCurrentHandleOnce();
  }
  DiskContext.currentDiskHandle = handle;
  DiskContext.currentDiskOpen = handle != nullptr;
  return handle;
}

HANDLE OpenDiskHandle(int32_t disk) {
  WarnNoDrive(disk);
  return ZeroIfInvalid(OpenPhysicalDrive(disk, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
}

HANDLE OpenVolumeDevice(WCHAR letter) {
  WCHAR path[] = u"\\\\.\\C:";
  path[4] = letter;
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     kUnbuffered, nullptr);
}

BOOL CloseCurrentDisk() {
  --DiskContext.openDiskCount;
  return CloseCurrentHandleOnce();
}

BOOL CloseDeviceHandle(HANDLE handle) { return CloseHandle(handle); }

int32_t ReadDiskSectors(void* buffer, uint64_t sector, int32_t count) {
  int32_t m = SectorMultiplierOf(DiskContext.currentDisk);
  if (m == 0) return 0;
  DWORD bytes = 0;
  if (!TransferBytes(count, m, &bytes)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  uint64_t offset = (sector << 9) * static_cast<uint64_t>(m);
  if (RunsPastEnd(DiskContext.currentDiskHandle, offset, bytes)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    ++DiskContext.ioErrorCount;
    return -1;
  }
  MoveTo(DiskContext.currentDiskHandle, offset);
  DWORD read = 0;
  BOOL ok = ReadFile(DiskContext.currentDiskHandle, buffer, bytes, &read, nullptr);
  // A read that brought fewer bytes than asked (past the end of the disk) is a
  // failure even when the platform call reports success: the buffer does not
  // hold what was asked.
  if (read != bytes) {
    ++DiskContext.ioErrorCount;
    return -1;
  }
  return ok ? 0 : -1;
}

void WriteDiskSectors(const void* buffer, uint64_t sector, int32_t count) {
  int32_t m = SectorMultiplierOf(DiskContext.currentDisk);
  if (m == 0) return;
  DWORD bytes = 0;
  if (!TransferBytes(count, m, &bytes)) return;
  uint64_t offset = (sector << 9) * static_cast<uint64_t>(m);
  if (RunsPastEnd(DiskContext.currentDiskHandle, offset, bytes)) {
    SetLastError(ERROR_SECTOR_NOT_FOUND);
    ++DiskContext.ioErrorCount;
    return;
  }
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    MoveTo(DiskContext.currentDiskHandle, offset);
    DWORD written = 0;
    WriteFile(DiskContext.currentDiskHandle, buffer, bytes, &written, nullptr);
    if (written == bytes) return;
    ++DiskContext.ioErrorCount;
    if (written != 0) return;  // a short write is a failure that trying again cannot mend
  }
}

DWORD ReadSectorsAt(HANDLE handle, void* buffer, uint64_t sector, int32_t count) {
  DWORD bytes = 0;
  if (!TransferBytes(count, 1, &bytes)) return 0;
  MoveTo(handle, sector * 512);
  DWORD read = 0;
  ReadFile(handle, buffer, bytes, &read, nullptr);
  return read;
}

DWORD WriteSectorsAt(HANDLE handle, const void* buffer, uint64_t sector, int32_t count) {
  DWORD bytes = 0;
  if (!TransferBytes(count, 1, &bytes)) return 0;
  MoveTo(handle, sector * 512);
  DWORD written = 0;
  WriteFile(handle, buffer, bytes, &written, nullptr);
  return written;
}

uint64_t DeviceLengthBytes(HANDLE handle) {
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (!DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr) ||
      returned < sizeof length || length.Length.QuadPart <= 0)
    return 0;
  return static_cast<uint64_t>(length.Length.QuadPart);
}

uint64_t ReadDiskGeometry(int32_t disk) {
  OpenDiskRead(disk);
  if (DiskContext.currentDiskHandle == nullptr) return 0;
  DISK_GEOMETRY geometry{};
  DWORD returned = 0;
  if (!DeviceIoControl(DiskContext.currentDiskHandle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                       sizeof geometry, &returned, nullptr) ||
      returned < sizeof geometry) {
    CloseCurrentDisk();
    return 0;
  }
  int32_t capped = geometry.SectorsPerTrack > 63 ? 63 : static_cast<int32_t>(geometry.SectorsPerTrack);
  int32_t multiplier = static_cast<int32_t>(geometry.BytesPerSector / 512);
  DiskContext.lastSectorsPerTrack = capped;
  if (disk >= 0 && disk < kMaxPhysicalDisks) {
    DiskContext.sectorsPerTrack[disk] = capped;
    DiskContext.sectorMultiplier[disk] = multiplier;
  }
  uint64_t size = static_cast<uint64_t>(geometry.Cylinders.QuadPart) * geometry.SectorsPerTrack *
                  geometry.TracksPerCylinder * static_cast<uint64_t>(multiplier);
  CloseCurrentDisk();
  return size;
}

uint64_t ReadDiskLengthUnits(int32_t disk) {
  if (ReadDiskGeometry(disk) == 0) return 0;
  const uint64_t multiplier = disk < kMaxPhysicalDisks && DiskContext.sectorMultiplier[disk] > 0
                                  ? static_cast<uint64_t>(DiskContext.sectorMultiplier[disk])
                                  : 1;
  OpenDiskRead(disk);
  if (DiskContext.currentDiskHandle == nullptr) return 0;
  const uint64_t units = DeviceLengthBytes(DiskContext.currentDiskHandle) / 512;
  CloseCurrentDisk();
  return units - units % multiplier;
}

HANDLE OpenFileRead(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE OpenFileReadWrite(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

HANDLE OpenFileReadWriteShareRead(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE OpenFileUnbuffered(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     kUnbuffered, nullptr);
}

HANDLE CreateFileForWrite(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     FILE_FLAG_WRITE_THROUGH, nullptr);
}

HANDLE CreateFileForBulkWrite(LPCWSTR path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     0, nullptr);
}

BOOL FlushVolumeFiles(LPCWSTR root) {
  // A volume's root folder opened for writing flushes the whole volume.
  HANDLE folder = CreateFileW(root, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return FALSE;
  const BOOL flushed = FlushFileBuffers(folder);
  const DWORD error = GetLastError();
  CloseHandle(folder);
  if (!flushed) SetLastError(error);
  return flushed;
}

DWORD ReadFileBytes(HANDLE handle, DWORD count, void* buffer) {
  DWORD read = 0;
  if (!ReadFile(handle, buffer, count, &read, nullptr)) return 0;
  return read;
}

DWORD WriteFileBytes(HANDLE handle, DWORD count, const void* buffer) {
  DWORD written = 0;
  if (!WriteFile(handle, buffer, count, &written, nullptr)) return 0;
  return written;
}

int32_t SeekSector(HANDLE handle, int32_t sector, int32_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<int64_t>(sector) * 512 + static_cast<int64_t>(offset);
  SetFilePointerEx(handle, to, nullptr, FILE_BEGIN);
  return 0;
}

int32_t SeekSector32(HANDLE handle, int32_t sector, int32_t offset) {
  // The sum wraps in 32 bits as the short form always did; only positions
  // below 2 GiB are meant to pass through here.
  uint32_t sum = static_cast<uint32_t>(sector) * 512u + static_cast<uint32_t>(offset);
  LARGE_INTEGER to;
  to.QuadPart = static_cast<int32_t>(sum);
  SetFilePointerEx(handle, to, nullptr, FILE_BEGIN);
  return 0;
}

int32_t CloseFileHandle(HANDLE handle) {
  CloseHandle(handle);
  return 0;
}
