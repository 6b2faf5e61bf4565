#include "disk/volume_space.h"

#include "platform/core/clock.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/winuser.h"
#include "program_support/wait_cursor.h"

int32_t FolderDepth = 0;

namespace {

constexpr int kLockAttempts = 22;
constexpr DWORD kLockRetryMs = 200;
// The listing pattern is built in a buffer of this many characters.
constexpr int kPatternBufferSize = 520;
constexpr DWORD kVolumeNameSize = 256;
constexpr DWORD kExtentBufferSize = 1024;

CString DriveRoot(WCHAR letter) {
  CString root(letter);
  root += u":\\";
  return root;
}

bool IsDotEntry(const WCHAR* name) {
  return (name[0] == u'.' && name[1] == 0) || (name[0] == u'.' && name[1] == u'.' && name[2] == 0);
}

}  // namespace

uint64_t GetFreeSectors(WCHAR letter) {
  DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  if (!GetDiskFreeSpaceW(DriveRoot(letter), &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters))
    return 0;
  return static_cast<uint64_t>(free_clusters) * sectors_per_cluster * (bytes_per_sector / 512);
}

uint64_t GetFolderUsedBytes(const CString& path) {
  if (path.GetLength() == 3) return GetVolumeUsedSectors(path[0]) * 512;

  const CString pattern = path + u"\\*.*";
  WIN32_FIND_DATAW data{};
  HANDLE find = pattern.GetLength() < kPatternBufferSize ? FindFirstFileW(pattern, &data) : INVALID_HANDLE_VALUE;
  if (find == INVALID_HANDLE_VALUE) {
    --FolderDepth;
    return 0;
  }
  uint64_t sum = 0;
  do {
    data.cFileName[MAX_PATH - 1] = 0;
    if (IsDotEntry(data.cFileName)) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // Links to folders are followed like folders; the depth cap ends cycles.
      if (++FolderDepth > kFolderDepthLimit) {
        FindClose(find);
        return kFolderTooDeep;
      }
      const uint64_t below = GetFolderUsedBytes(path + u"\\" + CString(data.cFileName));
      if (below == kFolderTooDeep) {
        // Too deep somewhere below: the whole sum is meaningless.
        FindClose(find);
        return kFolderTooDeep;
      }
      sum += below;
    } else {
      sum += static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  --FolderDepth;
  return sum;
}

int64_t GetFileSizeBytes(const CString& path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) size.QuadPart = -1;
  CloseHandle(file);
  return size.QuadPart;
}

CString FindVolumeByExtent(int32_t disk, uint64_t start) {
  SetWaitCursor();
  CString found;
  WCHAR name[kVolumeNameSize] = {};
  HANDLE search = FindFirstVolumeW(name, kVolumeNameSize);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      name[kVolumeNameSize - 1] = 0;
      CString volume(name);
      if (volume.IsEmpty()) continue;
      volume = volume.Left(volume.GetLength() - 1);  // without the trailing backslash
      HANDLE h = CreateFileW(volume, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (h == INVALID_HANDLE_VALUE) continue;
      alignas(8) BYTE extents[kExtentBufferSize] = {};
      DWORD returned = 0;
      const BOOL ok = DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents, sizeof extents,
                                      &returned, nullptr);
      CloseHandle(h);
      if (!ok || returned < sizeof(VOLUME_DISK_EXTENTS)) continue;
      const auto* answer = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(extents);
      if (answer->NumberOfDiskExtents == 0) continue;
      // Only the first extent counts.
      const DISK_EXTENT& first = answer->Extents[0];
      if (static_cast<int64_t>(first.DiskNumber) == disk &&
          static_cast<uint64_t>(first.StartingOffset.QuadPart) == start) {
        found = volume;
        break;
      }
    } while (FindNextVolumeW(search, name, kVolumeNameSize));
    FindVolumeClose(search);
  }
  RestoreCursor();
  return found;
}

bool LockVolume(HANDLE volume) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    DWORD returned = 0;
    if (DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr)) return true;
    Sleep(kLockRetryMs);
  }
  // A volume that stays busy is used unlocked.
  return true;
}

bool UnlockVolume(HANDLE volume) {
  DWORD returned = 0;
  return DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
}

uint64_t GetVolumeUsedSectors(WCHAR letter) {
  DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  if (!GetDiskFreeSpaceW(DriveRoot(letter), &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters))
    return 0;
  if (free_clusters > total_clusters) return 0;
  return static_cast<uint64_t>(total_clusters - free_clusters) * sectors_per_cluster * (bytes_per_sector / 512);
}
