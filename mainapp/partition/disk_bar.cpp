#include "mainapp/partition/disk_bar.h"

#include "disk/disk_map.h"
#include "mainapp/partition/partition_state.h"

int32_t LayoutDiskBar(int32_t listedIndex, DiskMapItem* items, int32_t barWidth, bool refresh, int32_t count) {
  if (count <= 0) {
    count = BuildDiskMap(listedIndex, items, refresh);
    if (count <= 0) return 0;
  }
  if (count > kMaxDiskMapItems) count = kMaxDiskMapItems;
  uint64_t total = 0;
  for (int32_t i = 0; i < count; ++i) total += items[i].length;
  if (total == 0) total = 1;
  int64_t room = static_cast<int64_t>(barWidth) - 4 * count;
  if (room < 0) room = 0;
  int64_t scale = room;
  for (int round = 0; round <= 10; ++round) {
    int64_t used = 0;
    for (int32_t i = 0; i < count; ++i) {
      int64_t w = static_cast<int64_t>(static_cast<double>(items[i].length) * static_cast<double>(scale) /
                                       static_cast<double>(total));
      if (w < 44) w = 44;
      items[i].pixelWidth = static_cast<int32_t>(w);
      used += w;
    }
    if (used <= room || scale <= 0) break;
    scale -= used - room;
  }
  return count;
}

int32_t CopyManagerPanelMap(DiskMapItem* out) {
  const auto& s = PartitionManagerState;
  int32_t count = s.selectedDisk < 0 ? 0 : s.diskMapCount;
  if (count > kMaxDiskMapItems) count = kMaxDiskMapItems;
  for (int32_t i = 0; i < kMaxDiskMapItems; ++i) out[i] = i < count ? s.diskMap[i] : DiskMapItem{};
  return count;
}
