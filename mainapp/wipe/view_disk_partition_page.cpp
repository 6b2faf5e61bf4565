#include "mainapp/wipe/view_disk_partition_page.h"

#include "disk/disk_context.h"
#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/shell/install_driver_page.h"
#include "mainapp/wipe/sector_viewer_page.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/language_table.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"
#include "program_support/shell_state.h"

int32_t ViewerCheckedRow = -1;

BEGIN_MESSAGE_MAP(CViewDiskPartition, CDialog)
  ON_BN_CLICKED(kView, &CViewDiskPartition::OnView)
  ON_BN_CLICKED(kBack, &CViewDiskPartition::OnCancel)
  ON_NOTIFY(LVN_ITEMCHANGED, kList, &CViewDiskPartition::OnListItemChanged)
  ON_BN_CLICKED(kFileDialog, &CViewDiskPartition::OnChooseDriver)
  ON_BN_CLICKED(kLoadDriver, &CViewDiskPartition::OnLoadDriver)
END_MESSAGE_MAP()

CViewDiskPartition::CViewDiskPartition(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CViewDiskPartition::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

BOOL CViewDiskPartition::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPageHeader(*this, fonts_, u"IDS_ViewDiskDataCap");
  SetDlgItemText(1003, LookupString(u"IDS_ViewDiskParCap"));
  SetDlgItemText(1004, LookupString(u"IDS_ViewDiskParH2"));
  SetDlgItemText(1002, LookupString(u"IDS_ViewDiskParH2"));
  SetDlgItemText(1001, LookupString(u"IDS_DiskPartition"));
  SetDlgItemText(kBack, LookupString(u"IDS_Back"));
  SetDlgItemText(kView, LookupString(u"IDS_View"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  ready_ = false;
  own_change_ = true;
  // The list is 1028 here (1027 is the View button), with the deletion
  // target page's columns.
  if (CListCtrl* list = List()) {
    list->SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
    list->SetImageList(CreateDiskListImages(), LVSIL_SMALL);
    list->InsertColumn(0, LookupString(u"IDS_LogList1"), LVCFMT_LEFT, 130);
    list->InsertColumn(1, LookupString(u"IDS_ModelPartition"), LVCFMT_LEFT, 180);
    list->InsertColumn(2, LookupString(u"IDS_totalsize1"), LVCFMT_RIGHT, 80);
    list->InsertColumn(3, LookupString(u"IDS_UsedSpace"), LVCFMT_RIGHT, 80);
    FillDeletionDiskList(*list, DiskListStyle{.markSystem = false, .letteredOnly = true, .diskUsedColumn = false});
    if (ViewerCheckedRow >= 0 && ViewerCheckedRow < DiskListRows.rowCount) {
      list->SetCheck(ViewerCheckedRow, TRUE);
      ApplyRowTick(*list, ViewerCheckedRow, true);
    } else {
      ViewerCheckedRow = -1;
    }
  }
  own_change_ = false;
  ready_ = true;
  return TRUE;
}

void CViewDiskPartition::OnListItemChanged(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || own_change_) return;
  CListCtrl* list = List();
  if (!list) return;
  own_change_ = true;
  TakeRowTick(*list, header, ViewerCheckedRow);
  own_change_ = false;
  if (CWnd* view = GetDlgItem(kView)) view->EnableWindow(ViewerCheckedRow >= 0);
}

void CViewDiskPartition::OnView() {
  CListCtrl* list = List();
  if (ViewerCheckedRow == -1 || !list) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_Nodisk"), ShellState.messageCaption, MB_OK);
    return;
  }
  GetDeletionListSelection(*list, -1);
  OpenSectorViewer();
}

void CViewDiskPartition::OnChooseDriver() {
  CFileDialog picker(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, u"Driver Files (*.inf)|*.inf|", nullptr);
  // Whatever the dialog ends with is kept: a cancelled choice leaves no file.
  picker.DoModal();
  driverInfPath = picker.GetPathName();
  driverInfName = picker.GetFileName();
}

void CViewDiskPartition::OnLoadDriver() {
  // drvload reports a driver it could not load through its exit code; a
  // program that merely started has loaded nothing.
  DWORD exit_code = 0;  // set whenever the program started
  const bool loaded = RunProcessForExitCode(kDriverLoader, driverInfPath, &exit_code) && exit_code == 0;
  AfxMessageBox(loaded ? u"RAID Driver loaded Successfully" : u"Error in Loading RAID Driver", MB_OK);
}
