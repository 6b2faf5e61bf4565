#include "mainapp/clone/prescan_page.h"

#include <algorithm>

#include "disk/disk_access.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/one_shot_page.h"
#include "program_support/shell_state.h"

void (*RunScanSummaryPage)() = nullptr;
void (*RunScanTargetPage)() = nullptr;

namespace {

constexpr UINT kAskFlags = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL;
constexpr UINT kAskWhileScanningFlags = MB_YESNO | MB_ICONINFORMATION | MB_TASKMODAL;

// "Disk N model size" or "Partition (X:) FS size"; sizes from native sectors.
CString TargetText(const DiskSelectionRecord& target) {
  const uint64_t units = target.sectorCount * static_cast<uint64_t>(std::max(1, SectorMultiplierOf(target.diskNumber.value)));
  CString text;
  if (target.kind == kSelectionWholeDisk) {
    CString disk = LookupString(u"IDS_Disk");
    disk.TrimRight();
    text = disk + u" " + IntToText(target.diskNumber.value) + u" " + CString(target.model) + u" ";
  } else {
    text = LookupString(u"IDS_Partition") + u" (";
    text.AppendChar(target.driveLetter);
    text += CString(u":) ") + CString(target.fileSystemName) + u" ";
  }
  return text + FormatSectorCount(units);
}

}  // namespace

BEGIN_MESSAGE_MAP(CBadSectorScanSummary, CDialog)
  ON_BN_CLICKED(kStartButton, &CBadSectorScanSummary::OnStart)
  ON_BN_CLICKED(kCancelButton, &CBadSectorScanSummary::OnScanCancel)
  ON_BN_CLICKED(IDCANCEL, &CBadSectorScanSummary::OnScanCancel)
  ON_BN_CLICKED(kBackButton, &CBadSectorScanSummary::OnBack)
  ON_BN_CLICKED(kShowErrors, &CBadSectorScanSummary::OnShowErrors)
  ON_WM_TIMER()
END_MESSAGE_MAP()

CBadSectorScanSummary::CBadSectorScanSummary(CWnd* parent) : CDialog(IDD, parent) {
  icon_ = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kPageIcon));
}

CBadSectorScanSummary::~CBadSectorScanSummary() {
  if (ShellState.ProgressBar == &progress_) ShellState.ProgressBar = nullptr;
  if (ScanProgressPage == m_hWnd) ScanProgressPage = nullptr;
}

void CBadSectorScanSummary::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kProgressBar, progress_);
}

