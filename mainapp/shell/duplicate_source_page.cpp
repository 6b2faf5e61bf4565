#include "mainapp/shell/duplicate_source_page.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/records/disk_selection.h"
#include "platform/fs/file_api.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

BEGIN_MESSAGE_MAP(CDuplicateSrc, CDialog)
  ON_BN_CLICKED(kNext, &CDuplicateSrc::OnNext)
  ON_NOTIFY(LVN_ITEMCHANGING, kList, &CDuplicateSrc::OnListItemChanging)
END_MESSAGE_MAP()

namespace {

// The volume label of a lettered partition; empty when it cannot be read.
CString VolumeLabel(WCHAR letter) {
  WCHAR root[4] = {letter, u':', u'\\', 0};
  WCHAR label[64] = {};
  if (!GetVolumeInformationW(root, label, 64, nullptr, nullptr, nullptr, nullptr, 0)) return CString();
  label[63] = 0;
  return CString(label);
}

// A lettered partition's details: its letter and its volume label (the
// type name when it has none).
CString LabelDetails(WCHAR letter, const PartitionEntry& p) {
  CString label = VolumeLabel(letter);
  CString details(u"(");
  details += letter;
  details += u":)  ";
  details += label.Trim().IsEmpty() ? PartitionTypeName(p.type) : label;
  return details;
}

}  // namespace

CDuplicateSrc::CDuplicateSrc(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CDuplicateSrc::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

BOOL CDuplicateSrc::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPageHeader(*this, fonts_, u"IDS_QCSrcCAP");
  SetDlgItemText(kDescription, LookupString(u"IDS_QCDestiDesc"));
  SetDlgItemText(kNext, LookupString(u"IDS_Next"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  DiskContext.systemDisk = kNoPhysicalDisk;
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  own_change_ = true;
  if (!PrepareDiskList(*this, 4)) return TRUE;
  FillList();
  own_change_ = false;
  return TRUE;
}

// One row per listed disk, with or without a model text, each followed by
// its partitions, a lettered one with its volume label.
void CDuplicateSrc::FillList() { FillDiskListRows(*List(), &LabelDetails, DiskListFill{.everyDisk = true}); }

void CDuplicateSrc::OnListItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  const CheckBoxChange what = CheckBoxChangeOf(header);
  if (own_change_ || what == CheckBoxChange::None) return;
  const bool ticking = what == CheckBoxChange::Ticking;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  CListCtrl* list = List();
  if (!list || row < 0 || row >= std::min(DiskListRows.rowCount, kMaxListRows)) {
    *result = ticking ? 1 : 0;
    return;
  }
  const int32_t kind = DiskListRows.rowKind[row];
  if (ticking) {
    // Only a whole disk can be the source.
    if (kind >= 0) {
      *result = 1;
      return;
    }
    DiskContext.systemDisk = ListedPhysicalDisk(ListedIndexOfRow(row));
    own_change_ = true;
    UntickOtherRows(*list, row);
    own_change_ = false;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(TRUE);
  } else if (kind < 0 && ListedPhysicalDisk(ListedIndexOfRow(row)) == DiskContext.systemDisk) {
    DiskContext.systemDisk = kNoPhysicalDisk;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  }
}

void CDuplicateSrc::OnNext() {
  if (DiskContext.systemDisk.is_none()) return;
  EndDialog(IDOK);
}

void CDuplicateSrc::OnOK() { OnNext(); }
