#include "platform/fs/shadow_copy.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/error.h"
#include "platform/core/host_temp_file.h"
#include "platform/core/text.h"
#include "platform/fs/path_name.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/volume_table.h"

namespace platform::fs {

namespace {
constexpr size_t kChunk = 1 << 20;
}

std::u16string ShadowCopyDeviceName(int number) {
  return u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" + to_utf16(std::to_string(number));
}

int CreateShadowCopy(const std::u16string& volume, DWORD* error) {
  std::lock_guard g(FsLock());
  *error = ERROR_SUCCESS;
  // Accept the forms a caller may hold and find the volume's key.
  std::u16string name = volume;
  if (name.size() == 2 && name[1] == u':') name += u'\\';
  if (name.rfind(u"\\Device\\", 0) == 0) name = u"\\\\?\\GLOBALROOT" + name;
  if (!name.empty() && name.back() != u'\\') name += u'\\';
  ParsedName parsed;
  Location where;
  if ((*error = ParseName(name, u"", &parsed))) return -1;
  if ((*error = Locate(parsed, &where))) return -1;
  VolumeExtent extent;
  if ((*error = ExtentOf(where.volume, &extent))) return -1;
  if (!extent.device) {
    *error = ERROR_NOT_READY;
    return -1;
  }
  // Every view of the volume writes its changes back before the copy.
  if (extent.disk >= 0)
    storage::NotifyRawAccess(extent.disk, extent.offset, extent.length, storage::RawAccess::Read);
  ReleaseDriver(where.volume);

  std::string path;
  int fd = CreateHostTempFile("drum-shadow", &path);
  if (fd < 0) {
    *error = ERROR_DISK_FULL;
    return -1;
  }
  bool ok = ftruncate(fd, static_cast<off_t>(extent.length)) == 0;
  std::vector<uint8_t> buf(kChunk);
  for (uint64_t off = 0; ok && off < extent.length; off += kChunk) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, extent.length - off));
    if (!extent.device->read_at(off, buf.data(), n)) {
      *error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
      ok = false;
      break;
    }
    bool zero = true;
    for (size_t i = 0; i < n && zero; ++i) zero = buf[i] == 0;
    if (!zero && pwrite(fd, buf.data(), n, static_cast<off_t>(off)) != static_cast<ssize_t>(n)) {
      *error = ERROR_DISK_FULL;
      ok = false;
    }
  }
  std::shared_ptr<BlockDevice> device;
  if (ok) device = std::shared_ptr<BlockDevice>(FileBlockDevice::open(path.c_str(), extent.device->sector_size(), true));
  ReleaseHostTempFile(path, fd);  // the open device keeps the bytes alive
  if (!ok || !device) {
    if (ok) *error = ERROR_OPEN_FAILED;
    return -1;
  }
  return AddShadowVolume(device, extent.file_system, to_utf8(volume));
}

bool ReleaseShadowCopy(int number) { return RemoveShadowVolume(number); }

}  // namespace platform::fs
