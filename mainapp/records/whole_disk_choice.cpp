#include "mainapp/records/whole_disk_choice.h"

#include "disk/disk_context.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

namespace {

// "Disk N:" model, a blank and the size.
CString Description(ListedDiskIndex listed) {
  CString text = LookupString(u"IDS_Drive") + IntToText(ListedPhysicalDisk(listed).value) + u":";
  CString model = ListedModel(listed);
  text += model.Trim();
  text += u" ";
  text += FormatSectorCount(ListedSize(listed));
  return text;
}

void Select(DiskSelectionRecord& record, ListedDiskIndex listed) {
  record.diskNumber = ListedPhysicalDisk(listed);
  SetSelectionModel(record, ListedModel(listed));
}

}  // namespace

bool RecordWholeDiskChoice(ListedDiskIndex source, ListedDiskIndex destination) {
  const PhysicalDiskNumber sourcePhysical = ListedPhysicalDisk(source);
  if (sourcePhysical.is_none() || ListedPhysicalDisk(destination).is_none() || source == destination) return false;
  CloneSettings.copySourceDisk = source;
  CloneSettings.copySourceStart = 0;
  CloneSettings.copySourceLength = ListedSize(source);
  ReadPartitionList(sharedPartitionBuffer, sourcePhysical.value);
  CloneSettings.sourceIsGpt = DiskContext.isGptDisk;
  CloneSettings.systemMigration = 0;
  CloneSettings.migrationPartitionCount = 0;
  CloneSettings.sourceMapItem = -1;
  CloneSettings.sourceName = LookupString(u"IDS_Drive") + IntToText(sourcePhysical.value);
  CloneSettings.sourceDescription = Description(source);
  CloneSettings.destinationDescription = Description(destination);
  Select(DiskSelection, source);
  Select(DestinationSelection, destination);
  return true;
}
