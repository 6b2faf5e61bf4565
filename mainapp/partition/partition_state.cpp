#include "mainapp/partition/partition_state.h"

#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "mainapp/records/disk_bars.h"

PartitionManagerStateRecord PartitionManagerState;

int32_t SelectedPhysicalDisk() { return ListedPhysicalDisk(PartitionManagerState.selectedDisk).value; }

const DiskMapItem* ManagerMapItem(int32_t index) {
  const auto& s = PartitionManagerState;
  if (index < 0 || index >= s.diskMapCount || index >= kMaxDiskMapItems) return nullptr;
  return &s.diskMap[index];
}

int32_t LayoutManagerMap(const RECT& bar) {
  auto& s = PartitionManagerState;
  ListLetterVolumes();
  MapLettersToDisks();
  s.diskMapCount = LayoutDiskBar(s.selectedDisk, s.diskMap, bar, true, 0);
  // An extended partition without logical drives (the list's covering entry)
  // is free space for logical drives: drawn, labelled and offered as such.
  for (int i = 0; i < s.diskMapCount; ++i) {
    DiskMapItem& item = s.diskMap[i];
    if (item.partitionIndex < 0 || item.type != FS_EXTENDED) continue;
    item.partitionIndex = -1;
    item.type = -1;
    item.driveLetter = 0;
    item.outsideExtended = 0;
  }
  return s.diskMapCount;
}
