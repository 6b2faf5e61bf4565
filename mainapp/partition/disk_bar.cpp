#include "mainapp/partition/disk_bar.h"

#include "disk/disk_map.h"
#include "mainapp/partition/partition_state.h"

int32_t CopyManagerPanelMap(DiskMapItem* out) {
  const auto& s = PartitionManagerState;
  int32_t count = s.selectedDisk.is_none() ? 0 : s.diskMapCount;
  if (count > kMaxDiskMapItems) count = kMaxDiskMapItems;
  for (int32_t i = 0; i < kMaxDiskMapItems; ++i) out[i] = i < count ? s.diskMap[i] : DiskMapItem{};
  return count;
}
