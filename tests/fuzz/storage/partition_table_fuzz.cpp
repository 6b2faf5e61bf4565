// Feeds arbitrary bytes as a disk's first sectors (and, on request, its last
// sector) to the partition-table reader, then writes what it read back to a
// fresh disk and reads that again: no crash, no endless EBR chain, no huge
// allocation from absurd GPT counts. Also decodes the bytes as a caller's
// drive-layout record.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/core/block_device.h"
#include "platform/storage/drive_layout.h"
#include "platform/storage/partition_table.h"

using namespace platform;
using namespace platform::storage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  const uint32_t ss = (flags & 1) ? 4096 : 512;
  data += 1;
  size -= 1;
  constexpr size_t kMaxDisk = 1 << 20;
  if (size > kMaxDisk) size = kMaxDisk;
  // The disk is at least 16 sectors, and larger when bit 2 asks (up to 64 KiB beyond the data).
  uint64_t disk_size = ((size + ss - 1) / ss) * ss;
  if (disk_size < 16ull * ss) disk_size = 16ull * ss;
  if (flags & 4) disk_size += 16ull * ss;
  MemoryBlockDevice disk(disk_size, ss);
  std::memcpy(disk.bytes().data(), data, size);
  // Bit 1: the data's last sector also becomes the disk's last sector (a backup GPT header).
  if ((flags & 2) && size >= ss) std::memcpy(disk.bytes().data() + disk_size - ss, data + size - ss, ss);

  DiskLayout layout;
  TableResult result = ReadDiskLayout(disk, &layout);
  if (result.ok() && layout.entries.size() > 4 + 4 * kMaxLogicalDrives + kMaxGptEntries) std::abort();
  if (!result.ok() && result.message.empty()) std::abort();

  // Whatever was read either writes back cleanly and reads back with the same
  // partitions, or is refused with a message.
  MemoryBlockDevice copy(disk_size, ss);
  TableResult written = WriteDiskLayout(copy, layout);
  if (written.ok() && layout.style != PartitionStyle::Raw) {
    DiskLayout again;
    if (!ReadDiskLayout(copy, &again).ok()) std::abort();
    if (again.partitions().size() != layout.partitions().size()) std::abort();
  } else if (!written.ok() && written.message.empty()) {
    std::abort();
  }

  DiskLayout decoded;
  if (DecodeDriveLayout(data, size, &decoded) == 0) (void)EncodeDriveLayout(decoded);
  return 0;
}
