#include "mainapp/clone/source_page.h"

#include <algorithm>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_plan.h"
#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_bars.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/records/disk_selection.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/path_helpers.h"
#include "program_support/shell_state.h"

WizardListState WizardList;

BEGIN_MESSAGE_MAP(CMirrorSource, CDialog)
  ON_EN_SETFOCUS(1003, &CMirrorSource::OnHeaderFocus)
  ON_EN_SETFOCUS(1004, &CMirrorSource::OnHeaderFocus)
  ON_BN_CLICKED(CMirrorSource::kBack, &CMirrorSource::OnBack)
  ON_BN_CLICKED(CMirrorSource::kNext, &CMirrorSource::OnNext)
  ON_BN_CLICKED(CMirrorSource::kView, &CMirrorSource::OnView)
  ON_BN_CLICKED(CMirrorSource::kDiagnostic, &CMirrorSource::OnDiagnostic)
  ON_BN_CLICKED(CMirrorSource::kRunExplorer, &CMirrorSource::OnRunExplorer)
  ON_NOTIFY(LVN_ITEMCHANGING, CMirrorSource::kList, &CMirrorSource::OnListItemChanging)
  ON_NOTIFY(LVN_ITEMCHANGED, CMirrorSource::kList, &CMirrorSource::OnListItemChanged)
  ON_WM_PAINT()
END_MESSAGE_MAP()

namespace {

constexpr int kGroup = 1001;


// The segments outlined on the source page's bar.
bool SourceSegmentLit(const DiskMapItem& item, int32_t index, const void*) {
  if (WizardList.barHighlightRow == -1) return false;
  if (CloneSettings.partitionMode == 1 && item.partitionIndex < 0) return false;
  if (CloneSettings.systemMigration && index >= CloneSettings.migrationPartitionCount) return false;
  if (CloneSettings.partitionMode == 1)
    return item.partitionIndex + WizardList.barFirstPartitionRow == WizardList.barHighlightRow;
  return true;
}

}  // namespace

bool IsDiskListRow(int row) {
  return row >= 0 && row < std::min(DiskListRows.rowCount, kMaxListRows) && DiskListRows.rowKind[row] < 0;
}

int DiskRowOfListRow(int row) {
  if (row < 0 || row >= std::min(DiskListRows.rowCount, kMaxListRows)) return -1;
  return DiskListRows.rowKind[row] < 0 ? row : DiskListRows.rowKind[row];
}

void PaintBarLegend(CWnd& page, CDC& dc) {
  static const std::pair<int, COLORREF> kLegend[] = {
      {1086, RGB(25, 25, 25)}, {1087, RGB(0, 0, 128)}, {1090, RGB(0, 0, 255)}, {1091, RGB(0, 255, 0)}};
  for (auto [id, colour] : kLegend) {
    CWnd* text = page.GetDlgItem(id);
    if (!text) continue;
    RECT r;
    text->GetWindowRect(&r);
    page.ScreenToClient(&r);
    dc.FillSolidRect(r.left - 16, r.top + 1, 12, 12, RGB(125, 125, 125));
    dc.FillSolidRect(r.left - 15, r.top + 2, 10, 10, colour);
  }
}

void FillSourceList(CListCtrl& list) {
  list.DeleteAllItems();
  WizardList.listRowCount = FillDiskListRows(list, &TypeDetails);
}

