#include "mainapp/clone/raw_target.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/drive_layout_table.h"
#include "disk/partition_list.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/storage/ioctl.h"

namespace {

constexpr uint64_t kMbrLastSector = 0xFFFFFFFFull;  // an MBR entry's start and count are 32 bits
constexpr uint8_t kNtfsType = 0x07;

}  // namespace

RawTargetExtent PlanRawTarget(uint64_t diskSectors, int32_t sectorsPerTrack) {
  RawTargetExtent extent;
  extent.startSector = static_cast<uint64_t>(std::max(sectorsPerTrack, 1));
  const uint64_t end = std::min(diskSectors, kMbrLastSector);
  if (end > extent.startSector) extent.sectorCount = end - extent.startSector;
  return extent;
}

bool SourcePartitionIsActive() {
  const int32_t source = ListedPhysicalDisk(CloneSettings.copySourceDisk).value;
  if (source < 0) return false;
  auto layout = std::make_unique<uint8_t[]>(kLayoutBufferSize);
  std::memset(layout.get(), 0, kLayoutBufferSize);
  const int32_t count = QueryDriveLayout(source, layout.get());
  const auto* header = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(layout.get());
  if (count <= 0 || header->PartitionStyle != PARTITION_STYLE_MBR) return false;
  const uint64_t startBytes = CloneSettings.copySourceStart * 512;
  for (int32_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const PARTITION_INFORMATION_EX*>(
        layout.get() + kDriveLayoutHeaderSize + sizeof(PARTITION_INFORMATION_EX) * static_cast<size_t>(i));
    if (static_cast<uint64_t>(p->StartingOffset.QuadPart) == startBytes && p->PartitionLength.QuadPart > 0)
      return p->Mbr.BootIndicator != 0;
  }
  return false;
}

RawTargetResult PrepareRawTarget(int32_t disk, uint64_t diskUnits, uint64_t usedUnits, bool active) {
  if (disk < 0 || disk >= kMaxPhysicalDisks || ReadDiskGeometry(disk) == 0) return RawTargetResult::WriteFailed;
  // A disk that holds partitions keeps them: the question asked before
  // preparing speaks of a disk without any.
  if (ReadPartitionList(sharedPartitionBuffer, disk) > 0) return RawTargetResult::NotEmpty;
  const uint64_t m = static_cast<uint64_t>(std::max(SectorMultiplierOf(disk), 1));
  const RawTargetExtent extent = PlanRawTarget(diskUnits / m, DiskContext.sectorsPerTrack[disk]);
  if (extent.sectorCount == 0 || extent.sectorCount * m < usedUnits) return RawTargetResult::TooSmall;

  // The old boot code and table, and whatever boot sector lay where the new
  // partition starts, go: one whole native sector each (the transfers count
  // 512-byte units).
  HANDLE h = OpenDiskHandle(disk);
  if (!h) return RawTargetResult::WriteFailed;
  const std::vector<uint8_t> zeros(static_cast<size_t>(m) * 512, 0);
  const DWORD sectorBytes = static_cast<DWORD>(zeros.size());
  const bool zeroed = WriteSectorsAt(h, zeros.data(), 0, static_cast<int32_t>(m)) == sectorBytes &&
                      WriteSectorsAt(h, zeros.data(), extent.startSector * m, static_cast<int32_t>(m)) == sectorBytes;
  CloseDeviceHandle(h);
  if (!zeroed) return RawTargetResult::WriteFailed;

  auto layout = std::make_unique<uint8_t[]>(kLayoutBufferSize);
  std::memset(layout.get(), 0, kLayoutBufferSize);
  static_assert(kDriveLayoutHeaderSize + 4 * sizeof(PARTITION_INFORMATION_EX) <= kLayoutBufferSize);
  auto* header = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(layout.get());
  header->PartitionStyle = PARTITION_STYLE_MBR;
  header->PartitionCount = 4;
  for (int i = 0; i < 4; ++i) {
    auto* p = reinterpret_cast<PARTITION_INFORMATION_EX*>(layout.get() + kDriveLayoutHeaderSize +
                                                          sizeof(PARTITION_INFORMATION_EX) * static_cast<size_t>(i));
    p->PartitionStyle = PARTITION_STYLE_MBR;
    p->RewritePartition = TRUE;
    if (i != 0) continue;
    const uint64_t nativeBytes = m * 512;
    p->StartingOffset.QuadPart = static_cast<LONGLONG>(extent.startSector * nativeBytes);
    p->PartitionLength.QuadPart = static_cast<LONGLONG>(extent.sectorCount * nativeBytes);
    p->PartitionNumber = 1;
    p->Mbr.PartitionType = kNtfsType;
    p->Mbr.BootIndicator = active ? TRUE : FALSE;
    p->Mbr.HiddenSectors = static_cast<DWORD>(extent.startSector);
  }
  return ApplyDriveLayout(disk, layout.get()) ? RawTargetResult::Prepared : RawTargetResult::WriteFailed;
}
