#include "mainapp/shell/duplicate_destination_page.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "mainapp/page_parts/disk_list_ticks.h"
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
  for (ListedDiskIndex listed{0}; listed.value < last && r < kMaxListRows; ++listed.value) {
    const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
    CString model = ListedModel(listed);
    if (physical.is_none() || model.Trim().IsEmpty()) continue;
    const int row = r++;
    DiskListRows.rowKind[row] = -(listed.value + 1);  // a disk row names its listed number, negated
    const bool source = physical == DiskContext.systemDisk;
    list->InsertItem(row, DiskRowText(physical.value), source ? kImageDisabledDiskRow : kImageDiskRow);
    list->SetItemText(row, 1, model);
    list->SetItemText(row, 2, FormatSectorCount(ListedSize(listed)));
    if (!source && listed == DiskContext.destinationDisk) remembered = row;
  }
  DiskListRows.rowCount = r;
  if (remembered >= 0) {
    list->SetCheck(remembered, TRUE);
  } else {
    DiskContext.destinationDisk = kNoListedDisk;
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
  const ListedDiskIndex index = ListedIndexOfRow(row);
  CListCtrl* list = List();
  if (ticking) {
    // The source cannot be its own destination.
    if (!list || index.is_none() || ListedPhysicalDisk(index) == DiskContext.systemDisk) {
      *result = 1;
      return;
    }
    DiskContext.destinationDisk = index;
    own_change_ = true;
    UntickOtherRows(*list, row);
    own_change_ = false;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(TRUE);
  } else if (!index.is_none() && index == DiskContext.destinationDisk) {
    DiskContext.destinationDisk = kNoListedDisk;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  }
}

void CDuplicateDest::OnNext() {
  if (DiskContext.destinationDisk.is_none()) return;
  ShellState.oneClickRunning = false;
  EndDialog(IDOK);
}

void CDuplicateDest::OnOK() { OnNext(); }

void CDuplicateDest::OnCancel() {
  DiskContext.destinationDisk = kNoListedDisk;
  CDialog::OnCancel();
}