CMirrorSource::CMirrorSource(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CMirrorSource::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

bool CMirrorSource::IsDiskRow(int row) const { return IsDiskListRow(row); }

int CMirrorSource::DiskRowOf(int row) const { return DiskRowOfListRow(row); }

BOOL CMirrorSource::OnInitDialog() {
  CDialog::OnInitDialog();
  DetectSystemAndSpecialDisks();
  ready_ = false;
  CloneSettings.systemMigration = 0;
  CloneSettings.sourceDisk = kNoListedDisk;
  WizardList.eventsEnabled = false;
  SourceDiskMap = DiskMapRecord{};
  ApplyPageHeader(*this, fonts_, u"IDS_MSrcCap");
  SetDlgItemText(1003, LookupString(u"IDS_MSrcH1"));
  SetDlgItemText(1004, LookupString(u"IDS_MSrcH2"));
  static const std::pair<int, const char16_t*> kTexts[] = {
      {kGroup, u"IDS_MSrc1"},           {1002, u"IDS_MSrc2"},
      {1005, u"IDS_MSelect1"},          {kBasic, u"IDS_MSelectRadioDSBS"},
      {kSectorBySector, u"IDS_MSelectRadioSBS"}, {kBasicLabel, u"IDS_MSelectLblDSBS"},
      {1011, u"IDS_MSelectLblSBS"},     {1086, u"IDS_Unallocated"},
      {1087, u"IDS_Primary"},           {1090, u"IDS_LogicalDrive"},
      {1091, u"IDS_FreeLogical"},       {kRunExplorer, u"IDS_RunExplorer"},
      {1182, u"IDS_SpecialPartition"},  {kBack, u"IDS_Back"},
      {kNext, u"IDS_Next"},             {IDCANCEL, u"IDS_Cancel"},
  };
  for (auto [id, key] : kTexts) SetDlgItemText(id, LookupString(key));
  if (CWnd* back = GetDlgItem(kBack)) back->EnableWindow(FALSE);
  CheckDlgButton(kBasic, CloneSettings.basicDuplication == 1 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kSectorBySector, CloneSettings.basicDuplication == 1 ? BST_UNCHECKED : BST_CHECKED);
  CListCtrl* list = PrepareDiskList(*this, 4);
  if (list) FillSourceList(*list);
  if (CWnd* area = GetDlgItem(kBarArea)) {
    area->GetWindowRect(&bar_);
    ScreenToClient(&bar_);
  }
  ready_ = true;
  WizardList.eventsEnabled = true;
  WizardList.recheckInProgress = true;
  if (list && CloneSettings.checkedRow >= 0 && CloneSettings.checkedRow < DiskListRows.rowCount) {
    const int r = CloneSettings.checkedRow;
    CloneSettings.checkedRow = -1;
    list->SetCheck(r, TRUE);
  } else {
    CloneSettings.checkedRow = -1;
  }
  WizardList.recheckInProgress = false;
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(CloneSettings.checkedRow >= 0);
  return TRUE;
}

void CMirrorSource::OnHeaderFocus() {
  if (CWnd* group = GetDlgItem(kGroup)) group->SetFocus();
}

void CMirrorSource::SetBasicAllowed(bool allowed) {
  if (CWnd* basic = GetDlgItem(kBasic)) basic->EnableWindow(allowed);
  if (CWnd* label = GetDlgItem(kBasicLabel)) label->EnableWindow(allowed);
  CheckDlgButton(kBasic, allowed ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kSectorBySector, allowed ? BST_UNCHECKED : BST_CHECKED);
}

void CMirrorSource::SetChecks(int first, int last, BOOL check, int except) {
  CListCtrl* list = List();
  if (!list) return;
  for (int i = std::max(first, 0); i <= last && i < list->GetItemCount(); ++i)
    if (i != except && list->GetCheck(i) != check) list->SetCheck(i, check);
}

void CMirrorSource::OnListItemChanged(NMHDR*, LRESULT* result) { *result = 0; }

void CMirrorSource::OnListItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_ || !WizardList.eventsEnabled) return;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  const CheckBoxChange what = CheckBoxChangeOf(header);
  CListCtrl* list = List();
  const int rows = std::min(DiskListRows.rowCount, kMaxListRows);
  if (what == CheckBoxChange::None || !list || row < 0 || row >= rows) {
    *result = 1;  // rows are ticked, never selected
    return;
  }
  const bool disk = IsDiskRow(row);
  const int diskRow = DiskRowOf(row);
  int nextDisk = diskRow + 1;
  while (nextDisk < rows && !IsDiskRow(nextDisk)) ++nextDisk;
  const CString details = list->GetItemText(row, 1);
  if (what == CheckBoxChange::Ticking && !disk) {
    CloneSettings.sourceLetterText = details.Mid(1, 2);
    SetBasicAllowed(details.Find(u":)") >= 0);
  }
  WizardList.eventsEnabled = false;
  CloneSettings.checkedRow = -1;
  if (what == CheckBoxChange::Unticking) {
    CloneSettings.systemMigration = 0;
    SetChecks(diskRow, nextDisk - 1, FALSE, row);
    WizardList.eventsEnabled = true;
    WizardList.barHighlightRow = -1;
  } else {
    SetChecks(0, rows - 1, FALSE, row);
    CloneSettings.checkedRow = row;
    int chosen = row;
    bool diskSteps = disk;
    if (disk) {
      CloneSettings.sourceLetter = -1;
      CloneSettings.systemMigration = 0;
      SetChecks(row + 1, nextDisk - 1, TRUE);
    }
    WizardList.eventsEnabled = true;
    WizardList.sourceRow = row;
    if (!disk) {
      CloneSettings.sourceDescription =
          RowHeading(*list, row) + details + u"  " + list->GetItemText(row, 2);
      WizardList.barHighlightRow = row;
      CloneSettings.partitionMode = 1;
      WizardList.barFirstPartitionRow = diskRow + 1;
      CloneSettings.sourceDisk = ListedIndexOfRow(row);
      const int p = details.Find(u":)");
      if (p >= 1) {
        CloneSettings.sourceLetter = details.GetAt(p - 1) & ~0x20;
        if (!WizardList.recheckInProgress && AskSystemMigration(row)) {
          diskSteps = true;
          chosen = diskRow;
        }
      } else {
        CloneSettings.sourceLetter = -1;
      }
    }
    if (diskSteps) {
      CloneSettings.sourceDescription = RowHeading(*list, chosen) + list->GetItemText(chosen, 1) + u"  " +
                                        list->GetItemText(chosen, 2) + u"  (" + list->GetItemText(chosen, 3) + u")" +
                                        u"\r\n ";
      WizardList.barHighlightRow = chosen;
      CloneSettings.partitionMode = 0;
      SetBasicAllowed(true);
      WizardList.barFirstPartitionRow = CloneSettings.checkedRow + 1;
      CloneSettings.sourceDisk = ListedIndexOfRow(CloneSettings.checkedRow);
    }
    SourceDiskMap.count = LayoutDiskBar(CloneSettings.sourceDisk, SourceDiskMap.items, bar_, true, 0);
    CloneSettings.sourceIsGpt = DiskContext.isGptDisk ? 1 : 0;
  }
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(CloneSettings.checkedRow >= 0);
  RedrawBar();
}

