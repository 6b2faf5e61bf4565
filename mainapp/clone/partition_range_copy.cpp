#include "mainapp/clone/partition_range_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/kobject.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "program_support/boot_ini_fix.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

namespace {

constexpr int kEntryTable = 446;

uint64_t Multiplier(int32_t disk) {
  const int32_t m = SectorMultiplierOf(disk);
  return m > 0 ? static_cast<uint64_t>(m) : 1;
}

// The drive text "X:" before the first ":)" of a description, empty when
// the description names no partition.
CString DriveOfDescription(const CString& description) {
  if (description.Find(LookupString(u"IDS_Partition")) < 0) return CString();
  const int at = description.Find(u":)");
  if (at < 1) return CString();
  return description.Mid(at - 1, 2);
}

HANDLE OpenDriveVolume(const CString& drive) {
  if (drive.GetLength() != 2) return nullptr;
  const HANDLE h = OpenVolumeDevice(drive[0]);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// The 1-based slot of the MBR entry of `disk` whose start is `start`
// (512-byte units, as the entry's 32-bit field counts them on a 512-byte
// disk; native sectors otherwise), 0 when none.
int32_t MbrSlotOf(HANDLE disk, int32_t physical, uint64_t start) {
  const uint64_t m = Multiplier(physical);
  std::vector<uint8_t> sector(m * 512);
  if (ReadSectorsAt(disk, sector.data(), 0, static_cast<int32_t>(m)) != sector.size()) return 0;
  for (int32_t i = 0; i < 4; ++i) {
    uint32_t first = 0;
    std::memcpy(&first, sector.data() + kEntryTable + 16 * i + 8, 4);
    if (first != 0 && first == start / m) return i + 1;
  }
  return 0;
}

// Reads, changes and writes back one native table sector of a disk.
template <typename Change>
bool RewriteTableSector(int32_t physical, uint64_t nativeSector, Change change) {
  const HANDLE disk = OpenDiskHandle(physical);
  if (!disk) return false;
  const uint64_t m = Multiplier(physical);
  std::vector<uint8_t> sector(m * 512);
  bool written = false;
  if (ReadSectorsAt(disk, sector.data(), nativeSector * m, static_cast<int32_t>(m)) == sector.size() &&
      change(sector.data()))
    written = WriteSectorsAt(disk, sector.data(), nativeSector * m, static_cast<int32_t>(m)) == sector.size();
  CloseDeviceHandle(disk);
  return written;
}

}  // namespace

bool PreparePartitionRange(PartitionRangeJob* job) {
  *job = PartitionRangeJob{};
  job->sourceListed = CloneSettings.copySourceDisk;
  job->destinationListed = CloneSettings.chosenDestinationDisk;
  const PhysicalDiskNumber destinationDisk = ListedPhysicalDisk(job->destinationListed);
  const int32_t source = ListedPhysicalDisk(job->sourceListed).value;
  const int32_t destination = destinationDisk.value;
  if (source < 0 || destinationDisk.is_none() || DestinationSelection.diskNumber != destinationDisk) return false;
  ReadDiskGeometry(destination);
  ReadDiskGeometry(source);
  const uint64_t m = Multiplier(destination);
  job->range = RawRange{source, destination, CloneSettings.copySourceStart, DestinationSelection.startSector * m,
                        CloneSettings.copySourceLength};
  job->destinationLength = DestinationSelection.sectorCount * m;
  if (job->range.count == 0 || job->destinationLength < job->range.count) return false;
  if (source == destination && job->range.sourceStart < job->range.destinationStart + job->destinationLength &&
      job->range.destinationStart < job->range.sourceStart + job->range.count)
    return false;
  // A tail that is not a whole native sector of both disks cannot be moved.
  const uint64_t grain = std::max(Multiplier(source), m);
  job->range.count -= job->range.count % grain;
  const int32_t count = ReadPartitionList(sharedPartitionBuffer, destination);
  for (int32_t k = 0; k < std::min(count, kMaxPartitions); ++k) {
    const PartitionEntry& p = sharedPartitionBuffer[k];
    if (p.start != job->range.destinationStart || p.slot > 3) continue;
    job->destinationTable = p.ebrSector;
    job->destinationSlot = p.slot;
    break;
  }
  return true;
}

RangeVolumes::RangeVolumes() {
  const CString sourceDrive = DriveOfDescription(CloneSettings.sourceDescription);
  if (sourceDrive.IsEmpty()) return;
  opened_ = true;
  source_ = OpenDriveVolume(sourceDrive);
  destination_ = OpenDriveVolume(DriveOfDescription(CloneSettings.destinationDescription));
  if (destination_) LockVolume(destination_);
}

RangeVolumes::~RangeVolumes() {
  if (source_) CloseHandle(source_);
  if (destination_) {
    UnlockVolume(destination_);
    CloseHandle(destination_);
  }
}

void FinishPartitionRange(CWnd* page, const PartitionRangeJob& job, bool volumesOpened) {
  const int32_t destination = job.range.destinationDisk;
  if (job.destinationSlot < 0) return;  // no table entry starts at the copy: nothing to fix
  const uint64_t m = Multiplier(destination);
  if (CloneSettings.partitionMode) {
    RewriteTableSector(destination, job.destinationTable, [&](uint8_t* sector) {
      uint8_t* entry = sector + kEntryTable + 16 * job.destinationSlot;
      const uint32_t count = static_cast<uint32_t>(job.range.count / m);
      std::memcpy(entry + 12, &count, 4);
      entry[4] = static_cast<uint8_t>(CloneSettings.copySourceFsCode);
      return true;
    });
  }
  int32_t recordedSlot = job.sourceMbrSlot;
  if (CloneSettings.sourceActive && job.destinationTable == 0) {
    bool other = false;
    bool signed_table = false;
    const HANDLE disk = OpenDiskHandle(destination);
    if (disk) {
      std::vector<uint8_t> sector(m * 512);
      if (ReadSectorsAt(disk, sector.data(), 0, static_cast<int32_t>(m)) == sector.size()) {
        signed_table = sector[510] == 0x55 && sector[511] == 0xAA;
        for (int32_t i = 0; i < 4; ++i)
          if (i != job.destinationSlot && sector[kEntryTable + 16 * i] == 0x80) other = true;
      }
      CloseDeviceHandle(disk);
    }
    if (signed_table) {
      recordedSlot = job.destinationSlot + 1;
      const bool make = !other || MessageBoxW(page ? page->GetSafeHwnd() : nullptr, LookupString(u"IDS_MakeActive"),
                                              ShellState.messageCaption,
                                              MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES;
      if (make) {
        RewriteTableSector(destination, 0, [&](uint8_t* sector) {
          for (int32_t i = 0; i < 4; ++i) sector[kEntryTable + 16 * i] = i == job.destinationSlot ? 0x80 : 0;
          return true;
        });
      }
    }
  }
  if (volumesOpened && CloneSettings.sourceActive && recordedSlot != job.destinationMbrSlot)
    RegisterBootIniFix(0, job.destinationListed.value);
}

namespace {

void ShowRangeProgress(CWnd* page, uint64_t done) {
  SetCloneProgressPos(page, done, CloneRunState.copyTotalSectors);
  if (!page) return;
  page->SetDlgItemText(clone_items::kCopied, FormatSectorCount(done));
  ShowElapsedTime(page);
}

void RangeProgress(CWnd* page, uint64_t done, void* context) {
  auto* position = static_cast<PacedPosition*>(context);
  if (position->Take(done)) ShowRangeProgress(page, done);
}

}  // namespace

bool CopyPartitionRange(CWnd* page, RawPass pass) {
  PumpClonePage(page);
  PartitionRangeJob job;
  if (!PreparePartitionRange(&job)) {
    // Nothing is written onto a destination that cannot take the source.
    CloneRunState.cloneAborted = 1;
    return false;
  }
  CloneRunState.copyTotalSectors = job.range.count;
  SetCloneProgressRange(page, job.range.count);
  ShowCloneStatus(page, CloneRunState.copyDescription + CloneRunState.currentItemText);
  RangeVolumes volumes;
  FindRangeMbrSlots(&job);
  ReadDiskGeometry(job.range.sourceDisk);
  const int32_t block = RawBlockUnits(DiskContext.lastSectorsPerTrack);
  PacedPosition position(job.range.count);
  const RawPassResult result = RunRawPass(page, job.range, pass, block, &RangeProgress, &position);
  if (position.pending) ShowRangeProgress(page, position.last);
  if (!result.started) return false;
  if (pass == RawPass::Copy) CloneRunState.operationSectors = result.unitsDone;
  if (pass == RawPass::Copy && !CloneRunState.cloneAborted) FinishPartitionRange(page, job, volumes.opened());
  return true;
}

void FindRangeMbrSlots(PartitionRangeJob* job) {
  const HANDLE source = OpenDiskHandle(job->range.sourceDisk);
  const HANDLE destination = OpenDiskHandle(job->range.destinationDisk);
  if (source) job->sourceMbrSlot = MbrSlotOf(source, job->range.sourceDisk, job->range.sourceStart);
  if (destination)
    job->destinationMbrSlot = MbrSlotOf(destination, job->range.destinationDisk, job->range.destinationStart);
  if (source) CloseDeviceHandle(source);
  if (destination) CloseDeviceHandle(destination);
}
