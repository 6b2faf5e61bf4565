// The volume formatter: formats one lettered volume with the platform
// formatter (FormatEx of fmifs.dll) on a worker thread while the starting
// dialog stays alive and shows the percent the formatter reports. Pieces: the
// format worker (request record, thread procedure, the two formatter calls,
// the progress callback, flags the UI thread polls), the progress dialog
// CCFormat ("Formatting Partition", dialog 216), which starts the worker by
// itself once shown, and the question dialog CFormatDisk (dialog 206).
#pragma once

#include <atomic>
#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

// The request the caller fills before a format starts; the worker reads it.
struct FormatRequestRecord {
  int32_t fileSystemCode = 0;  // FS_NTFS, otherwise the FAT family
  int32_t driveIndex = 0;      // 0 = A:, 2 = C:, 25 = Z:
  int32_t clusterUnits = 0;    // NTFS cluster size in 512-byte units; 0 = the formatter's choice
  uint8_t fat32Flag = 0;       // FAT family: nonzero "FAT32", zero "FAT"
  uint8_t quickFlag = 0;       // nonzero: quick format (a "FAT" format is always quick)
};
extern FormatRequestRecord FormatRequest;

// Shared by the worker thread and the UI thread.
// 1 once the formatter reported completion (or a confirmed Cancel); 0 while a format runs.
extern std::atomic<uint8_t> FormatDone;
// Last percent the formatter reported; the polling dialog sets 100 when it finishes.
extern std::atomic<int32_t> FormatPercent;
// The success flag of the formatter's completion report: 1 formatted, 0 failed
// or not (yet) reported. A format that never ran (no formatter, a refused
// letter) leaves it 0.
extern std::atomic<uint8_t> FormatSucceeded;
// True from the worker's creation until its thread procedure returns: a
// poll also ends when the worker ends without a completion report.
extern std::atomic<bool> FormatWorkerRunning;
// The worker's thread handle value (kept as a value only: the handle itself
// is closed at once by RunFormatWithProgress).
extern HANDLE FormatThread;
// 1 when the user chose to format in CFormatDisk, else 0.
extern uint8_t FormatNowAnswer;

// Thread procedure; its argument points to a FormatRequestRecord. Exit code
// 1 when the formatter reported success, else 0.
DWORD FormatThreadProc(LPVOID request);
// 1 when the volume was formatted (completion reported with success), 0 when
// nothing was formatted or the formatter reported failure.
uint8_t FormatNtfsVolume(int32_t driveIndex, int32_t clusterUnits, uint8_t quickFlag);
uint8_t FormatFatVolume(int32_t driveIndex, uint8_t fat32Flag, uint8_t quickFlag);
// The callback handed to FormatEx; always TRUE.
BOOLEAN FormatProgressCallback(DWORD kind, DWORD action, PVOID argument);

class CCFormat : public CDialog {
 public:
  static constexpr UINT IDD = 216;
  explicit CCFormat(CWnd* parent = nullptr);
  // Clears ShellState.ProgressBar when it still points at this dialog's bar.
  ~CCFormat() override;
  BOOL OnInitDialog() override;
  // The worker's handle value, or 0 when no worker was started.
  HANDLE RunFormatWithProgress(FormatRequestRecord* request);

 protected:
  // The same dialog under another template id (a program's own copy).
  CCFormat(UINT dialogId, CWnd* parent) : CDialog(dialogId, parent) {}
  void DoDataExchange(CDataExchange* dx) override;
  void OnStart();
  void OnCancel() override;
  void OnTimer(UINT_PTR id);
  CProgressCtrl progress_;
  bool cancelled_ = false;  // the user ended the wait: no failure to report
  DECLARE_MESSAGE_MAP()
};

class CFormatDisk : public CDialog {
 public:
  static constexpr UINT IDD = 206;
  explicit CFormatDisk(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;

 protected:
  void OnFormatNow();
  void OnCancel() override;
  DECLARE_MESSAGE_MAP()
};
