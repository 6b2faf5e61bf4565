#include "disk/listed_disks.h"

#include <algorithm>

#include "disk/disk_context.h"

namespace {

// The DiskContext slot of a listed index, 0 (the empty slot) out of bounds.
int32_t SlotOf(ListedDiskIndex listed) {
  const int32_t listedCount = std::min(DiskContext.diskCount, kMaxListedDisks);
  return listed.value >= 0 && listed.value < listedCount ? listed.value + 1 : 0;
}

}  // namespace

PhysicalDiskNumber ListedPhysicalDisk(ListedDiskIndex listed) {
  const int32_t slot = SlotOf(listed);
  if (slot == 0 || DiskContext.listedToPhysical[slot] < 0) return kNoPhysicalDisk;
  return PhysicalDiskNumber{DiskContext.listedToPhysical[slot]};
}

ListedDiskIndex ListedIndexOfPhysical(PhysicalDiskNumber physical) {
  if (physical.is_none()) return kNoListedDisk;
  for (ListedDiskIndex listed{0}; listed.value < kMaxListedDisks; ++listed.value)
    if (ListedPhysicalDisk(listed) == physical) return listed;
  return kNoListedDisk;
}

uint64_t ListedSize(ListedDiskIndex listed) {
  const int32_t slot = SlotOf(listed);
  return slot == 0 ? 0 : DiskContext.listedDiskSize[slot];
}

CString ListedModel(ListedDiskIndex listed) {
  const int32_t slot = SlotOf(listed);
  return slot == 0 ? CString() : DiskContext.listedModel[slot];
}

CString ListedBusName(ListedDiskIndex listed) {
  const int32_t slot = SlotOf(listed);
  return slot == 0 ? CString() : DiskContext.listedBusName[slot];
}
