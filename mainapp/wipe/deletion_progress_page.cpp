#include "mainapp/wipe/deletion_progress_page.h"

#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/layout_clearing.h"
#include "disk/volume_space.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/deletion_summary_page.h"
#include "mainapp/wipe/deletion_texts.h"
#include "mainapp/wipe/overwrite_engine.h"
#include "mainapp/wipe/sector_viewer_page.h"
#include "mainapp/wipe/select_method_page.h"
#include "platform/core/clock.h"
#include "platform/core/ctime.h"
#include "platform/fs/file_api.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/shell_state.h"
#include "program_support/wait_cursor.h"

BEGIN_MESSAGE_MAP(CDeletionProgress, CDialog)
  ON_BN_CLICKED(kStart, &CDeletionProgress::StartDeletion)
  ON_BN_CLICKED(kBack, &CDeletionProgress::OnBack)
END_MESSAGE_MAP()

CDeletionProgress::CDeletionProgress(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CDeletionProgress::OnInitDialog() {
  CDialog::OnInitDialog();
  DeleteRunning = 0;
  DiskContext.ioErrorCount = 0;
  ApplyPageHeader(*this, fonts_, u"IDS_DelProgCap");
  SetDlgItemText(1004, LookupString(u"IDS_DelProgH2"));
  SetDlgItemText(1001, LookupString(u"IDS_Confirm"));
  SetDlgItemText(1012, LookupString(u"IDS_DelProg1"));
  SetDlgItemText(1052, LookupString(u"IDS_DiskPartition") + u":");
  SetDlgItemText(1054, LookupString(u"IDS_DelProg2"));
  SetDlgItemText(1002, LookupString(u"IDS_Progress"));
  SetDlgItemText(1065, LookupString(u"IDS_CurrPros"));
  SetDlgItemText(1020, LookupString(u"IDS_ElapsedTime"));
  SetDlgItemText(kBack, LookupString(u"IDS_Back"));
  SetDlgItemText(kStart, LookupString(u"IDS_StartDel"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  SetDlgItemText(1053, DeletionTargetText(DiskSelection));
  SetDlgItemText(1055, GetAlgoName(SelectedWipeMethod + 1));
  SetDlgItemText(kIdElapsedText, u"00:00:00");
  return TRUE;
}

void CDeletionProgress::OnBack() {
  EndDialog(IDCANCEL);
  CSelectDeleteMethod method;
  method.DoModal();
}

void CDeletionProgress::OnCancel() {
  if (MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_DeleteCancel"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDNO)
    return;
  DeleteAbortRequested = 1;
  if (!DeleteRunning) EndDialog(IDCANCEL);
}

void CDeletionProgress::StartDeletion() {
  DiskContext.ioErrorCount = 0;
  if (MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_DeleteWarning"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDNO)
    return;
  DeleteAbortRequested = 0;
  DeleteRunning = 1;
  if (CWnd* w = GetDlgItem(kStart)) w->EnableWindow(FALSE);
  if (CWnd* w = GetDlgItem(kBack)) w->EnableWindow(FALSE);

  DiskSelectionRecord& target = DiskSelection;
  const int32_t disk = target.diskNumber.value;
  SeedRandom();
  ReadDiskGeometry(disk);
  bool cleared = false;
  if (target.kind == kSelectionWholeDisk) {
    // The first 2 GiB go too when the clone settings name a GPT job.
    cleared = ClearDiskLayout(disk, CloneSettings.sourceIsGpt != 0 || CloneSettings.convertToGpt != 0);
    Sleep(1000);
  }
  // Each pass flushes once at its end instead of after every chunk.
  OpenDiskForBulkWrites(disk);
  DeleteStartTime = CTime::GetCurrentTime().GetTime();
  PumpMessages(GetSafeHwnd());
  Sleep(1000);
  DeleteStartText = CTime(DeleteStartTime).Format(dateFormat + u" %H:%M");
  ViewerSector = 0;
  target.cursor = target.startSector;
  SetWaitCursor();

  // A partition's volume is locked while it is overwritten; a whole disk's
  // only when its layout could not be cleared (the volume at its start).
  // A partition without a file system has no volume to lock.
  HANDLE volume = INVALID_HANDLE_VALUE;
  const bool raw = std::u16string_view(target.fileSystemName) == u"RAW";
  const bool lock = target.kind == kSelectionWholeDisk ? !cleared : !raw;
  if (lock) {
    const int32_t m = SectorMultiplierOf(disk);
    const uint64_t byteOffset = target.startSector * static_cast<uint64_t>(m > 0 ? m : 1) * 512;
    const CString path = FindVolumeByExtent(disk, byteOffset);
    if (!path.IsEmpty()) {
      volume = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      if (volume != INVALID_HANDLE_VALUE) LockVolume(volume);
    }
  }
  RestoreCursor();

  RunDeleteMethod(this, target, SelectedWipeMethod);

  if (volume != INVALID_HANDLE_VALUE) UnlockVolume(volume);
  // The first sector for the report; a native sector larger than the
  // snapshot is read whole and cut.
  const int32_t m = SectorMultiplierOf(disk) > 0 ? SectorMultiplierOf(disk) : 1;
  std::vector<uint8_t> sector(static_cast<size_t>(m) * 512 > kSnapshotBytes ? static_cast<size_t>(m) * 512
                                                                            : kSnapshotBytes);
  std::memset(DeleteSnapshotSector, 0, kSnapshotBytes);
  if (ReadDiskSectors(sector.data(), target.startSector, 1) == 0)
    std::memcpy(DeleteSnapshotSector, sector.data(), kSnapshotBytes);
  if (volume != INVALID_HANDLE_VALUE) CloseHandle(volume);
  CloseCurrentDisk();

  if (!DeleteAbortRequested)
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_DeleteOver"), ShellState.messageCaption, MB_OK);
  EndDialog(IDCANCEL);
  CDeleteProgressSummary summary;
  summary.DoModal();
}
