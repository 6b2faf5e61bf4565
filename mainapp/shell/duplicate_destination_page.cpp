#include "mainapp/shell/duplicate_destination_page.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/records/disk_selection.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

BEGIN_MESSAGE_MAP(CDuplicateDest, CDialog)
  ON_BN_CLICKED(kNext, &CDuplicateDest::OnNext)
  ON_NOTIFY(LVN_ITEMCHANGING, kList, &CDuplicateDest::OnListItemChanging)
END_MESSAGE_MAP()

CDuplicateDest::CDuplicateDest(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CDuplicateDest::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

int32_t CDuplicateDest::ListedIndexOfRow(int row) {
  if (row < 0 || row >= std::min(DiskListRows.rowCount, kMaxListRows)) return -1;
  const int32_t kind = DiskListRows.rowKind[row];
  return kind < 0 ? -kind - 1 : -1;
}

BOOL CDuplicateDest::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPageHeader(*this, fonts_, u"IDS_QCDestiCAP");
  SetDlgItemText(kDescription, LookupString(u"IDS_QCDestiDesc"));
  SetDlgItemText(kNext, LookupString(u"IDS_Next"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  own_change_ = true;
  CListCtrl* list = PrepareDiskList(*this, 3);
  if (!list) return TRUE;

  // The disk tables are read again without the system-disk detection, which
  // would overwrite the source chosen on the page before.
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  DiskListRows = DiskListRowsRecord{};
  int r = 0;
  int remembered = -1;
  const int32_t last = std::min(DiskContext.diskCount, kMaxListedDisks);
  for (int32_t n = 1; n <= last && r < kMaxListRows; ++n) {
    const int32_t physical = DiskContext.listedToPhysical[n];
    CString model = DiskContext.listedModel[n];
    if (physical < 0 || model.Trim().IsEmpty()) continue;
    const int row = r++;
    DiskListRows.rowKind[row] = -n;
    const bool source = physical == DiskContext.systemDisk;  // systemDisk is a physical number
    list->InsertItem(row, DiskRowText(physical), source ? kImageDisabledDiskRow : kImageDiskRow);
    list->SetItemText(row, 1, model);
    list->SetItemText(row, 2, FormatSectorCount(DiskContext.listedDiskSize[n]));
    if (!source && n - 1 == DiskContext.destinationDisk) remembered = row;
  }
  DiskListRows.rowCount = r;
  if (remembered >= 0) {
    list->SetCheck(remembered, TRUE);
  } else {
    DiskContext.destinationDisk = -1;
  }
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(remembered >= 0);
  own_change_ = false;
  return TRUE;
}

void CDuplicateDest::OnListItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  const CheckBoxChange what = CheckBoxChangeOf(header);
  if (own_change_ || what == CheckBoxChange::None) return;
  const bool ticking = what == CheckBoxChange::Ticking;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  const int32_t index = ListedIndexOfRow(row);
  CListCtrl* list = List();
  if (ticking) {
    // The source cannot be its own destination.
    if (!list || index < 0 || ListedPhysicalDisk(index) == DiskContext.systemDisk) {
      *result = 1;
      return;
    }
    DiskContext.destinationDisk = index;
    own_change_ = true;
    UntickOtherRows(*list, row);
    own_change_ = false;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(TRUE);
  } else if (index >= 0 && index == DiskContext.destinationDisk) {
    DiskContext.destinationDisk = -1;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  }
}

void CDuplicateDest::OnNext() {
  if (DiskContext.destinationDisk < 0) return;
  ShellState.oneClickRunning = false;
  EndDialog(IDOK);
}

void CDuplicateDest::OnOK() { OnNext(); }

void CDuplicateDest::OnCancel() {
  DiskContext.destinationDisk = -1;
  CDialog::OnCancel();
}
