#include "mainapp/partition/partition_state.h"

PartitionManagerStateRecord PartitionManagerState;

int32_t SelectedPhysicalDisk() {
  int32_t listed = PartitionManagerState.selectedDisk + 1;
  if (listed < 1 || listed > kMaxListedDisks) return -1;
  return DiskContext.listedToPhysical[listed];
}

const DiskMapItem* ManagerMapItem(int32_t index) {
  const auto& s = PartitionManagerState;
  if (index < 0 || index >= s.diskMapCount || index >= kMaxDiskMapItems) return nullptr;
  return &s.diskMap[index];
}
