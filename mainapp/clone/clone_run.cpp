// RunClone, the Start button of the clone page: the whole clone the wizard
// prepared, on the user-interface thread, from the optional pre-scan to the
// summary page. Three kinds of run, by CloneSettings:
//   sector by sector  (partition mode off, basic off): the disk copied raw;
//   single partition  (partition mode on): one partition onto another;
//   basic whole disk  (partition mode off, basic on): new table, mount wait,
//     formats, each partition copied by files (or by sectors), boot repair.
#include <algorithm>
#include <iterator>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/shadow_copy.h"
#include "disk/volume_formatter.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_format.h"
#include "mainapp/clone/clone_page.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/clone_stage_calls.h"
#include "mainapp/clone/clone_summary_page.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/clone/prescan_page.h"
#include "mainapp/clone/raw_copy.h"
#include "mainapp/clone/tree_copy.h"
#include "mainapp/records/clone_counters.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/clock.h"
#include "platform/core/ctime.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"
#include "platform/ui/message_box.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"
#include "program_support/wait_cursor.h"

namespace {

void EnableItem(CWnd& page, int id, bool enable) {
  if (CWnd* item = page.GetDlgItem(id)) item->EnableWindow(enable ? TRUE : FALSE);
}

// A run starts from clean per-run values: nothing of an earlier run (its
// boot store, system partition or descriptions) may steer this one.
void ResetRunValues() {
  CloneRunState.progressPartitionCount = 0;
  CloneRunState.copiedBytes = 0;
  CloneRunState.copiedSectors = 0;
  CloneRunState.operationSectors = 0;
  CloneRunState.copyTotalSectors = 0;
  CloneRunState.verifyMismatchCount = 0;
  CloneRunState.verifyDifferingFiles = 0;
  CloneRunState.verifyUncomparedFiles = 0;
  CloneRunState.skippedItemCount = 0;
  CloneRunState.skippedItems.Empty();
  CloneRunState.offlineRepairFailed = 0;
  CloneRunState.bootFixSource.Empty();
  CloneRunState.sourceVolumeText.Empty();
  CloneRunState.sourceDisplayText.Empty();
  CloneRunState.destinationVolumeText.Empty();
  CloneRunState.systemDestinationText.Empty();
  CloneRunState.systemSourceVolume.Empty();
  CloneRunState.systemDestinationCopy.Empty();
  CloneRunState.systemEntryIndex = -1;
  CloneRunState.copyDescription.Empty();
  CloneRunState.currentItemText.Empty();
  CloneRunState.copyItemCount = 0;
  ShellState.bootFixDrive.Empty();
  CloneCounters = CloneCountersRecord{};
  LinkNaming = LinkNamingRecord{};
}

// The units the run expects to copy: the used space (and a quarter more) of
// each lettered partition, the whole length of the others.
uint64_t ExpectedUnits(int32_t count) {
  uint64_t total = 0;
  for (int32_t k = 0; k < count && k < kMaxLayoutEntries; ++k) {
    const LayoutEntry& e = DiskContext.layoutTable[k];
    // The logical drives count, not the extended partitions holding them.
    if (platform::storage::IsExtendedType(e.fsCode) || e.newLengthBytes == 0) continue;
    if (e.driveLetter > 0) {
      const uint64_t used = GetVolumeUsedSectors(static_cast<WCHAR>(e.driveLetter));
      total += used + used / 4;
    } else {
      total += e.lengthBytes / 512;
    }
  }
  return total;
}

// The time the run took so far, for the summary.
void RecordElapsedTime() {
  CloneCounters.cloneElapsedTime = CTime::GetCurrentTime().GetTime() - CloneRunState.operationStart;
}

bool RootHas(const CString& root, const char16_t* path) {
  CString full = root;
  if (!full.IsEmpty() && full[full.GetLength() - 1] != u'\\') full += u"\\";
  full += path;
  return GetFileAttributesW(full) != INVALID_FILE_ATTRIBUTES;
}

// How the copy's links name the volumes a basic whole-disk clone copies by
// files (entries first..count-1, the new volumes formatted): a copy holding
// a system takes the source's place and gives its volumes the source's
// letters, so its links keep their names; the volumes of a data copy keep
// the names they have now (a letter, else the volume path).
LinkNamingRecord PlanLinkNaming(int32_t first, int32_t count, int32_t destinationPhysical) {
  LinkNamingRecord naming;
  for (int32_t k = first; k < count && k < kMaxLayoutEntries; ++k) {
    const LayoutEntry& e = DiskContext.layoutTable[k];
    if (e.newLengthBytes == 0 || e.lengthBytes == 0 || e.driveLetter <= 0) continue;
    const WCHAR letter = static_cast<WCHAR>(e.driveLetter);
    if (HasWindowsSystem32(letter)) naming.keepNames = true;
    const CString copy = e.newDriveLetter > 0 ? MakeDriveText(static_cast<WCHAR>(e.newDriveLetter))
                                              : FindVolumeByExtent(destinationPhysical, e.newStartBytes);
    if (!copy.IsEmpty()) naming.volumes.push_back({MakeDriveText(letter), copy});
  }
  return naming;
}

// Names layout entry k in the summary's list of what was not copied.
void RecordPartitionLeftOut(int32_t k) {
  ++CloneRunState.skippedItemCount;
  if (CloneRunState.skippedItemCount <= kSkippedItemsListed)
    CloneRunState.skippedItems += LookupString(u"IDS_Partition") + u" " + Int64ToText(k + 1) + u"\r\n";
}

// Copies entry k by sectors onto its planned place with the destination
// volume locked (a partition without a copyable volume, or any partition
// when the file-level copy is not part of the build).
void CopyEntryRaw(CWnd* page, int32_t k, bool verify) {
  const LayoutEntry& entry = DiskContext.layoutTable[k];
  if (entry.newLengthBytes < entry.lengthBytes) {
    // Its sectors do not fit the smaller place the plan gives it, and cut
    // short they would be a damaged partition: left out, and named.
    RecordPartitionLeftOut(k);
    return;
  }
  const int32_t destination = ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).value;
  const CString w = FindVolumeByExtent(destination, DiskContext.layoutTable[k].newStartBytes);
  HANDLE volume = INVALID_HANDLE_VALUE;
  if (!w.IsEmpty())
    volume = CreateFileW(w, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (volume != INVALID_HANDLE_VALUE) LockVolume(volume);
  CopyPartitionSectors(page, CloneSettings.copySourceDisk, CloneSettings.chosenDestinationDisk, k, RawPass::Copy);
  if (verify && !CloneRunState.cloneAborted)
    CopyPartitionSectors(page, CloneSettings.copySourceDisk, CloneSettings.chosenDestinationDisk, k, RawPass::Verify);
  if (volume != INVALID_HANDLE_VALUE) {
    UnlockVolume(volume);
    CloseHandle(volume);
  }
}

// BootFixMarker: "ZyX" and the letter of the drive that holds \BOOT\BCD, at
// byte 440 of the destination's native sector 1.
constexpr size_t kBootFixMarkerOffset = 440;
constexpr uint8_t kBootFixMarkerTag[] = {'Z', 'y', 'X'};

// Under WinPE a sector-by-sector copy names the first drive from C: to Y:
// that holds a boot store: as the drive to fix (bootFixDrive) and in the
// BootFixMarker of the destination.
void MarkBootFixDrive(ListedDiskIndex destinationListed) {
  for (WCHAR letter = u'C'; letter <= u'Y'; ++letter) {
    if (!DriveHasBootBcd(letter)) continue;
    ShellState.bootFixDrive = MakeDriveText(letter);
    const int32_t physical = ListedPhysicalDisk(destinationListed).value;
    HANDLE h = OpenDiskHandle(physical);
    if (h) {
      const int32_t m = SectorMultiplierOf(physical) > 0 ? SectorMultiplierOf(physical) : 1;
      std::vector<uint8_t> sector(static_cast<size_t>(m) * 512);
      if (ReadSectorsAt(h, sector.data(), static_cast<uint64_t>(m), m) == sector.size()) {
        uint8_t* marker = sector.data() + kBootFixMarkerOffset;
        std::copy(std::begin(kBootFixMarkerTag), std::end(kBootFixMarkerTag), marker);
        marker[std::size(kBootFixMarkerTag)] = static_cast<uint8_t>(letter);
        WriteSectorsAt(h, sector.data(), static_cast<uint64_t>(m), m);
      }
      CloseDeviceHandle(h);
    }
    return;
  }
}

// The scan target of the pre-scan: the destination partition in partition
// mode, else the whole destination disk.
DiskSelectionRecord PreScanTarget() {
  const ListedDiskIndex listed = CloneSettings.chosenDestinationDisk;
  const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
  if (CloneSettings.partitionMode && DestinationSelection.kind == kSelectionPartition &&
      DestinationSelection.diskNumber == physical)
    return DestinationSelection;
  DiskSelectionRecord target{};
  target.diskNumber = physical;
  target.kind = kSelectionWholeDisk;
  target.driveLetter = u' ';
  SetSelectionModel(target, ListedModel(listed));
  const int32_t m = std::max(SectorMultiplierOf(physical.value), 1);
  target.sectorCount = ListedSize(listed) / static_cast<uint64_t>(m);
  return target;
}

}  // namespace

