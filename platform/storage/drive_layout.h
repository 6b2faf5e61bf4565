// Conversion between the codec's DiskLayout and the platform's
// DRIVE_LAYOUT_INFORMATION_EX / PARTITION_INFORMATION_EX records.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/types.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"

namespace platform::storage {

// The record IOCTL_DISK_GET_DRIVE_LAYOUT_EX answers: the 48-byte header and
// one 144-byte entry per layout entry.
std::vector<uint8_t> EncodeDriveLayout(const DiskLayout& layout);

// Reads a caller's record for IOCTL_DISK_SET_DRIVE_LAYOUT_EX. Returns 0 and
// fills *layout, or the platform error: ERROR_INSUFFICIENT_BUFFER when `size`
// does not cover the header and PartitionCount entries, ERROR_INVALID_PARAMETER
// for an unknown partition style or an entry whose style differs from the header's.
DWORD DecodeDriveLayout(const void* record, size_t size, DiskLayout* layout);

PARTITION_INFORMATION_EX EncodePartitionEx(const LayoutEntry& entry);

}  // namespace platform::storage
