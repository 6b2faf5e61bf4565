// Shadow copies: a frozen, read-only view of a volume as it was when asked
// for, reachable as \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\...
//
// The view is a snapshot copy of the partition into a sparse scratch file
// (all-zero runs stay holes), taken after every driver on the volume wrote its
// changes back. The scratch file has no name once opened; releasing the copy
// frees it.
#pragma once

#include <string>

#include "platform/core/types.h"

namespace platform::fs {

// `volume`: "C:\", "C:", a volume GUID path or "\Device\HarddiskVolumeN".
// Returns N (1, 2, ...) or -1 with *error set.
int CreateShadowCopy(const std::u16string& volume, DWORD* error);
// False when there is no such copy.
bool ReleaseShadowCopy(int number);
// "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN"
std::u16string ShadowCopyDeviceName(int number);

}  // namespace platform::fs