bool RunPreCloneScan() {
  if (ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).is_none()) return false;
  ScanTarget = PreScanTarget();
  ScanState.scanAutomatic = 1;
  CBadSectorScanSummary scan;
  scan.DoModal();
  return true;
}

void CClone::CopySinglePartition(const CString& sourceDrive, const CString& destinationDrive) {
  PumpClonePage(this);
  ShowCloneStatus(this, LookupString(u"IDS_CopyBlock"));
  CloneRunState.operationSectors = 0;
  if (ShellState.winPEMode && RootHas(sourceDrive, u"BOOT\\BCD")) {
    CloneRunState.bootFixSource = sourceDrive;
    ShellState.bootFixDrive = destinationDrive;
  } else {
    ShellState.bootFixDrive.Empty();
  }
  CloneRunState.copyDescription = CloneRunState.statusText + u" (" + sourceDrive + u" " + LookupString(u"IDS_To") +
                                  u" " + destinationDrive + u")";
  FolderDepth = 0;
  CloneRunState.currentItemText = u".";
  CloneRunState.copyItemCount = 0;
  // A copied system starts as the source's letter: its links keep their names.
  LinkNaming = LinkNamingRecord{};
  LinkNaming.keepNames = RootHas(sourceDrive, u"WINDOWS\\SYSTEM32");
  CopyPartitionByFiles(sourceDrive, destinationDrive, false);
  if (CloneSettings.verifyAfterCopy && !CloneRunState.cloneAborted) {
    ShowCloneStatus(this, LookupString(u"IDS_Verifying"));
    CloneRunState.copyDescription = CloneRunState.statusText + u" (" + destinationDrive + u")";
    CopyPartitionByFiles(sourceDrive, destinationDrive, true);
  }
  if (!CloneRunState.cloneAborted) TransplantBootSectorStage(sourceDrive, destinationDrive);
  if (!CloneRunState.cloneAborted) BindCopiedVolumeStage(sourceDrive, destinationDrive);
  if (!CloneRunState.cloneAborted) CopyDiskSignatureStage();
}

