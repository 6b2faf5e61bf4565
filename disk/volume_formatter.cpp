#include "disk/volume_formatter.h"

#include <cstdio>

#include "disk/volume_space.h"
#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"
#include "platform/process/module.h"
#include "platform/process/thread.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/one_shot_page.h"
#include "program_support/shell_state.h"
#include "program_support/wait_cursor.h"

FormatRequestRecord FormatRequest;
std::atomic<uint8_t> FormatDone{0};
std::atomic<int32_t> FormatPercent{0};
std::atomic<uint8_t> FormatSucceeded{0};
std::atomic<bool> FormatWorkerRunning{false};
HANDLE FormatThread = nullptr;
uint8_t FormatNowAnswer = 0;

namespace {

using FormatExFn = void (*)(WCHAR*, DWORD, WCHAR*, WCHAR*, BOOL, DWORD, PFMIFSCALLBACK);

constexpr DWORD kMediaOther = 8;
constexpr UINT kTimerId = 1224;
constexpr int kIconId = 32776;
constexpr DWORD kPollMs = 200;
constexpr int kDriveCount = 26;

// Items of dialog 216.
constexpr int kStartButton = 1;
constexpr int kProgressBar = 1025;
constexpr int kFormatGroup = 1115;
constexpr int kPercentText = 1112;
constexpr int kCancelHint = 1116;
// Items of dialog 206.
constexpr int kQuestionText = 1121;
constexpr int kFormatNowButton = 1122;

CString RootOf(int32_t driveIndex) {
  CString root;
  root.AppendChar(static_cast<WCHAR>(u'A' + driveIndex));
  root += u":\\";
  return root;
}

// Calls FormatEx from fmifs.dll; the library is loaded for this one call.
uint8_t RunFormatEx(const CString& root, DWORD media, const char16_t* fileSystem, BOOL quick, DWORD clusterBytes,
                    bool allowed) {
  HMODULE fmifs = LoadLibraryW(u"fmifs.dll");
  if (!fmifs) return 0;
  auto format = platform::process::ExportAs<FormatExFn>(GetProcAddress(fmifs, "FormatEx"));
  if (!format) {
    FreeLibrary(fmifs);
    return 0;
  }
  FormatDone = 0;
  FormatSucceeded = 0;
  if (allowed) {
    CString root_text = root;
    CString fs_text = fileSystem;
    WCHAR label[1] = {0};
    format(root_text.GetBuffer(), media, fs_text.GetBuffer(), label, quick, clusterBytes, FormatProgressCallback);
  }
  FreeLibrary(fmifs);
  return FormatDone && FormatSucceeded ? 1 : 0;
}

}  // namespace

DWORD FormatThreadProc(LPVOID parameter) {
  const auto* request = static_cast<const FormatRequestRecord*>(parameter);
  PumpMessages(ShellState.MainDialogHandle);
  uint8_t result = request->fileSystemCode == FS_NTFS
                       ? FormatNtfsVolume(request->driveIndex, request->clusterUnits, request->quickFlag)
                       : FormatFatVolume(request->driveIndex, request->fat32Flag, request->quickFlag);
  FormatWorkerRunning = false;
  platform::Clock::instance().notify();
  return result;  // 1 when the formatter reported success, for whoever waits on the thread
}

uint8_t FormatNtfsVolume(int32_t driveIndex, int32_t clusterUnits, uint8_t quickFlag) {
  if (driveIndex < 0 || driveIndex >= kDriveCount || clusterUnits < 0) return 0;
  // A:, B: and C: are formatted only under WinPE.
  bool allowed = driveIndex >= 3 || ShellState.winPEMode;
  return RunFormatEx(RootOf(driveIndex), FMIFS_FIXED_MEDIA, u"NTFS", quickFlag ? TRUE : FALSE,
                     static_cast<DWORD>(clusterUnits) * 512, allowed);
}

uint8_t FormatFatVolume(int32_t driveIndex, uint8_t fat32Flag, uint8_t quickFlag) {
  if (driveIndex < 0 || driveIndex >= kDriveCount) return 0;
  CString root = RootOf(driveIndex);
  UINT type = GetDriveTypeW(root);
  DWORD media = type == DRIVE_REMOVABLE ? FMIFS_REMOVABLE_MEDIA : type == DRIVE_FIXED ? FMIFS_FIXED_MEDIA : kMediaOther;
  if (fat32Flag) return RunFormatEx(root, media, u"FAT32", quickFlag ? TRUE : FALSE, 0, true);
  return RunFormatEx(root, media, u"FAT", TRUE, 0, true);
}

BOOLEAN FormatProgressCallback(DWORD kind, DWORD, PVOID argument) {
  if (kind == FMIFS_PROGRESS) {
    if (argument) FormatPercent = static_cast<int32_t>(*static_cast<DWORD*>(argument));
  } else if (kind == FMIFS_DONE) {
    FormatSucceeded = argument && *static_cast<BOOLEAN*>(argument) ? 1 : 0;
    FormatDone = 1;
    platform::Clock::instance().notify();
  }
  return TRUE;
}

// ---- CCFormat ------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CCFormat, CDialog)
  ON_BN_CLICKED(kStartButton, &CCFormat::OnStart)
  ON_BN_CLICKED(IDCANCEL, &CCFormat::OnCancel)
  ON_WM_TIMER()
