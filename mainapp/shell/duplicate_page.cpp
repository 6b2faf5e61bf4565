#include "mainapp/shell/duplicate_page.h"

#include "disk/disk_context.h"
#include "disk/listed_disks.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/records/whole_disk_choice.h"
#include "mainapp/shell/clone_page_hook.h"
#include "platform/ui/controls.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

BEGIN_MESSAGE_MAP(CDuplicate, CDialog)
  ON_BN_CLICKED(kCancel, &CDuplicate::OnCancelButton)
END_MESSAGE_MAP()

namespace {

bool IsListedDisk(ListedDiskIndex listed) { return !ListedPhysicalDisk(listed).is_none(); }

}  // namespace

CDuplicate::CDuplicate(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CDuplicate::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPageHeader(*this, fonts_, u"IDS_QC_CAP");
  SetDlgItemText(kDescription, LookupString(u"IDS_QC_Desc"));
  SetDlgItemText(kSourceHeading, LookupString(u"IDS_Source"));
  SetDlgItemText(kDestinationHeading, LookupString(u"IDS_Destination"));
  SetDlgItemText(IDOK, LookupString(u"IDS_OK"));
  SetDlgItemText(kCancel, LookupString(u"IDS_Cancel"));
  const ListedDiskIndex source = ListedIndexOfPhysical(DiskContext.systemDisk);
  ListDisk(kSourceList, source);
  ListDisk(kDestinationList, DiskContext.destinationDisk);
  const bool ready = IsListedDisk(source) && IsListedDisk(DiskContext.destinationDisk) &&
                     source != DiskContext.destinationDisk;
  if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(ready);
  return TRUE;
}

// "Disk  No: ", "Disk  ID: " and "Disk  Size: " of a listed disk; nothing
// for an index that names no disk.
void CDuplicate::ListDisk(int id, ListedDiskIndex listed) {
  auto* box = dynamic_cast<CListBox*>(GetDlgItem(id));
  const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
  if (!box || physical.is_none()) return;
  CString model = ListedModel(listed);
  box->AddString(CString(u"Disk  No: ") + IntToText(physical.value));
  box->AddString(CString(u"Disk  ID: ") + model.Trim());
  box->AddString(CString(u"Disk  Size: ") + FormatSectorCount(ListedSize(listed)));
}

void CDuplicate::OnOK() {
  if (CWnd* ok = GetDlgItem(IDOK); ok && !ok->IsWindowEnabled()) return;
  CloneSettings.partitionMode = 0;
  CloneSettings.badSectorScan = 0;
  CloneSettings.verifyAfterCopy = 0;
  CloneSettings.basicDuplication = 1;
  CloneSettings.sizingMode = SizingMode::Automatic;
  const ListedDiskIndex source = ListedIndexOfPhysical(DiskContext.systemDisk);
  CloneSettings.sourceDisk = source;
  CloneSettings.chosenDestinationDisk = DiskContext.destinationDisk;
  // The source snapshot the wizard's source page would take: without it the
  // clone would copy whichever disk an earlier run chose.
  RecordWholeDiskChoice(source, DiskContext.destinationDisk);
  EndDialog(IDOK);
  if (RunClonePage) RunClonePage(m_pParentWnd);
}

void CDuplicate::OnCancelButton() { EndDialog(IDCANCEL); }
