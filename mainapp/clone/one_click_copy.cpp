#include "mainapp/clone/one_click_copy.h"

#include <algorithm>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/shadow_copy.h"
#include "mainapp/clone/clone_page.h"
#include "mainapp/clone/source_page.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/records/whole_disk_choice.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

// oneClickRunning stays set for as long as one-click copy runs, whichever
// way it ends.
class OneClickRunning {
 public:
  OneClickRunning() { ShellState.oneClickRunning = true; }
  ~OneClickRunning() { ShellState.oneClickRunning = false; }
};

bool HasLetterOn(int32_t physical) {
  for (int i = 0; i < kLetterCount; ++i)
    if (DiskContext.letterToDisk[i] == physical + 1) return true;
  return false;
}

// The source: the last listed disk (down to listed number 2) that is not the
// destination, has a drive letter and is not on USB; else listed disk 1.
ListedDiskIndex ChooseSource(ListedDiskIndex destination) {
  const int32_t listedCount = std::min(DiskContext.diskCount, kMaxListedDisks);
  for (ListedDiskIndex listed{listedCount - 1}; listed.value >= 1; --listed.value) {
    if (listed == destination) continue;
    MapLettersToDisks();
    const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
    if (physical.is_none() || !HasLetterOn(physical.value)) continue;
    if (ListedBusName(listed) == CString(u"USB")) continue;
    return listed;
  }
  return ListedDiskIndex{0};
}

int Say(CWnd* owner, const char16_t* key, UINT flags) {
  return MessageBoxW(owner ? owner->GetSafeHwnd() : nullptr, LookupString(key), ShellState.messageCaption, flags);
}

}  // namespace

bool BorrowFreeSpace(int32_t entry, uint64_t missing, int32_t count, const UsedSectorsOf& used) {
  uint64_t remaining = missing * 512;
  if (remaining == 0) return true;
  for (int32_t k = entry + 1; k < std::min(count, kMaxLayoutEntries); ++k) {
    LayoutEntry& e = DiskContext.layoutTable[k];
    if (e.nesting != 0) return false;  // logical drives and the extended partition lend nothing
    if (e.driveLetter <= 0) continue;
    const uint64_t u = used(e.driveLetter);
    const uint64_t reserve = (u + u / 4) * 512;
    if (e.newLengthBytes <= reserve) continue;
    const uint64_t spare = std::min(e.newLengthBytes - reserve, remaining);
    DiskContext.layoutTable[entry].newLengthBytes += spare;
    e.newLengthBytes -= spare;
    for (int32_t j = entry + 1; j <= k; ++j) DiskContext.layoutTable[j].newStartBytes += spare;
    remaining -= spare;
    if (remaining == 0) return true;
  }
  return false;
}

void OnOneClickCopy(CWnd* owner) {
  DetectSystemAndSpecialDisks();
  CloneSettings.checkedRow = -1;
  CloneSettings.destinationRow = -1;
  CloneSettings.sourceDisk = kNoListedDisk;
  const ListedDiskIndex destination = DiskContext.destinationDisk;
  ListedDiskIndex source = kNoListedDisk;
  if (!destination.is_none() && DiskContext.diskCount > 0) source = ChooseSource(destination);
  // A copy never has one disk as its source and its destination: with no
  // other disk to copy from there is nothing one-click copy can do.
  if (destination.is_none() || source.is_none() || source == destination || ListedPhysicalDisk(source).is_none()) {
    ShellState.oneClickAutoMode = false;
    if (Say(owner, u"IDS_MessageblankDisk", MB_OKCANCEL) != IDOK) return;
    CloneSettings.checkedRow = -1;
    CloneSettings.destinationRow = -1;
    CloneSettings.sourceDisk = kNoListedDisk;
    CloneSettings.basicDuplication = 1;
    CMirrorSource wizard;
    wizard.DoModal();
    return;
  }
  CloneSettings.sourceDisk = source;
  // The required sectors are those of the disk just chosen.
  CloneSettings.copySourceDisk = source;
  uint64_t required = ComputeRequiredSectors();
  if (ListedSize(destination) < required) {
    Say(owner, u"IDS_DestinationTooSmall", MB_OK);
    return;
  }
  if (required == 0 && Say(owner, u"IDS_BLANKSOURCE", MB_YESNO) != IDYES) return;

  CloneSettings.partitionMode = 0;
  CloneSettings.badSectorScan = 0;
  CloneSettings.verifyAfterCopy = 0;
  const bool sectorBySector = GetOsVersionCode() < 7;
  CloneSettings.basicDuplication = sectorBySector ? 0 : 1;
  CloneSettings.sizingMode = sectorBySector ? SizingMode::SameSize : SizingMode::Automatic;
  CloneSettings.chosenDestinationDisk = destination;
  OneClickRunning running;
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  MapLettersToDisks();
  ListLetterVolumes();

  const uint64_t destinationSize = ListedSize(destination);
  const uint64_t sourceSize = ListedSize(source);
  if (sectorBySector ? destinationSize < sourceSize : destinationSize < (required = ComputeRequiredSectors())) {
    Say(owner, u"IDS_DestinationTooSmall", MB_OK);
    return;
  }
  // The source snapshot, selections and descriptions of a whole-disk choice.
  if (!RecordWholeDiskChoice(source, destination)) return;
  ReadDiskGeometry(ListedPhysicalDisk(destination).value);
  int32_t count = 0;
  if (!ApplyDestinationPlan(&count)) {
    Say(owner, u"IDS_DestinationTooSmall", MB_OK);
    return;
  }
  // The plan as the destination page's Next leaves it: a conversion's last
  // partition ends before the backup table.
  SettleWholeDiskPlan(count);
  if (!sectorBySector) {
    const int32_t entries = std::min(count, kMaxLayoutEntries);
    for (int32_t i = 0; i < entries; ++i) {
      const LayoutEntry& e = DiskContext.layoutTable[i];
      if (e.driveLetter <= 0) continue;
      const uint64_t used = VolumeUsedSectors(e.driveLetter);
      const uint64_t need = used + used / 4;
      const uint64_t planned = e.newLengthBytes / 512;
      if (planned < need && !BorrowFreeSpace(i, need - planned, entries, &VolumeUsedSectors)) {
        Say(owner, u"IDS_DestinationTooSmall", MB_OK);
        return;
      }
    }
  }
  CloneSettings.sourceMapItem = -1;
  RunClonePageModal(nullptr);
}
