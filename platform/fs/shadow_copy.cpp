#include "platform/fs/shadow_copy.h"

#include "platform/core/error.h"
#include "platform/core/snapshot_table.h"
#include "platform/core/text.h"
#include "platform/fs/path_name.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/volume_table.h"

namespace platform::fs {

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
  // The snapshot holds a settled file system: no other process of the
  // machine is inside a file call on the volume while it is taken (they write
  // their changes back at the end of each of their calls, and the machine's
  // volume lock is held until this call ends), and every view of the volume in
  // this process writes its changes back first.
  if ((*error = JoinVolumeCall(where.volume))) return -1;
  if (extent.disk >= 0)
    storage::NotifyRawAccess(extent.disk, extent.offset, extent.length, storage::RawAccess::Read);
  ReleaseDriver(where.volume);
  auto device = TakeSnapshot(extent.device, error);
  if (!device) return -1;
  return AddShadowVolume(device, extent.file_system, to_utf8(volume));
}

bool ReleaseShadowCopy(int number) { return RemoveShadowVolume(number); }

}  // namespace platform::fs
