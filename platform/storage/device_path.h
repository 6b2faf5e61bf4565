// Parsing of device paths ("\\.\PhysicalDrive3", "\\?\Volume{...}\", ...).
#pragma once

#include <string>
#include <string_view>

#include "platform/core/types.h"

namespace platform::storage {

struct DevicePath {
  enum class Kind {
    NotADevice,     // a file, pipe or other path; not ours
    Unknown,        // under "\\.\" but names nothing the simulated PC has
    PhysicalDrive,  // disk
    Letter,         // letter
    VolumeGuid,     // volume_name: "\\?\Volume{...}\" normalised (upper-case prefix, trailing backslash)
    VolumeDevice,   // volume_name: "\Device\HarddiskVolumeN" as written
    Partition,      // disk, partition (0 = the whole disk)
    SmartVsd,       // SMARTVSD: the S.M.A.R.T. driver of 95-family systems, for every IDE disk
  };
  Kind kind = Kind::NotADevice;
  int disk = -1;
  int partition = -1;
  WCHAR letter = 0;             // upper case
  std::u16string volume_name;
};

DevicePath ParseDevicePath(std::u16string_view path);

// Case-insensitive comparison of ASCII letters; other units compare exactly.
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform::storage
