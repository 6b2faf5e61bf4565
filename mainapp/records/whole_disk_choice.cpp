#include "mainapp/records/whole_disk_choice.h"

#include "disk/disk_context.h"
#include "disk/partition_list.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

namespace {

// "Disk N:" model, a blank and the size.
CString Description(int32_t listedIndex) {
  CString text = LookupString(u"IDS_Drive") + IntToText(ListedPhysicalDisk(listedIndex)) + u":";
  CString model = DiskContext.listedModel[listedIndex + 1];
  text += model.Trim();
  text += u" ";
  text += FormatSectorCount(DiskContext.listedDiskSize[listedIndex + 1]);
  return text;
}

void Select(DiskSelectionRecord& record, int32_t listedIndex) {
  record.diskNumber = ListedPhysicalDisk(listedIndex);
  SetSelectionModel(record, DiskContext.listedModel[listedIndex + 1]);
}

}  // namespace

bool RecordWholeDiskChoice(int32_t source, int32_t destination) {
  if (ListedPhysicalDisk(source) < 0 || ListedPhysicalDisk(destination) < 0 || source == destination) return false;
  CloneSettings.copySourceDisk = source;
  CloneSettings.copySourceStart = 0;
  CloneSettings.copySourceLength = DiskContext.listedDiskSize[source + 1];
  ReadPartitionList(sharedPartitionBuffer, ListedPhysicalDisk(source));
  CloneSettings.sourceIsGpt = DiskContext.isGptDisk;
  CloneSettings.systemMigration = 0;
  CloneSettings.migrationPartitionCount = 0;
  CloneSettings.sourceMapItem = -1;
  CloneSettings.sourceName = LookupString(u"IDS_Drive") + IntToText(ListedPhysicalDisk(source));
  CloneSettings.sourceDescription = Description(source);
  CloneSettings.destinationDescription = Description(destination);
  Select(DiskSelection, source);
  Select(DestinationSelection, destination);
  return true;
}
