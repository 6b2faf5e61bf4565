#include "apps/drummetworks/interim_clone_plan.h"

#include <vector>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "mainapp/clone/clone_page.h"
#include "mainapp/clone/clone_settings.h"
#include "mainapp/clone/disk_selection.h"

INT_PTR RunClonePageWithInterimPlan(CWnd* parent) {
  const int32_t source = ListedPhysicalDisk(CloneSettings.copySourceDisk);
  if (CloneSettings.basicDuplication && !CloneSettings.partitionMode && source >= 0) {
    MapLettersToDisks();
    ListLetterVolumes();
    std::vector<uint8_t> layout(kLayoutBufferSize);
    const int32_t count = QueryDriveLayout(source, layout.data());
    if (count > 0) {
      FillLayoutTable(source, layout.data(), count);
      for (int32_t i = 0; i < count && i < kMaxLayoutEntries; ++i) {
        LayoutEntry& e = DiskContext.layoutTable[i];
        e.newStartBytes = e.startBytes;
        e.newLengthBytes = e.lengthBytes;
        e.newType = e.fsCode;
        e.newDriveLetter = -1;
      }
    }
  }
  return RunClonePageModal(parent);
}
