// Shadow copies: a frozen, read-only view of a volume as it was when asked
// for, reachable as \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\...
//
// The view is a copy-on-write snapshot of the partition (snapshot_table.h),
// taken after every driver on the volume wrote its changes back: taking it
// costs nothing, and only the blocks written afterwards, by any process of
// the machine, are kept aside. Releasing the copy frees them.
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
