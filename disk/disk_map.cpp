#include "disk/disk_map.h"

#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"

namespace {

// 512-byte units per native sector of the disk whose partition list was read
// last (the reader leaves it current); extendedStart/Length are native.
uint64_t ListMultiplier() {
  int32_t m = SectorMultiplierOf(DiskContext.currentDisk);
  return m > 0 ? static_cast<uint64_t>(m) : 1;
}

uint64_t ExtendedEnd() {
  return (static_cast<uint64_t>(DiskContext.extendedStart) + DiskContext.extendedLength) * ListMultiplier();
}

DiskMapItem Gap(uint64_t start, uint64_t length, int32_t outside) {
  DiskMapItem item{};
  item.partitionIndex = -1;
  item.start = start;
  item.length = length;
  item.type = -1;
  item.outsideExtended = outside;
  return item;
}

}  // namespace

bool IsInsideExtended(uint64_t sector) {
  if (DiskContext.extendedStart < 0) return false;
  uint64_t m = ListMultiplier();
  uint64_t start = static_cast<uint64_t>(DiskContext.extendedStart);
  uint64_t end = start + DiskContext.extendedLength;
  if (end < start + 63) return false;  // too short to hold anything past its last 63 sectors
  return start * m <= sector && sector < (end - 63) * m;
}

int32_t BuildDiskMap(ListedDiskIndex listed, DiskMapItem* items, bool refresh) {
  for (int i = 0; i < kMaxDiskMapItems; ++i) items[i] = DiskMapItem{};
  const int32_t physical = ListedPhysicalDisk(listed).value;
  if (physical < 0) return 0;  // no disk under that index: nothing to open
  if (refresh) {
    for (auto& p : sharedPartitionBuffer) p = PartitionEntry{};
    ReadPartitionList(sharedPartitionBuffer, physical);
  }
  int32_t count = DiskContext.partitionCount;
  if (count <= 0) return 0;
  if (count > kMaxPartitions) count = kMaxPartitions;

  // Placement is kept apart from the list, so the shared list never changes.
  bool placed[kMaxPartitions] = {};
  int32_t i = 0;
  auto add = [&](const DiskMapItem& item) {
    if (i < kMaxDiskMapItems) items[i++] = item;
  };
  for (int32_t round = 0; round < count && i < kMaxDiskMapItems; ++round) {
    int32_t pick = -1;
    for (int32_t k = 0; k < count; ++k)
      if (!placed[k] && (pick < 0 || sharedPartitionBuffer[k].start <= sharedPartitionBuffer[pick].start)) pick = k;
    const PartitionEntry& p = sharedPartitionBuffer[pick];
    placed[pick] = true;

    if (i == 0 && p.start > kDiskMapMinimumGap) {
      if (DiskContext.isGptDisk) {
        // The GPT's usual leading stretch, never reaching into the partition.
        uint64_t length = p.start - kGptLeadingGapStart;
        add(Gap(kGptLeadingGapStart, length < kGptLeadingGapLength ? length : kGptLeadingGapLength, 1));
      } else {
        add(Gap(0, p.start, 1));
      }
    }
    if (i > 0) {
      uint64_t end = items[i - 1].start + items[i - 1].length;
      if (p.start > end && p.start - end > kDiskMapMinimumGap) add(Gap(end, p.start - end, IsInsideExtended(end) ? 0 : 1));
    }
    DiskMapItem item{};
    item.partitionIndex = pick;
    item.start = p.start;
    item.length = p.length;
    item.type = p.type;
    item.driveLetter = refresh ? FindLetterByOffset(p.start, physical) : 0;
    item.outsideExtended = IsInsideExtended(p.start) ? 0 : 1;
    add(item);
  }

  uint64_t size = ListedSize(listed);
  while (i > 0 && i < kMaxDiskMapItems) {
    uint64_t end = items[i - 1].start + items[i - 1].length;
    if (end >= size || size - end <= kDiskMapMinimumGap) break;
    if (IsInsideExtended(end)) {
      uint64_t extended_end = ExtendedEnd();
      if (extended_end <= end) break;  // no progress possible
      add(Gap(end, extended_end - end, 0));
    } else {
      add(Gap(end, size - end, 1));
    }
  }
  return i;
}
