#include "mainapp/scan/scan_pages.h"

#include <algorithm>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/clone/prescan_page.h"
#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/main_commands.h"
#include "platform/core/ctime.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

int32_t ScanExplorerLetter = -1;
CString ScanListSelectionText;

namespace {

constexpr int kTitle = 1003;
constexpr int kSubtitle = 1004;
constexpr int kFrame = 1001;

void SetPageIcon(CDialog& page, HICON icon) {
  page.SetIcon(icon, TRUE);
  page.SetIcon(icon, FALSE);
}

}  // namespace

BEGIN_MESSAGE_MAP(CScanNewDiskPartition, CDialog)
  ON_BN_CLICKED(kNext, &CScanNewDiskPartition::OnNext)
  ON_BN_CLICKED(kBack, &CScanNewDiskPartition::OnCancel)
  ON_BN_CLICKED(kRunExplorer, &CScanNewDiskPartition::OnRunExplorer)
  ON_NOTIFY(LVN_ITEMCHANGING, kList, &CScanNewDiskPartition::OnItemChanging)
  ON_NOTIFY(LVN_ITEMCHANGED, kList, &CScanNewDiskPartition::OnItemChanged)
  ON_EN_SETFOCUS(kTitle, &CScanNewDiskPartition::OnFocusHeading)
  ON_EN_SETFOCUS(kSubtitle, &CScanNewDiskPartition::OnFocusHeading)
END_MESSAGE_MAP()

CScanNewDiskPartition::CScanNewDiskPartition(CWnd* parent) : CDialog(IDD, parent) {
  icon_ = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kPageIcon));
}

CListCtrl* CScanNewDiskPartition::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

BOOL CScanNewDiskPartition::OnInitDialog() {
  CDialog::OnInitDialog();
  SetPageIcon(*this, icon_);
  ready_ = false;
  own_change_ = true;
  ApplyPageHeader(*this, fonts_, u"IDS_ScanDiskCap");
  SetDlgItemText(kTitle, LookupString(u"IDS_ScanDiskH1"));
  SetDlgItemText(kSubtitle, LookupString(u"IDS_ScanDiskH2"));
  SetDlgItemText(1002, LookupString(u"IDS_ScanDiskH2"));
  SetDlgItemText(kBack, LookupString(u"IDS_Back"));
  SetDlgItemText(kNext, LookupString(u"IDS_Next"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  SetDlgItemText(kRunExplorer, LookupString(u"IDS_RunExplorer"));
  ScanExplorerLetter = -1;
  if (CListCtrl* list = PrepareDiskList(*this, 4, kList)) {
    list->SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
    // Disks and their lettered partitions; the system disk may be scanned (a
    // scan only reads), the boot medium's rows show greyed and refuse a tick.
    FillDeletionDiskList(*list, DiskListStyle{.markSystem = false, .letteredOnly = true});
    const int row = CloneSettings.checkedRow;
    if (row >= 0 && row < DiskListRows.rowCount) {
      list->SetCheck(row, TRUE);
      ApplyRowTick(*list, row, true);
    } else {
      CloneSettings.checkedRow = -1;
    }
  }
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(CloneSettings.checkedRow >= 0);
  own_change_ = false;
  ready_ = true;
  return TRUE;
}

void CScanNewDiskPartition::OnItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || own_change_ || CheckBoxChangeOf(header) != CheckBoxChange::Ticking) return;
  if (IsBootMediumRow(reinterpret_cast<const NMLISTVIEW*>(header)->iItem)) *result = 1;
}

void CScanNewDiskPartition::OnItemChanged(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || own_change_) return;
  CListCtrl* list = List();
  if (!list) return;
  own_change_ = true;
  const int row = TakeRowTick(*list, header, CloneSettings.checkedRow);
  own_change_ = false;
  if (row < 0) return;
  const bool ticked = CloneSettings.checkedRow == row;
  ScanExplorerLetter = -1;
  ScanListSelectionText.Empty();
  if (ticked) {
    const bool diskRow = DiskListRows.rowKind[row] < 0;
    const CString details = list->GetItemText(row, 1);
    if (!diskRow) {
      const int at = details.Find(u":)");
      if (at > 0) ScanExplorerLetter = CString(details[at - 1]).MakeUpper()[0];
    }
    ScanListSelectionText = RowHeading(*list, row) + details + u"  " + list->GetItemText(row, 2);
    if (diskRow) ScanListSelectionText += CString(u"  ") + list->GetItemText(row, 3) + u"\r\n ";
  }
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(CloneSettings.checkedRow >= 0);
}

