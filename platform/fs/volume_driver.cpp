#include "platform/fs/volume_driver.h"

#include "platform/core/error.h"

namespace platform::fs {

DWORD VolumeDriver::set_short_name(const VolumePath&, const std::u16string&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::get_security(const VolumePath&, std::vector<uint8_t>*) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::set_security(const VolumePath&, const std::vector<uint8_t>&) { return ERROR_NOT_SUPPORTED; }
DWORD VolumeDriver::get_reparse_point(const VolumePath&, std::vector<uint8_t>*) { return ERROR_NOT_A_REPARSE_POINT; }
DWORD VolumeDriver::set_reparse_point(const VolumePath&, const std::vector<uint8_t>&) { return ERROR_NOT_SUPPORTED; }

}  // namespace platform::fs