END_MESSAGE_MAP()

CCFormat::CCFormat(CWnd* parent) : CDialog(IDD, parent) {}

CCFormat::~CCFormat() {
  // The shared progress record must not outlive the control it names.
  if (ShellState.ProgressBar == &progress_) ShellState.ProgressBar = nullptr;
}

void CCFormat::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kProgressBar, progress_);
}

BOOL CCFormat::OnInitDialog() {
  CDialog::OnInitDialog();
  HICON icon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kIconId));
  SetIcon(icon, TRUE);
  SetIcon(icon, FALSE);
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  SetDlgItemText(kFormatGroup, LookupString(u"IDS_PartitionFormatCAP"));
  SetDlgItemText(kCancelHint, LookupString(u"IDS_CancelFormat"));
  ShellState.OneShotTickCount = 0;
  CString title = LookupString(u"IDS_FormattingDrive") + u": ";
  title.AppendChar(static_cast<WCHAR>(u'A' + FormatRequest.driveIndex));
  title += u":";
  SetWindowText(title);
  ShellState.OneShotTimerId = SetTimer(kTimerId, 1, nullptr);
  return TRUE;
}

void CCFormat::OnTimer(UINT_PTR id) {
  RunOnSecondTick(*this, id, [this] { OnStart(); });
}

void CCFormat::OnStart() {
  if (CWnd* start = GetDlgItem(kStartButton)) start->EnableWindow(FALSE);
  SetWaitCursor();
  FormatRequest.quickFlag = 1;  // formats started here are always quick
  RunFormatWithProgress(&FormatRequest);
  RestoreCursor();
  EndDialog(IDOK);
}

void CCFormat::OnCancel() {
  // The format goes on in the background; only the wait ends.
  if (MessageBoxW(m_hWnd, LookupString(u"IDS_CancelFormatMsg"), ShellState.messageCaption, MB_YESNO) == IDYES) {
    cancelled_ = true;
    FormatDone = 1;
  }
}

HANDLE CCFormat::RunFormatWithProgress(FormatRequestRecord* request) {
  if (request->driveIndex < 0 || request->driveIndex >= kDriveCount) return nullptr;
  ShellState.ProgressBar = &progress_;
  progress_.ShowWindow(SW_SHOW);
  CString device = u"\\\\.\\";
  device.AppendChar(static_cast<WCHAR>(u'A' + request->driveIndex));
  device += u":";
  HANDLE volume = CreateFileW(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return nullptr;
  LockVolume(volume);
  UnlockVolume(volume);
  CloseHandle(volume);

  FormatDone = 0;
  FormatSucceeded = 0;
  cancelled_ = false;
  FormatWorkerRunning = true;
  FormatThread = CreateThread(nullptr, 0, FormatThreadProc, request, 0, nullptr);
  if (!FormatThread) {
    FormatWorkerRunning = false;
    std::fputs("CreateThread failed\n", stdout);
    return nullptr;
  }
  CloseHandle(FormatThread);
  auto show = [&](int percent) {
    progress_.SetPos(percent);
    CString text;
    text.Format(u"(%d%%)", percent);
    SetDlgItemText(kPercentText, text);
  };
  // Also ends when the worker ended without a completion report.
  while (!FormatDone && FormatWorkerRunning) {
    PumpMessages(m_hWnd);
    PumpMessages(ShellState.MainDialogHandle);
    Sleep(kPollMs);
    show(FormatPercent);
  }
  if (FormatDone && !FormatSucceeded && !cancelled_) {
    // The formatter reported a failure: the bar stays where it stopped and the
    // user is told, instead of a full bar that claims the volume is ready.
    MessageBoxW(m_hWnd, LookupString(u"IDS_FormatFailed"), ShellState.messageCaption, MB_OK | MB_ICONEXCLAMATION);
    if (CWnd* percent = GetDlgItem(kPercentText)) percent->ShowWindow(SW_HIDE);
    return FormatThread;
  }
  FormatPercent = 100;
  show(100);
  RedrawWindow();
  Sleep(kPollMs);
  if (CWnd* percent = GetDlgItem(kPercentText)) percent->ShowWindow(SW_HIDE);
  return FormatThread;
}

// ---- CFormatDisk ----------------------------------------------------------------

BEGIN_MESSAGE_MAP(CFormatDisk, CDialog)
  ON_BN_CLICKED(kFormatNowButton, &CFormatDisk::OnFormatNow)
  ON_BN_CLICKED(IDCANCEL, &CFormatDisk::OnCancel)
END_MESSAGE_MAP()

CFormatDisk::CFormatDisk(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CFormatDisk::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(LookupString(u"IDS_Product"));
  SetDlgItemText(kQuestionText, LookupString(u"IDS_part2disk"));
  SetDlgItemText(kFormatNowButton, LookupString(u"IDS_formatnow"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  FormatNowAnswer = 0;
  return TRUE;
}

void CFormatDisk::OnFormatNow() {
  FormatNowAnswer = 1;
  EndDialog(IDCANCEL);
}

void CFormatDisk::OnCancel() {
  FormatNowAnswer = 0;
  EndDialog(IDCANCEL);
}