// Long on purpose: one pass from Start to the summary, each stage behind the same abort flag, read in run order.
void CClone::RunClone() {
  const CString to = CString(u" ") + LookupString(u"IDS_To") + u" ";
  const ListedDiskIndex source = CloneSettings.copySourceDisk;
  const ListedDiskIndex destination = CloneSettings.chosenDestinationDisk;
  const bool verify = CloneSettings.verifyAfterCopy != 0;
  if (CloneRunState.cloneRunning) return;
  ResetRunValues();

  bool skipToEnd = false;
  // The scan's cancel flag counts only when the scan ran for this run: a
  // stand-alone scan cancelled earlier must not stop a clone.
  if (CloneSettings.badSectorScan && RunPreCloneScan() && ScanState.scanCancelled) {
    if (MessageBoxW(m_hWnd, LookupString(u"IDS_SkipScan"), ShellState.messageCaption,
                    MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES) {
      CloneRunState.cloneAborted = 1;
      skipToEnd = true;
    }
  }
  // Source and destination must be two different listed disks; a run that
  // would copy a disk onto itself does nothing.
  if (!skipToEnd && (ListedPhysicalDisk(source).is_none() || ListedPhysicalDisk(destination).is_none() ||
                     ListedPhysicalDisk(source) == ListedPhysicalDisk(destination))) {
    CloneRunState.cloneAborted = 1;
    skipToEnd = true;
  }
  // A basic whole-disk copy needs a plan that fits the destination; without
  // one the destination is left untouched.
  if (!skipToEnd && !CloneSettings.partitionMode && CloneSettings.basicDuplication &&
      !PlanFitsDestination(ReadDiskGeometry(ListedPhysicalDisk(destination).value))) {
    MessageBoxW(m_hWnd, u"Partition Error", nullptr, MB_OK);
    CloneRunState.cloneAborted = 1;
    skipToEnd = true;
  }

  if (!skipToEnd) {
    // The pre-scan page borrowed the shared bar and let it go when it closed.
    TakeProgressBar();
    DiskContext.ioErrorCount = 0;
    CloneRunState.operationStart = CTime::GetCurrentTime().GetTime();
    CloneRunState.cloneRunning = 1;
    // The file copy shows its progress on this page and keeps it answering.
    CopyProgressPage = m_hWnd;
    EnableItem(*this, clone_items::kBack, false);
    EnableItem(*this, clone_items::kStart, false);
    RedrawWindow();

    if (!CloneSettings.partitionMode && !CloneSettings.basicDuplication) {
      // Sector by sector.
      CopyDiskSectors(this, source, destination, RawPass::Copy);
      CloneRunState.copiedBytes = CloneRunState.copiedSectors * 512;
      if (!CloneRunState.cloneAborted) {
        if (verify) CopyDiskSectors(this, source, destination, RawPass::Verify);
        if (ShellState.winPEMode) MarkBootFixDrive(destination);
      }
      ShowCloneStatus(this, LookupString(u"IDS_CopyComplete"));
    } else {
      const int32_t count = CloneSettings.partitionMode ? 0 : PlannedPartitionCount();
      CloneRunState.progressPartitionCount = CloneSettings.partitionMode ? 0 : std::max<int32_t>(count, 1);
      CloneRunState.copyTotalSectors = ExpectedUnits(count);
      EnableItem(*this, clone_items::kCancel, false);
      Sleep(200);
      RedrawWindow();
      Sleep(200);
      const int32_t n = CloneRunState.progressPartitionCount;
      SetCloneProgressRange32(this, CloneProgressEnd(n, verify));
      SetWaitCursor();
      ShowCloneStatus(this, LookupString(u"IDS_CREATEPART"));

      if (CloneSettings.partitionMode) {
        RestoreCursor();
        // The drive texts ("C:") of the two partitions, from their letters
        // (the descriptions end in sizes, not in drive texts).
        auto driveText = [](int32_t letter) {
          return letter > u' ' ? CString(static_cast<WCHAR>(letter & ~0x20)) + u":" : CString();
        };
        const CString sourceDrive = driveText(CloneSettings.sourceLetter);
        const CString destinationDrive = driveText(DestinationSelection.driveLetter);
        ShowCloneStatus(this, LookupString(u"IDS_FORMATTING") + u" (" + destinationDrive + u")");
        bool formatFailed = false;
        const int32_t t = CloneSettings.copySourceFsCode;
        if (CloneSettings.basicDuplication && t != FS_EXFAT && destinationDrive.GetLength() == 2) {
          FormatRequest.driveIndex = destinationDrive[0] - u'A';
          FormatRequest.quickFlag = 1;
          const uint64_t mb = DestinationSelection.sectorCount * std::max(SectorMultiplierOf(DestinationSelection.diskNumber.value), 1) / 2048;
          // The size rule: any FAT from 4096 MB on is FAT32, and NTFS from
          // 32768 MB on or when the source was NTFS. Its siblings:
          // BuildDestinationLayout, FormatNewPartitions,
          // FormatSelectedPartition and FillFileSystemList.
          int32_t code = t;
          if (mb >= 4096 && code <= FS_FAT16) code = FS_FAT32;
          if (mb >= 32768 || t == FS_NTFS) code = FS_NTFS;
          FormatRequest.fileSystemCode = code;
          FormatRequest.clusterUnits = code == FS_NTFS ? 0 : FormatRequest.clusterUnits;
          FormatRequest.fat32Flag = code >= FS_FAT32_CHS ? 1 : 0;
          formatFailed = FormatVolumeForClone(this, &FormatRequest) == 0;
        }
        EnableItem(*this, clone_items::kCancel, true);
        if (formatFailed) {
          RecordElapsedTime();
          MessageBoxW(m_hWnd, LookupString(u"IDS_cannotformat"), ShellState.messageCaption, MB_ICONEXCLAMATION);
          // Nothing was copied: the summary must not say the copy completed.
          CloneRunState.cloneAborted = 1;
          EndRun();
          return;
        }
        CopySinglePartition(sourceDrive, destinationDrive);
        ShowCloneStatus(this, LookupString(u"IDS_CopyComplete"));
      } else {
        // Basic whole disk.
        CreateDestinationLayout(this, source, destination);
        RestoreCursor();
        ShowCloneStatus(this, LookupString(u"IDS_FORMATTING"));
        if (!FormatNewPartitions(this, source, destination)) {
          CloneRunState.cloneAborted = 1;
          RecordElapsedTime();
          EndRun();
          return;
        }
        EnableItem(*this, clone_items::kCancel, true);
        CloneRunState.operationSectors = 0;
        ShellState.bootFixDrive.Empty();
        const int32_t sourcePhysical = ListedPhysicalDisk(source).value;
        const int32_t destinationPhysical = ListedPhysicalDisk(destination).value;
        LinkNaming = PlanLinkNaming(CloneSettings.convertToGpt ? 1 : 0, count, destinationPhysical);
        for (int32_t k = CloneSettings.convertToGpt ? 1 : 0; k < count; ++k) {
          if (CloneRunState.cloneAborted) break;
          const LayoutEntry& e = DiskContext.layoutTable[k];
          // An extended partition holds no data of its own: the new table
          // already has its chain, and each logical drive is copied as an
          // entry of its own. Its sectors copied raw would carry the source's
          // chain over the new one where the plan moved or resized a drive.
          if (e.newLengthBytes == 0 || platform::storage::IsExtendedType(e.fsCode)) continue;
          const CString v = PrepareSourceVolume(k, sourcePhysical);
          if (v.IsEmpty()) {
            CopyEntryRaw(this, k, verify);
            // Where the source's volume holds the system, the copy is the
            // system partition of the destination.
            if (e.driveLetter > 0 && HasWindowsSystem32(static_cast<WCHAR>(e.driveLetter))) {
              CloneRunState.systemDestinationText = e.newDriveLetter > 0 ? MakeDriveText(static_cast<WCHAR>(e.newDriveLetter)) : CString(u":");
              CloneRunState.systemEntryIndex = k;
            }
            continue;
          }
          if (e.lengthBytes == 0) continue;
          CloneRunState.sourceVolumeText = v;
          CloneRunState.sourceDisplayText = e.driveLetter > 0 ? MakeDriveText(static_cast<WCHAR>(e.driveLetter)) : v;
          CloneRunState.destinationVolumeText = e.newDriveLetter > 0
                                                    ? MakeDriveText(static_cast<WCHAR>(e.newDriveLetter))
                                                    : FindVolumeByExtent(destinationPhysical, e.newStartBytes);
          // No new volume at the planned place: nothing is copied (an empty
          // destination would name the current drive), and the partition is
          // named as not copied.
          if (CloneRunState.destinationVolumeText.IsEmpty()) {
            ReleaseShadowCopy();
            RecordPartitionLeftOut(k);
            ++DiskContext.ioErrorCount;
            continue;
          }
          if (RootHas(v, u"BOOT\\BCD")) {
            CloneRunState.bootFixSource = v;
            ShellState.bootFixDrive = CloneRunState.destinationVolumeText;
          }
          if (RootHas(v, u"WINDOWS\\SYSTEM32")) {
            CloneRunState.systemDestinationText =
                e.newDriveLetter > 0 ? MakeDriveText(static_cast<WCHAR>(e.newDriveLetter)) : CString(u":");
            CloneRunState.systemSourceVolume = ShadowSourceVolume.IsEmpty() ? v : ShadowSourceVolume;
            CloneRunState.systemDestinationCopy = CloneRunState.systemDestinationText;
            CloneRunState.systemEntryIndex = k;
          }
          FolderDepth = 0;
          CloneRunState.currentItemText = u".";
          CloneRunState.copyItemCount = 0;
          ShowCloneStatus(this, LookupString(u"IDS_CopyBlock"));
          CString description = CloneRunState.statusText + u" (" + CloneRunState.sourceDisplayText + to +
                                CloneRunState.destinationVolumeText + u")";
          if (description.Find(u"\\Device\\", 1) > 0 || description.Find(u"\\\\?\\", 1) > 0)
            description = CloneRunState.statusText;
          CloneRunState.copyDescription = description;
          CopyPartitionByFiles(v, CloneRunState.destinationVolumeText, false);
          if (verify && !CloneRunState.cloneAborted) {
            ShowCloneStatus(this, LookupString(u"IDS_Verifying"));
            CloneRunState.copyDescription = CloneRunState.statusText + u" (" + CloneRunState.destinationVolumeText + u")";
            CopyPartitionByFiles(v, CloneRunState.destinationVolumeText, true);
          }
          // The new volume starts with its formatter's boot code: the
          // source's moves over it, so the copy starts as the source does.
          if (!CloneRunState.cloneAborted)
            TransplantBootCodeStage(sourcePhysical, e.startBytes, destinationPhysical, e.newStartBytes);
          ShowCloneStatus(this, LookupString(u"IDS_CopyComplete"));
        }
        // The offline repair only for a finished copy that holds a system.
        const bool gpt = CloneSettings.convertToGpt || CloneSettings.sourceIsGpt;
        if (gpt && !CloneRunState.cloneAborted && CloneRunState.systemDestinationText.GetLength() == 2)
          RepairGptSystemStage(destination, CloneRunState.systemDestinationText);
        if (!CloneRunState.cloneAborted) CopyBootCodeStage(source, destination);
        // The copy keeps its own disk signature until the summary gives it
        // the source's: its system names its partitions on this disk.
        if (!gpt && !CloneRunState.cloneAborted) BindCopiedSystemStage(source, destination);
        if (HANDLE h = OpenDiskHandle(destinationPhysical)) {
          DWORD returned = 0;
          DeviceIoControl(h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
          CloseDeviceHandle(h);
        }
        ShowCloneStatus(this, LookupString(u"IDS_CopyComplete"));
      }
      SetCloneProgressPos32(this, CloneProgressEnd(count, verify));
      RedrawWindow();
    }

    LinkNaming = LinkNamingRecord{};
    // The time taken is the work's, not the time the result message stays open.
    RecordElapsedTime();
    if (CloneRunState.cloneAborted) {
      MessageBoxW(m_hWnd, LookupString(u"IDS_Unusable"), ShellState.messageCaption, MB_ICONEXCLAMATION);
    } else if (CloneRunHadErrors()) {
      MessageBoxW(m_hWnd, LookupString(u"IDS_CloningOverErrors"), ShellState.messageCaption, MB_ICONEXCLAMATION);
    } else {
      MessageBoxW(m_hWnd, LookupString(u"IDS_CloningOver"), ShellState.messageCaption, MB_OK);
    }
    CloneRunState.copiedSectors = CloneRunState.copiedBytes / 512;
    if (CloneRunState.cloneAborted && CloneSettings.basicDuplication && ShellState.winPEMode &&
        !ShellState.bootFixDrive.IsEmpty())
      DeleteFileW(ShellState.bootFixDrive + u"\\BOOT\\BootFix");
  }
  EndRun();
}

void CClone::EndRun() {
  CloneRunState.cloneRunning = 0;
  CopyProgressPage = nullptr;
  ReleaseShadowCopy();
  CDialog::OnCancel();
  CMirrorProgressSummary summary;
  summary.DoModal();
}
