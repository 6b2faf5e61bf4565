#include "mainapp/wipe/select_method_page.h"

#include "mainapp/wipe/deletion_progress_page.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/deletion_texts.h"
#include "mainapp/wipe/select_disk_page.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

BEGIN_MESSAGE_MAP(CSelectDeleteMethod, CDialog)
  ON_BN_CLICKED(kNext, &CSelectDeleteMethod::OnNext)
  ON_BN_CLICKED(kBack, &CSelectDeleteMethod::OnBack)
  ON_NOTIFY(LVN_ITEMCHANGED, kList, &CSelectDeleteMethod::OnListItemChanged)
END_MESSAGE_MAP()

namespace {
constexpr int kMethodCount = 4;
}

CSelectDeleteMethod::CSelectDeleteMethod(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CSelectDeleteMethod::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

BOOL CSelectDeleteMethod::OnInitDialog() {
  CDialog::OnInitDialog();
  ready_ = false;
  own_change_ = true;
  ApplyPageHeader(*this, fonts_, u"IDS_DelMethodCap");
  SetDlgItemText(1003, LookupString(u"IDS_DelMethodH1"));
  SetDlgItemText(1004, LookupString(u"IDS_DelMethodH2"));
  SetDlgItemText(1001, LookupString(u"IDS_DelMethod1"));
  SetDlgItemText(1051, LookupString(u"IDS_DelMethod2") + u" " + LookupString(u"IDS_DelMethod3"));
  SetDlgItemText(kBack, LookupString(u"IDS_Back"));
  SetDlgItemText(kNext, LookupString(u"IDS_Next"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  if (CListCtrl* list = List()) {
    list->SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
    list->InsertColumn(0, LookupString(u"IDS_AlgoName"), LVCFMT_LEFT, 290);
    list->InsertColumn(1, LookupString(u"IDS_AlgoDetail"), LVCFMT_LEFT, 340);
    for (int n = 1; n <= kMethodCount; ++n) {
      list->InsertItem(n - 1, GetAlgoName(n));
      list->SetItemText(n - 1, 1, GetAlgoSmallDesc(n));
    }
    if (SelectedWipeMethod >= 0 && SelectedWipeMethod < kMethodCount) list->SetCheck(SelectedWipeMethod, TRUE);
    else SelectedWipeMethod = -1;
  }
  own_change_ = false;
  ready_ = true;
  ShowMethod();
  return TRUE;
}

void CSelectDeleteMethod::ShowMethod() {
  const bool chosen = SelectedWipeMethod >= 0;
  SetDlgItemText(kDescription, chosen ? GetAlgoDesc(SelectedWipeMethod + 1) : CString());
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(chosen);
}

void CSelectDeleteMethod::OnListItemChanged(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || own_change_) return;
  const CheckBoxChange what = CheckBoxChangeOf(header);
  if (what == CheckBoxChange::None) return;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  CListCtrl* list = List();
  if (!list || row < 0 || row >= kMethodCount) return;
  own_change_ = true;
  if (what == CheckBoxChange::Ticking) {
    UntickOtherRows(*list, row);
    SelectedWipeMethod = row;
  } else {
    SelectedWipeMethod = -1;
  }
  own_change_ = false;
  ShowMethod();
}

void CSelectDeleteMethod::OnNext() {
  if (SelectedWipeMethod == -1) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_Nomethod"), ShellState.messageCaption, MB_OK);
    return;
  }
  EndDialog(IDOK);
  CDeletionProgress progress;
  progress.DoModal();
}

void CSelectDeleteMethod::OnOK() { OnNext(); }

void CSelectDeleteMethod::OnBack() {
  EndDialog(IDCANCEL);
  CSelectDisk target;
  target.DoModal();
}
