#include "disk/disk_context.h"

DiskContextRecord DiskContext;
DiskListRowsRecord DiskListRows;
PartitionEntry sharedPartitionBuffer[kMaxPartitions] = {};
const WCHAR* const busNames[8] = {u"Unknown", u"IDE", u"SCSI", u"USB", u"SATA", u"NVMe", u"RAID", u"Other"};

int32_t SectorMultiplierOf(int32_t disk) {
  if (disk < 0 || disk >= kMaxPhysicalDisks) return 0;
  return DiskContext.sectorMultiplier[disk];
}

int LetterIndex(int32_t letter) {
  int32_t upper = letter & ~0x20;
  if (upper < 'A' || upper > 'Z') return -1;
  return upper - 'A';
}
