#include "mainapp/clone/clone_format.h"

#include <cstdio>
#include <cstring>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/shadow_copy.h"
#include "disk/volume_formatter.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/fs/shell_folders.h"
#include "platform/process/thread.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

uint64_t FormattingMarker = UINT64_MAX;

namespace {

constexpr DWORD kPollMs = 200;

void ShowPercent(CWnd* page, int32_t percent) {
  if (!page) return;
  CString text;
  text.Format(u"(%d%%)", percent);
  page->SetDlgItemText(clone_items::kFormatPercent, text);
}

void ShowPercentItem(CWnd* page, bool show) {
  if (!page) return;
  if (CWnd* item = page->GetDlgItem(clone_items::kFormatPercent)) item->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

int32_t FormatUnderWinPE(const FormatRequestRecord& request) {
  char command[64];
  WinPEFormatCommand(static_cast<char16_t>(u'A' + request.driveIndex), request.fileSystemCode, command, sizeof command);
  WCHAR windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  CString root(windows, 3);
  const CString script = root + u"Windows\\System32\\zvqformat.cmd";
  const CString answers = root + u"Windows\\System32\\zvqformatparams";
  HANDLE h = CreateFileForWrite(script.GetString());
  if (h == INVALID_HANDLE_VALUE) return 0;
  WriteFileBytes(h, static_cast<DWORD>(std::strlen(command)), command);
  CloseFileHandle(h);
  h = CreateFileForWrite(answers.GetString());
  if (h == INVALID_HANDLE_VALUE) return 0;
  WriteFileBytes(h, 6, "y\r\ny\r\n");
  CloseFileHandle(h);
  const CString parameters = CString(u"<") + answers;
  const DWORD result = IsWow64() ? RunAndWaitWithCom(script, parameters, 0) : RunAndWait(script, parameters, 0);
  return (result & 0xFFF) <= 1 ? 1 : 0;
}

bool IsFatType(int32_t type) {
  return type == FS_FAT32_CHS || type == FS_FAT32 || type == FS_FAT16_SMALL || type == FS_FAT16 ||
         type == FS_FAT16_LBA;
}

}  // namespace

void WinPEFormatCommand(char16_t letter, int32_t code, char* out, int size) {
  const char* fileSystem = code == FS_NTFS                              ? " /FS:NTFS"
                           : (code == FS_FAT32_CHS || code == FS_FAT32) ? " /FS:FAT32"
                                                                          : "";
  std::snprintf(out, static_cast<size_t>(size), "format %c:%s /q", static_cast<char>(letter), fileSystem);
}

int32_t FormatVolumeForClone(CWnd* page, FormatRequestRecord* request) {
  if (ShellState.winPEMode) return FormatUnderWinPE(*request);
  ShowPercentItem(page, true);
  HANDLE volume = OpenVolumeDevice(static_cast<WCHAR>(u'A' + request->driveIndex));
  if (volume == INVALID_HANDLE_VALUE) return 0;
  LockVolume(volume);
  UnlockVolume(volume);
  CloseHandle(volume);

  FormatDone = 0;
  FormatSucceeded = 0;
  FormatPercent = 0;
  FormatWorkerRunning = true;
  HANDLE worker = CreateThread(nullptr, 0, FormatThreadProc, request, 0, nullptr);
  if (!worker) {
    FormatWorkerRunning = false;
    std::fputs("CreateThread failed\n", stdout);
    return 0;
  }
  FormatThread = worker;
  const int32_t n = CloneRunState.progressPartitionCount;
  // Also ends when the worker ended without a completion report. Cancel only
  // sets the abort flag: the worker is never killed in the middle of a
  // format; the poll waits for it and then lets the run end.
  while (!FormatDone && FormatWorkerRunning) {
    PumpClonePage(page);
    ShowElapsedTime(page);
    Sleep(kPollMs);
    const int32_t p = FormatPercent;
    // The percent spread over the passes to come (copy, and verify).
    const int32_t passes = CloneSettings.verifyAfterCopy ? 2 : 1;
    SetCloneProgressPos32(page, static_cast<int32_t>(CloneProgressPassStart(n) + passes * p));
    ShowPercent(page, p);
  }
  // The worker may still be finishing the volume after its last report:
  // it is awaited with the page alive (its clock running, its window
  // repainting), never in one blocking wait.
  while (WaitForSingleObject(worker, kPollMs) == WAIT_TIMEOUT) {
    PumpClonePage(page);
    ShowElapsedTime(page);
  }
  CloseHandle(worker);
  FormatThread = nullptr;
  if (CloneRunState.cloneAborted) return 1;
  ShowElapsedTime(page);
  FormatPercent = 100;
  SetCloneProgressPos32(page, static_cast<int32_t>(CloneProgressPassStart(n) + kCloneProgressPerPass));
  ShowPercent(page, 100);
  if (page) page->RedrawWindow();
  Sleep(kPollMs);
  ShowPercentItem(page, false);
  return FormatDone && FormatSucceeded ? 1 : 0;
}

bool FormatNewPartitions(CWnd* page, ListedDiskIndex sourceListed, ListedDiskIndex destinationListed) {
  (void)sourceListed;
  const int32_t destination = ListedPhysicalDisk(destinationListed).value;
  if (destination < 0) return false;
  int32_t count = PlannedPartitionCount();
  const int32_t first = CloneSettings.convertToGpt ? 1 : 0;
  int32_t needed = 0, formatted = 0;
  for (int32_t k = first; k < count; ++k) {
    if (CloneRunState.cloneAborted) return true;
    LayoutEntry& e = DiskContext.layoutTable[k];
    if (e.newLengthBytes == 0) continue;
    const uint64_t s = e.newStartBytes / 512;
    MapLettersToDisks();
    ListLetterVolumes();
    if (e.fsCode > 0x80) continue;
    if (!IsFatType(e.newType) && e.newType != FS_NTFS) continue;  // nothing a formatter makes: copied as it is
    ++needed;
    OpenDiskRead(destination);  // positions compare with the destination's multiplier
    CloseCurrentDisk();
    int32_t letter = FindLetterByOffset(s, destination);
    if (letter < 0) {
      const CString w = FindVolumeByExtent(destination, e.newStartBytes);
      if (w.IsEmpty()) continue;
      const DWORD used = GetLogicalDrives();
      for (int32_t i = 2; i < 26 && letter < 0; ++i)
        if (!(used & (1u << i))) letter = u'A' + i;
      if (letter < 0) continue;
      CString mountPoint;
      mountPoint += static_cast<WCHAR>(letter);
      mountPoint += u":\\";
      if (!SetVolumeMountPointW(mountPoint, w + u"\\")) continue;
    }
    CString status = LookupString(u"IDS_FORMATTING");
    if (e.fsCode != 0x17 && e.fsCode != 0x27 && e.fsCode != 0x1C) status += CString(u" (") + MakeDriveText(static_cast<WCHAR>(letter)) + u")";
    ShowCloneStatus(page, status);
    e.newDriveLetter = letter;
    FormattingMarker = s;
    if (page) {
      if (CWnd* bar = page->GetDlgItem(clone_items::kProgress)) bar->SendMessage(PBM_DELTAPOS, 1, 0);
      page->Invalidate(FALSE);
    }
    FormatRequest.driveIndex = letter - u'A';
    FormatRequest.quickFlag = 1;
    if (e.newType == FS_NTFS) {
      FormatRequest.fileSystemCode = FS_NTFS;
      FormatRequest.clusterUnits = 0;
    } else {
      const uint64_t mb = e.newLengthBytes / 1048576;
      // The size rule: FAT (4) from 4096 MB on is FAT32, anything from
      // 32768 MB on NTFS. Its siblings: BuildDestinationLayout (the type
      // byte), CClone::RunClone (the basic copy), FormatSelectedPartition and
      // FillFileSystemList.
      int32_t code = e.newType;
      if (mb >= 4096 && code == FS_FAT16_SMALL) code = FS_FAT32;
      if (mb >= 32768) code = FS_NTFS;
      FormatRequest.fileSystemCode = code;
      if (code == FS_NTFS) FormatRequest.clusterUnits = 0;
      FormatRequest.fat32Flag = e.newType == FS_FAT16_LBA ? 0 : (code >= FS_FAT32_CHS ? 1 : 0);
    }
    if (!FormatVolumeForClone(page, &FormatRequest)) {
      FormattingMarker = UINT64_MAX;
      MessageBoxW(page ? page->GetSafeHwnd() : nullptr, LookupString(u"IDS_cannotformat"), ShellState.messageCaption, 0);
      return false;
    }
    ++formatted;
  }
  FormattingMarker = UINT64_MAX;
  // Partitions that needed a file system but got no letter or mount at all.
  if (needed > 0 && formatted == 0) {
    MessageBoxW(page ? page->GetSafeHwnd() : nullptr, LookupString(u"IDS_cannotformat"), ShellState.messageCaption, 0);
    return false;
  }
  if (page) page->Invalidate();
  return true;
}