BOOL CBadSectorScanSummary::OnInitDialog() {
  CDialog::OnInitDialog();
  ShellState.OneShotTickCount = 0;
  SetIcon(icon_, TRUE);
  SetIcon(icon_, FALSE);
  ScanState.scanStarted = 0;
  ScanState.scanFinished = 0;
  ScanState.scanCancelled = 0;
  ScanState.scanErrorCount = 0;
  ScanState.badSectorCount = 0;
  // A whole disk is scanned to its real end (its listed size stops at the
  // last whole cylinder): the target, its text and the bar say so.
  if (const uint64_t units = ReadDiskLengthUnits(ScanTarget.diskNumber.value);
      ScanTarget.kind == kSelectionWholeDisk && units > 0)
    ScanTarget.sectorCount = units / static_cast<uint64_t>(std::max(1, SectorMultiplierOf(ScanTarget.diskNumber.value)));

  const CString caption = LookupString(u"IDS_BadSectorScanProgCap");
  SetWindowText(caption);
  const int title_height = ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0);
  title_font_.CreateFont(title_height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  text_font_.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = GetDlgItem(kTitle)) title->SetFont(&title_font_, TRUE);
  if (CWnd* subtitle = GetDlgItem(kSubtitle)) subtitle->SetFont(&text_font_, TRUE);
  SetDlgItemText(kTitle, caption);
  SetDlgItemText(kSubtitle, LookupString(u"IDS_BadSectorScanProgH1"));
  SetDlgItemText(kScanningLabel, LookupString(u"IDS_Scanning") + u":");
  SetDlgItemText(kSectorLabel, LookupString(u"IDS_Sector"));
  SetDlgItemText(kRemainingLabel, LookupString(u"IDS_RemainingTime1"));
  SetDlgItemText(kElapsedLabel, LookupString(u"IDS_ElapsedTime"));
  SetDlgItemText(kShowErrors, LookupString(u"IDS_Errordisplay"));
  SetDlgItemText(kStartButton, LookupString(u"IDS_StartScan"));
  SetDlgItemText(kBackButton, LookupString(u"IDS_Back"));
  SetDlgItemText(kCancelButton, LookupString(u"IDS_Cancel"));

  // One step per chunk of one track.
  const int32_t multiplier = std::max(1, SectorMultiplierOf(ScanTarget.diskNumber.value));
  const int32_t track = std::max(1, std::min(63, DiskContext.sectorsPerTrack[std::clamp(ScanTarget.diskNumber.value, 0,
                                                                                            kMaxPhysicalDisks - 1)]));
  const uint64_t chunk = std::max<uint64_t>(1, static_cast<uint64_t>(track) / multiplier);
  ShellState.ProgressBar = &progress_;
  progress_.SetRange32(0, static_cast<int>(std::min<uint64_t>(ScanTarget.sectorCount / chunk, INT32_MAX)));
  CheckDlgButton(kShowErrors, BST_CHECKED);

  ScanState.scanTargetText = TargetText(ScanTarget);
  SetDlgItemText(kTargetText, ScanState.scanTargetText);
  if (ScanState.scanAutomatic) {
    EnableStartAndBack(FALSE);
    ShellState.OneShotTimerId = SetTimer(kTimerId, 1, nullptr);
  }
  return TRUE;
}

void CBadSectorScanSummary::EnableStartAndBack(BOOL enable) {
  if (CWnd* start = GetDlgItem(kStartButton)) start->EnableWindow(enable);
  if (CWnd* back = GetDlgItem(kBackButton)) back->EnableWindow(enable);
}

void CBadSectorScanSummary::OnTimer(UINT_PTR id) {
  RunOnSecondTick(*this, id, [this] { OnStart(); });
}

void CBadSectorScanSummary::OnStart() {
  EnableStartAndBack(FALSE);
  ScanProgressPage = m_hWnd;
  ScanBadSectors(ScanTarget);
  ScanProgressPage = nullptr;
  ScanState.scanFinished = 1;
  if (auto* list = static_cast<CListBox*>(GetDlgItem(kErrorList)))
    for (const CString& line : ScanState.failedSectors) list->AddString(line);
  if (ScanState.scanAutomatic) return;
  if (!ScanState.scanCancelled)
    MessageBoxW(m_hWnd, LookupString(u"IDS_ScanComplete"), ShellState.messageCaption, MB_OK);
  OnScanCancel();
}

void CBadSectorScanSummary::OnScanCancel() {
  if (ScanState.scanFinished) {
    EndDialog(IDCANCEL);
    if (ScanState.scanAutomatic) return;
    CloneSettings.changeSid = 0;
    CloneSettings.badSectorScan = 1;
    ScanState.scanOnlySummary = 1;
    if (RunScanSummaryPage) RunScanSummaryPage();
    return;
  }
  const UINT flags = ScanState.scanStarted ? kAskWhileScanningFlags : kAskFlags;
  if (MessageBoxW(m_hWnd, LookupString(u"IDS_Scancancel"), ShellState.messageCaption, flags) == IDNO) return;
  ScanState.scanCancelled = 1;
  if (!ScanState.scanStarted) EndDialog(IDCANCEL);
}

void CBadSectorScanSummary::OnBack() {
  if (ScanState.scanAutomatic || ScanState.scanStarted) return;
  EndDialog(IDCANCEL);
  if (RunScanTargetPage) RunScanTargetPage();
}

void CBadSectorScanSummary::OnShowErrors() {
  if (CWnd* list = GetDlgItem(kErrorList)) list->ShowWindow(IsDlgButtonChecked(kShowErrors) ? SW_SHOW : SW_HIDE);
}