// Offers a system migration when the ticked partition holds a Windows
// system without its own boot folder (and is no XP system).
bool CMirrorSource::AskSystemMigration(int row) {
  const WCHAR letter = static_cast<WCHAR>(CloneSettings.sourceLetter);
  if (HasNtdetect(letter)) return false;
  const CString root = CString(u"\\\\.\\") + CloneSettings.sourceLetterText;
  if (FindFirstName(root + u"\\Windows\\System32").IsEmpty()) return false;
  if (!FindFirstName(root + u"\\BOOT").IsEmpty()) return false;
  if (CloneSettings.systemMigration) return false;
  if (MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_Win7SystemMigrate"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
    return false;
  const int d = DiskRowOf(row);
  CloneSettings.systemMigration = 1;
  CloneSettings.migrationRow = row;
  CloneSettings.checkedRow = d;
  CloneSettings.migrationPartitionCount = row - d;
  WizardList.sourceRow = d;
  WizardList.eventsEnabled = false;
  SetChecks(d, row, TRUE);
  WizardList.eventsEnabled = true;
  return true;
}

void CMirrorSource::RedrawBar() {
  InvalidateRect(&bar_, FALSE);
}

void CMirrorSource::OnPaint() {
  CPaintDC dc(this);
  PaintBarLegend(*this, dc);
  if (CloneSettings.sourceDisk == kNoListedDisk) return;
  DiskBarStyle style;
  style.highlighted = &SourceSegmentLit;
  style.gptDisk = CloneSettings.sourceIsGpt != 0;
  style.msrIndex = DiskContext.msrIndex;
  style.diskSectors = ListedSize(CloneSettings.sourceDisk);
  PaintDiskBar(dc, bar_, SourceDiskMap.items, SourceDiskMap.count, style);
}

void CMirrorSource::OnNext() {
  CloneSettings.basicDuplication = IsDlgButtonChecked(kBasic) == BST_CHECKED ? 1 : 0;
  if (SourceDiskMap.count == 0 && CloneSettings.basicDuplication == 1) return;
  CloneSettings.sizingMode = SizingMode::None;
  CListCtrl* list = List();
  if (!list) return;
  GetListSelection(*list, -1);
  if (tickedCount == 0) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_SelectSource"), ShellState.messageCaption, MB_OK);
    return;
  }
  CloneSettings.destinationRow = -1;
  CloneSettings.chosenDestinationDisk = kNoListedDisk;
  const int row = WizardList.sourceRow;
  const ListedDiskIndex listed = ListedIndexOfRow(row);
  if (listed.is_none()) return;
  const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
  if (IsDiskRow(row)) {
    CloneSettings.copySourceDisk = listed;
    CloneSettings.copySourceStart = 0;
    CloneSettings.copySourceLength = ListedSize(listed);
    CloneSettings.sourceName = LookupString(u"IDS_Drive") + IntToText(physical.value);
    CloneSettings.partitionMode = 0;
  } else {
    CloneSettings.copySourceDisk = listed;
    CloneSettings.copySourceStart = DiskListRows.rowStart[row];
    CloneSettings.copySourceLength = DiskListRows.rowLength[row];
    CloneSettings.partitionMode = 1;
    CloneSettings.copySourceLength32 = static_cast<uint32_t>(CloneSettings.copySourceLength);
    CloneSettings.copySourceFsCode = CloneSettings.sourceDescription.Find(u"NTFS") >= 1 ? 7 : 12;
    CloneSettings.sourceActive = 0;
    if (DiskListRows.rowEbrSector[row] == 0) {
      // The boot indicator of the partition's MBR entry. A sector 0 that
      // cannot be read says nothing about it: the page stays.
      std::vector<uint8_t> sector(4096);
      int result = -1;
      if (OpenDiskRead(physical.value)) {
        result = ReadDiskSectors(sector.data(), 0, 1);
        CloseCurrentDisk();
      }
      if (result != 0) {
        MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_SourceUnreadable"), ShellState.messageCaption, MB_OK);
        return;
      }
      const int32_t slot = DiskListRows.rowSlot[row];
      if (slot >= 0 && slot < 4) CloneSettings.sourceActive = sector[446 + 16 * slot] == 0x80 ? 1 : 0;
    }
    const CString& d = CloneSettings.sourceDescription;
    const int p = d.Find(u":)");
    CloneSettings.sourceName = LookupString(u"IDS_Partition") + u" " + (p >= 1 ? d.Mid(p - 1, 2) : d.Left(2));
    CloneSettings.sizingMode = SizingMode::None;
  }
  CloneSettings.sourceMapItem = -1;
  if (CloneSettings.partitionMode == 1) {
    for (int32_t i = 0; i < SourceDiskMap.count; ++i)
      if (SourceDiskMap.items[i].partitionIndex >= 0 &&
          SourceDiskMap.items[i].start == CloneSettings.copySourceStart) {
        CloneSettings.sourceMapItem = i;
        break;
      }
  }
  CWnd* parent = GetParent();
  EndDialog(IDOK);
  if (RunDestinationPage) RunDestinationPage(parent);
}

void CMirrorSource::OnOK() { OnNext(); }

void CMirrorSource::OnBack() { EndDialog(IDCANCEL); }

void CMirrorSource::OnView() {
  if (CListCtrl* list = List()) GetListSelection(*list, -1);
  if (RunDiskViewerPage) RunDiskViewerPage(this);
}

void CMirrorSource::OnDiagnostic() {
  if (!CloneSettings.sourceDisk.is_none() && RunDiagnosticsPage) RunDiagnosticsPage(this);
}

void CMirrorSource::OnRunExplorer() {
  if (CloneSettings.sourceLetter <= 0) return;
  CString name;
  name += static_cast<WCHAR>(CloneSettings.sourceLetter);
  name += u":\\*.*";
  CFileDialog dialog(TRUE, nullptr, name, OFN_HIDEREADONLY, u"All files (*.*)|*.*|", this);
  dialog.DoModal();
}

INT_PTR RunCloneWizard(CWnd* parent) {
  CloneSettings.checkedRow = -1;
  CloneSettings.destinationRow = -1;
  CloneSettings.sourceDisk = kNoListedDisk;
  CMirrorSource page(parent);
  CloneSettings.basicDuplication = 1;
  return page.DoModal();
}
