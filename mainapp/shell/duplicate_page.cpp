#include "mainapp/shell/duplicate_page.h"

#include "disk/disk_context.h"
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

bool IsListedDisk(int32_t listedIndex) { return ListedPhysicalDisk(listedIndex) >= 0; }

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
  // systemDisk is a physical number, destinationDisk a listed index.
  const int32_t source = ListedIndexOfPhysical(DiskContext.systemDisk);
  ListDisk(kSourceList, source);
  ListDisk(kDestinationList, DiskContext.destinationDisk);
  const bool ready = IsListedDisk(source) && IsListedDisk(DiskContext.destinationDisk) &&
                     source != DiskContext.destinationDisk;
  if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(ready);
  return TRUE;
}

// "Disk  No: ", "Disk  ID: " and "Disk  Size: " of a listed disk; nothing
// for an index that names no disk.
void CDuplicate::ListDisk(int id, int32_t listedIndex) {
  auto* box = dynamic_cast<CListBox*>(GetDlgItem(id));
  const int32_t physical = ListedPhysicalDisk(listedIndex);
  if (!box || physical < 0) return;
  CString model = DiskContext.listedModel[listedIndex + 1];
  box->AddString(CString(u"Disk  No: ") + IntToText(physical));
  box->AddString(CString(u"Disk  ID: ") + model.Trim());
  box->AddString(CString(u"Disk  Size: ") + FormatSectorCount(DiskContext.listedDiskSize[listedIndex + 1]));
}

void CDuplicate::OnOK() {
  if (CWnd* ok = GetDlgItem(IDOK); ok && !ok->IsWindowEnabled()) return;
  CloneSettings.partitionMode = 0;
  CloneSettings.badSectorScan = 0;
  CloneSettings.verifyAfterCopy = 0;
  CloneSettings.basicDuplication = 1;
  CloneSettings.sizingMode = SizingMode::Automatic;
  const int32_t source = ListedIndexOfPhysical(DiskContext.systemDisk);
  CloneSettings.sourceDisk = source;
  CloneSettings.chosenDestinationDisk = DiskContext.destinationDisk;
  // The source snapshot the wizard's source page would take: without it the
  // clone would copy whichever disk an earlier run chose.
  RecordWholeDiskChoice(source, DiskContext.destinationDisk);
  EndDialog(IDOK);
  if (RunClonePage) RunClonePage(m_pParentWnd);
}

void CDuplicate::OnCancelButton() { EndDialog(IDCANCEL); }
