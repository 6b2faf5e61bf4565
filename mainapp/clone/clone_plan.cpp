#include "mainapp/clone/clone_plan.h"

double ScaleFactor = 1.0;
int32_t NewPartitionCount = 0;
uint8_t SinglePartitionMoved = 0;
uint64_t PlanSourceSectors = 0;
uint64_t PlanDestinationSectors = 0;
uint64_t PlanRequiredSectors = 0;
uint64_t PlanPlannedSectors = 0;
DiskMapRecord SourceDiskMap;
DiskMapRecord DestinationDiskMap;
DiskMapRecord PlannedDiskMap;