void CScanNewDiskPartition::OnNext() {
  CListCtrl* list = List();
  if (!list || CloneSettings.checkedRow < 0 || !GetDeletionListSelection(*list, -1)) return;
  ScanTarget = DiskSelection;
  if (MessageBoxW(m_hWnd, LookupString(u"IDS_writeverify"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
    return;
  ScanState.scanAutomatic = 0;
  EndDialog(IDCANCEL);
  CBadSectorScanSummary scan;
  scan.DoModal();
}

void CScanNewDiskPartition::OnOK() { OnNext(); }

void CScanNewDiskPartition::OnRunExplorer() {
  if (ScanExplorerLetter <= 0) return;
  CString path(u"c:\\*.*");
  path.SetAt(0, static_cast<WCHAR>(ScanExplorerLetter));
  CFileDialog browser(TRUE, nullptr, path, OFN_HIDEREADONLY, u"All files (*.*)|*.*|");
  browser.DoModal();
}

void CScanNewDiskPartition::OnFocusHeading() {
  if (CWnd* frame = GetDlgItem(kFrame)) frame->SetFocus();
}

BEGIN_MESSAGE_MAP(CScanSummary, CDialog)
  ON_BN_CLICKED(1026, &CScanSummary::OnFinish)
  ON_BN_CLICKED(1000, &CScanSummary::OnFinish)
  ON_EN_SETFOCUS(kTitle, &CScanSummary::OnFocusHeading)
  ON_EN_SETFOCUS(kSubtitle, &CScanSummary::OnFocusHeading)
END_MESSAGE_MAP()

CScanSummary::CScanSummary(CWnd* parent) : CDialog(IDD, parent) {
  icon_ = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kPageIcon));
}

BOOL CScanSummary::OnInitDialog() {
  CDialog::OnInitDialog();
  SetPageIcon(*this, icon_);
  CloneSettings.checkedRow = -1;
  ApplyPageHeader(*this, fonts_, u"IDS_SCANSUMMARY");
  SetDlgItemText(kSubtitle, LookupString(u"IDS_BADSCANSUMMARY"));
  SetDlgItemText(kFrame, LookupString(u"IDS_ScanSummarySubHeading"));
  SetDlgItemText(1013, LookupString(u"IDS_SCANDRIVE"));
  SetDlgItemText(1015, LookupString(u"IDS_MProgSum9"));
  SetDlgItemText(1113, LookupString(u"IDS_SCANRESULT"));
  SetDlgItemText(1031, LookupString(u"IDS_MProgSum8"));
  SetDlgItemText(1026, LookupString(u"IDS_FINISH"));
  SetDlgItemText(1000, LookupString(u"IDS_FINISH"));
  SetDlgItemText(kScanned, ScanState.scanTargetText);
  CString result;
  if (ScanState.scanCancelled) {
    result = LookupString(u"IDS_Aborted");
  } else if (ScanState.scanErrorCount > 0) {
    result.Format(u"%d %s %d %s", ScanState.scanErrorCount, LookupString(u"IDS_badsector1").GetString(),
                  ScanState.badSectorCount, LookupString(u"IDS_badsector2").GetString());
  } else {
    result = LookupString(u"IDS_Completed");
  }
  SetDlgItemText(kResult, result);
  const uint64_t m = static_cast<uint64_t>(std::max(SectorMultiplierOf(ScanTarget.diskNumber.value), 1));
  SetDlgItemText(kSize, FormatSectorCount(ScanTarget.sectorCount * m));
  // The scan's work, not the time its result message stayed open.
  const int64_t end = ScanState.scanEndTime ? ScanState.scanEndTime : CTime::GetCurrentTime().GetTime();
  SetDlgItemText(kTime, DurationText(end - CloneRunState.operationStart));
  return TRUE;
}

void CScanSummary::OnFinish() { EndDialog(IDOK); }

void CScanSummary::OnFocusHeading() {
  if (CWnd* frame = GetDlgItem(kFrame)) frame->SetFocus();
}

namespace {

void OpenScanTargetPage() {
  CScanNewDiskPartition page;
  page.DoModal();
}

void OpenScanSummaryPage() {
  CScanSummary page;
  page.DoModal();
}

void OpenScan(CDrummetDlg&) {
  CloneSettings.checkedRow = -1;
  OpenScanTargetPage();
}

}  // namespace

void RegisterScanCommands() {
  RunScanTargetPage = &OpenScanTargetPage;
  RunScanSummaryPage = &OpenScanSummaryPage;
  if (!shell::FindMainCommand(shell::kCmdScan))
    shell::RegisterMainCommand({shell::kCmdScan, "Scan New Disk/Partition", &OpenScan});
}
