#include "platform/fs/volume_driver.h"

#include "platform/core/error.h"

namespace platform::fs {

DWORD VolumeDriver::set_short_name(const VolumePath&, const std::u16string&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::allocated_ranges(const VolumePath& path, std::vector<AllocatedRange>* ranges) {
  ranges->clear();
  FileInfo info;
  if (DWORD e = stat(path, &info)) return e;
  if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  if (info.size) ranges->push_back({0, info.size});
  return ERROR_SUCCESS;
}
DWORD VolumeDriver::set_sparse(const VolumePath&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::set_compressed(const VolumePath&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::list_streams(const VolumePath& path, std::vector<StreamInfo>* streams) {
  streams->clear();
  FileInfo info;
  return stat(path, &info);
}
DWORD VolumeDriver::open_stream(const VolumePath&, const std::u16string&, bool, bool, std::unique_ptr<OpenFile>*) {
  return ERROR_NOT_SUPPORTED;
}
DWORD VolumeDriver::create_link(const VolumePath&, const VolumePath&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::get_security(const VolumePath&, std::vector<uint8_t>*) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::set_security(const VolumePath&, const std::vector<uint8_t>&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::get_reparse_point(const VolumePath&, std::vector<uint8_t>*) { return ERROR_NOT_A_REPARSE_POINT; }
DWORD VolumeDriver::set_reparse_point(const VolumePath&, const std::vector<uint8_t>&) { return ERROR_NOT_SUPPORTED; }

}  // namespace platform::fs
