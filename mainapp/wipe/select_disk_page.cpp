#include "mainapp/wipe/select_disk_page.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/sector_viewer_page.h"
#include "mainapp/wipe/select_method_page.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

BEGIN_MESSAGE_MAP(CSelectDisk, CDialog)
  ON_BN_CLICKED(kNext, &CSelectDisk::OnNext)
  ON_BN_CLICKED(kView, &CSelectDisk::OnView)
  ON_BN_CLICKED(kRunExplorer, &CSelectDisk::OnRunExplorer)
  ON_BN_CLICKED(kBack, &CSelectDisk::OnCancel)
  ON_NOTIFY(LVN_ITEMCHANGING, kList, &CSelectDisk::OnListItemChanging)
  ON_NOTIFY(LVN_ITEMCHANGED, kList, &CSelectDisk::OnListItemChanged)
END_MESSAGE_MAP()

CSelectDisk::CSelectDisk(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CSelectDisk::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

BOOL CSelectDisk::OnInitDialog() {
  CDialog::OnInitDialog();
  SelectedWipeMethod = 0;
  ApplyPageHeader(*this, fonts_, u"IDS_DelSrcCap");
  SetDlgItemText(1003, LookupString(u"IDS_DelSrcH1"));
  SetDlgItemText(1004, LookupString(u"IDS_DelSrcH2"));
  SetDlgItemText(1001, LookupString(u"IDS_DiskPartition"));
  SetDlgItemText(1002, LookupString(u"IDS_DelSrcH2"));
  SetDlgItemText(kView, LookupString(u"IDS_View"));
  SetDlgItemText(kBack, LookupString(u"IDS_Back"));
  SetDlgItemText(kNext, LookupString(u"IDS_Next"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  SetDlgItemText(kRunExplorer, LookupString(u"IDS_RunExplorer"));
  ready_ = false;
  own_change_ = true;
  CListCtrl* list = PrepareDiskList(*this, 4);
  if (list) {
    list->SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
    FillDeletionDiskList(*list, DiskListStyle{.markSystem = !ShellState.winPEMode});
    const int row = CloneSettings.checkedRow;
    if (row >= 0 && row < DiskListRows.rowCount) {
      list->SetCheck(row, TRUE);
      ApplyRowTick(*list, row, true);
    } else {
      CloneSettings.checkedRow = -1;
    }
  }
  EnableNext();
  own_change_ = false;
  ready_ = true;
  return TRUE;
}

void CSelectDisk::EnableNext() {
  const BOOL on = CloneSettings.checkedRow >= 0;
  if (CWnd* w = GetDlgItem(kView)) w->EnableWindow(on);
  if (CWnd* w = GetDlgItem(kNext)) w->EnableWindow(on);
}

void CSelectDisk::OnListItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || own_change_) return;
  if (CheckBoxChangeOf(header) != CheckBoxChange::Ticking) return;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  const PhysicalDiskNumber physical = PhysicalDiskOfRow(row);
  if (physical.is_none() || IsBootMediumRow(row) || (!ShellState.winPEMode && physical == DiskContext.systemDisk)) {
    *result = 1;
    return;
  }
}

void CSelectDisk::OnListItemChanged(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || own_change_) return;
  CListCtrl* list = List();
  own_change_ = true;
  const int row = list ? TakeRowTick(*list, header, CloneSettings.checkedRow) : -1;
  if (row < 0) {
    own_change_ = false;
    return;
  }
  const bool ticked = CloneSettings.checkedRow == row;
  const bool diskRow = DiskListRows.rowKind[row] < 0;
  // The ticked partition's letter for Run Explorer; -1 for a disk or no letter.
  CloneSettings.sourceLetter = -1;
  if (ticked && !diskRow) {
    const CString details = list->GetItemText(row, 1);
    const int at = details.Find(u":)");
    if (at > 0) CloneSettings.sourceLetter = CString(details[at - 1]).MakeUpper()[0];
  }
  own_change_ = false;
  EnableNext();
}

void CSelectDisk::OnView() {
  if (CListCtrl* list = List()) GetDeletionListSelection(*list, -1);
  OpenSectorViewer();
}

void CSelectDisk::OnRunExplorer() {
  if (CloneSettings.sourceLetter <= 0) return;
  CString path(u"c:");
  path.SetAt(0, static_cast<WCHAR>(CloneSettings.sourceLetter));
  path += u"\\*.*";
  CFileDialog browser(TRUE, nullptr, path, OFN_HIDEREADONLY, u"All files (*.*)|*.*|");
  browser.DoModal();
}

void CSelectDisk::OnNext() {
  if (CloneSettings.checkedRow == -1) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_Nodisk"), ShellState.messageCaption, MB_OK);
    return;
  }
  if (CListCtrl* list = List()) GetDeletionListSelection(*list, -1);
  EndDialog(IDOK);
  CSelectDeleteMethod method;
  method.DoModal();
}

void CSelectDisk::OnOK() { OnNext(); }
