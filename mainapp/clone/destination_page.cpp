#include "mainapp/clone/destination_page.h"

#include <algorithm>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/disk_map.h"
#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_formatter.h"
#include "mainapp/clone/clone_plan.h"
#include "mainapp/clone/manual_sizing.h"
#include "mainapp/clone/options_page.h"
#include "mainapp/clone/plan_application.h"
#include "mainapp/clone/raw_target.h"
#include "mainapp/clone/source_page.h"
#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/records/disk_bars.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/clock.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"
#include "program_support/wait_cursor.h"

DestinationPageStateRecord DestinationPageState;

BEGIN_MESSAGE_MAP(CMirrorDestination, CDialog)
  ON_EN_SETFOCUS(1003, &CMirrorDestination::OnHeaderFocus)
  ON_EN_SETFOCUS(1004, &CMirrorDestination::OnHeaderFocus)
  ON_EN_SETFOCUS(CMirrorDestination::kMiB, &CMirrorDestination::OnMiBFocus)
  ON_BN_CLICKED(CMirrorDestination::kBack, &CMirrorDestination::OnBack)
  ON_BN_CLICKED(CMirrorDestination::kNext, &CMirrorDestination::OnNext)
  ON_BN_CLICKED(CMirrorDestination::kAuto, &CMirrorDestination::OnAutomatic)
  ON_BN_CLICKED(CMirrorDestination::kSame, &CMirrorDestination::OnSameSize)
  ON_BN_CLICKED(CMirrorDestination::kManual, &CMirrorDestination::OnManual)
  ON_BN_CLICKED(CMirrorDestination::kBefore, &CMirrorDestination::OnBeforeView)
  ON_BN_CLICKED(CMirrorDestination::kAfter, &CMirrorDestination::OnAfterView)
  ON_BN_CLICKED(CMirrorDestination::kApply, &CMirrorDestination::OnApply)
  ON_CBN_SELCHANGE(CMirrorDestination::kCombo, &CMirrorDestination::OnComboChange)
  ON_NOTIFY(NM_RELEASEDCAPTURE, CMirrorDestination::kTrackbar, &CMirrorDestination::OnTrackbarReleased)
  ON_NOTIFY(LVN_ITEMCHANGING, CMirrorDestination::kList, &CMirrorDestination::OnListItemChanging)
  ON_NOTIFY(NM_CUSTOMDRAW, CMirrorDestination::kList, &CMirrorDestination::OnListCustomDraw)
  ON_WM_PAINT()
  ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

namespace {

constexpr uint64_t kMbrLimit = 4294967296ull;  // sectors an MBR can address
constexpr int32_t kNewEspType = 0xEE;          // the planned type of the EFI system partition a conversion adds
// The bound texts carry the words "minimum" and "maximum" themselves, so
// the two labels stay hidden.
constexpr int kManualControls[] = {CMirrorDestination::kTrackbar, CMirrorDestination::kMiB, CMirrorDestination::kApply,
                                   CMirrorDestination::kMiBLabel};

void Show(CWnd* page, int id, bool show) {
  if (CWnd* w = page->GetDlgItem(id)) w->ShowWindow(show ? SW_SHOW : SW_HIDE);
}
void Enable(CWnd* page, int id, bool enable) {
  if (CWnd* w = page->GetDlgItem(id)) w->EnableWindow(enable);
}

void Message(CWnd* page, const char16_t* key) {
  MessageBoxW(page->GetSafeHwnd(), LookupString(key), ShellState.messageCaption, MB_OK);
}

// The destination page outlines the sized partition (manual sizing) or the
// destination partition (partition copy).
struct BarLight {
  int32_t item = -1;
};
bool DestinationSegmentLit(const DiskMapItem&, int32_t index, const void* context) {
  return index == static_cast<const BarLight*>(context)->item;
}

}  // namespace

CMirrorDestination::CMirrorDestination(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CMirrorDestination::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

bool CMirrorDestination::IsDiskRow(int row) const { return IsDiskListRow(row); }

int CMirrorDestination::DiskRowOf(int row) const { return DiskRowOfListRow(row); }

int CMirrorDestination::NextDiskRow(int row) const {
  const int rows = std::min(DiskListRows.rowCount, kMaxListRows);
  int next = DiskRowOf(row) + 1;
  while (next < rows && !IsDiskRow(next)) ++next;
  return next;
}

// The source's own rows: the ticked source row, and every row of a source disk.
bool CMirrorDestination::IsSourceRow(int row) const {
  const int source = CloneSettings.checkedRow;
  if (source < 0 || row < 0) return false;
  if (row == source) return true;
  return IsDiskRow(source) && DiskRowOf(row) == source;
}

bool CMirrorDestination::IsSystemDiskRow(int row) const {
  if (ShellState.winPEMode) return false;
  const PhysicalDiskNumber physical = ListedPhysicalDisk(ListedIndexOfRow(row));
  return !physical.is_none() && physical == DiskContext.systemDisk;
}

BOOL CMirrorDestination::OnInitDialog() {
  CDialog::OnInitDialog();
  ready_ = false;
  // What manual sizing applied on the last visit, applied again below.
  const int64_t rememberedLength = ManualSizing.currentLength;
  const int32_t rememberedLine = ManualSizing.comboLine;
  ManualSizing.currentLength = -1;
  ManualSizing.controlsHidden = true;
  for (auto& enabled : DestinationPageState.rowEnabled) enabled = 0;
  DestinationPageState.rawTarget = false;
  DestinationPageState.preparedRow = -1;
  if (CWnd* area = GetDlgItem(kBarArea)) {
    area->GetWindowRect(&bar_);
    ScreenToClient(&bar_);
  }
  if (CloneSettings.sizingMode == SizingMode::None) {
    CloneSettings.sizingMode = CloneSettings.basicDuplication ? SizingMode::Automatic : SizingMode::SameSize;
  }
  if (!CloneSettings.basicDuplication) {
    // A sector-by-sector copy keeps every partition where it is.
    CloneSettings.sizingMode = SizingMode::SameSize;
    Enable(this, kAuto, false);
    Enable(this, kManual, false);
  }
  ApplyPageHeader(*this, fonts_, u"IDS_MDestCap");
  SetDlgItemText(1003, LookupString(u"IDS_MDestHI"));
  SetDlgItemText(1004, LookupString(u"IDS_MDestH2"));
  static const std::pair<int, const char16_t*> kTexts[] = {
      {kGroup, u"IDS_MDest1"},       {1002, u"IDS_MDest2"},          {1005, u"IDS_MOptionH11"},
      {kAuto, u"IDS_RadioAuto"},     {kSame, u"IDS_RadioSame"},      {kManual, u"IDS_RadioManual"},
      {1006, u"IDS_SelectedDesti"},  {kBefore, u"IDS_BEFORE"},       {kAfter, u"IDS_AFTER"},
      {1086, u"IDS_Unallocated"},    {1087, u"IDS_Primary"},         {1090, u"IDS_LogicalDrive"},
      {1091, u"IDS_FreeLogical"},    {kApply, u"IDS_Apply"},         {kMaximumLabel, u"IDS_MAXIMUM"},
      {kMinimumLabel, u"IDS_MINIMUM"}, {1124, u"IDS_FormatProgress"}, {kBack, u"IDS_Back"},
      {kNext, u"IDS_Next"},          {IDCANCEL, u"IDS_Cancel"},
  };
  for (auto [id, key] : kTexts) SetDlgItemText(id, LookupString(key));
  SetDlgItemText(1076, LookupString(u"IDS_Disk").TrimRight() + u":");
  SetDlgItemText(1077, LookupString(u"IDS_Partition") + u":");
  SetDlgItemText(kMiBLabel, u"MB");
  CheckDlgButton(kAfter, BST_CHECKED);
  CheckDlgButton(kBefore, BST_UNCHECKED);
  DestinationPageState.barAfter = true;
  if (CloneSettings.sizingMode == SizingMode::SameSize) {
    Enable(this, kCombo, false);
    Enable(this, kBefore, false);
    Enable(this, kAfter, false);
  }
  PrepareDiskList(*this, 4);
  FillList();
  if (CloneSettings.partitionMode) Enable(this, kCombo, false);
  SelectSizingRadio(CloneSettings.sizingMode);
  HideManualControls();
  switch (CloneSettings.sizingMode) {
    case SizingMode::SameSize: SetSizingText(u"IDS_SameSize"); Show(this, kCombo, CloneSettings.partitionMode); break;
    case SizingMode::Manual: SetSizingText(u"IDS_ManualExp"); Show(this, kCombo, true); break;
    default: SetSizingText(u"IDS_AutoExp"); Show(this, kCombo, CloneSettings.partitionMode); break;
  }
  if (CloneSettings.destinationRow >= 0 && ManualWholeDisk() && rememberedLine >= 0) {
    // The remembered combo line, with the length last applied to it.
    auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo));
    if (combo && rememberedLine < combo->GetCount()) {
      combo->SetCurSel(rememberedLine);
      OnComboChange();
      if (rememberedLength > 0 && ManualSizing.selectedItem >= 0) {
        ManualSizing.requestedLength = static_cast<uint64_t>(rememberedLength);
        ApplyRequestedLength();
      }
    }
  }
  Enable(this, kNext, CloneSettings.destinationRow >= 0);
  ready_ = true;
  return TRUE;
}

void CMirrorDestination::OnHeaderFocus() {
  if (CWnd* group = GetDlgItem(kGroup)) group->SetFocus();
}

// The MiB field is selected whole when it gets the focus, so that what is
// typed replaces the shown size.
void CMirrorDestination::OnMiBFocus() {
  if (CWnd* field = GetDlgItem(kMiB)) field->SendMessage(EM_SETSEL, 0, -1);
}

void CMirrorDestination::SetSizingText(const char16_t* key) { SetDlgItemText(kSizingText, LookupString(key)); }

void CMirrorDestination::SelectSizingRadio(SizingMode mode) {
  CheckDlgButton(kAuto, mode == SizingMode::Automatic ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kSame, mode == SizingMode::SameSize ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kManual, mode == SizingMode::Manual ? BST_CHECKED : BST_UNCHECKED);
}

bool CMirrorDestination::ManualWholeDisk() const {
  return CloneSettings.sizingMode == SizingMode::Manual && CloneSettings.partitionMode == 0;
}

void CMirrorDestination::FillList() {
  CListCtrl* list = List();
  if (!list) return;
  const bool wasReady = ready_;
  ready_ = false;
  list->DeleteAllItems();
  const int rows = std::min(FillDiskListRows(*list, &TypeDetails), kMaxListRows);
  WizardList.listRowCount = rows;
  const int32_t sourceMultiplier = SectorMultiplierOf(ListedPhysicalDisk(CloneSettings.copySourceDisk).value);
  for (int r = 0; r < rows; ++r) {
    const bool disk = IsDiskRow(r);
    const int32_t physical = ListedPhysicalDisk(ListedIndexOfRow(r)).value;
    if (disk) list->SetItemText(r, 0, LookupString(u"IDS_Drive") + IntToText(physical) + u":");
    bool grey = IsSystemDiskRow(r) || (CloneSettings.partitionMode && r == CloneSettings.checkedRow);
    if (!disk) {
      grey = grey || IsSystemDiskRow(DiskRowOf(r));
      // With system migration the source's partitions past the copied ones
      // stay as they are: they are not part of the copy.
      if (CloneSettings.systemMigration && DiskRowOf(r) == DiskRowOf(CloneSettings.checkedRow) &&
          r - DiskRowOf(r) - 1 >= CloneSettings.migrationPartitionCount)
        grey = false;
    }
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = r;
    item.iImage = disk ? (grey ? kImageDisabledDiskRow : kImageDiskRow)
                       : (grey ? kImageDisabledPartitionRow : kImagePartitionRow);
    list->SetItem(&item);
    // Sector by sector copies whole native sectors: only disks of the
    // source's sector size qualify.
    DestinationPageState.rowEnabled[r] =
        CloneSettings.basicDuplication || SectorMultiplierOf(physical) == sourceMultiplier ? 1 : 0;
  }
  // The source's rows are ticked (with system migration only the copied partitions).
  const int source = CloneSettings.checkedRow;
  if (source >= 0 && source < rows) {
    list->SetCheck(source, TRUE);
    if (IsDiskRow(source)) {
      int last = NextDiskRow(source) - 1;
      if (CloneSettings.systemMigration) last = std::min(last, source + CloneSettings.migrationPartitionCount);
      SetChecks(source + 1, last, TRUE);
    }
  }
  const int remembered = CloneSettings.destinationRow;
  if (remembered >= 0 && remembered < rows && !IsSourceRow(remembered)) {
    CloneSettings.destinationRow = -1;
    list->SetCheck(remembered, TRUE);
    if (!SelectRow(remembered)) list->SetCheck(remembered, FALSE);
  } else {
    CloneSettings.destinationRow = -1;
  }
  ready_ = wasReady;
}

void CMirrorDestination::SetChecks(int first, int last, BOOL check, int except) {
  CListCtrl* list = List();
  if (!list) return;
  for (int i = std::max(first, 0); i <= last && i < list->GetItemCount(); ++i)
    if (i != except && list->GetCheck(i) != check) list->SetCheck(i, check);
}

void CMirrorDestination::OnListCustomDraw(NMHDR* header, LRESULT* result) {
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
    *result = CDRF_NOTIFYITEMDRAW;
    return;
  }
  const size_t row = draw->nmcd.dwItemSpec;
  if (row < std::size(DestinationPageState.rowEnabled) && row < static_cast<size_t>(WizardList.listRowCount) &&
      !DestinationPageState.rowEnabled[row])
    draw->clrText = RGB(128, 128, 128);
  *result = CDRF_DODEFAULT;
}

void CMirrorDestination::OnListItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!ready_) return;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  const CheckBoxChange what = CheckBoxChangeOf(header);
  const int rows = std::min(DiskListRows.rowCount, kMaxListRows);
  if (what == CheckBoxChange::None || row < 0 || row >= rows) {
    *result = what == CheckBoxChange::None ? 1 : 0;
    return;
  }
  if (IsSourceRow(row)) {
    *result = 1;
    return;
  }
  CListCtrl* list = List();
  if (what == CheckBoxChange::Unticking) {
    const int destination = CloneSettings.destinationRow;
    if (destination < 0) return;
    if (!IsDiskRow(row) && IsDiskRow(destination) && DiskRowOf(row) == destination) {
      *result = 1;  // a partition of the destination disk goes with its disk
      return;
    }
    ready_ = false;
    if (IsDiskRow(destination)) SetChecks(destination, NextDiskRow(destination) - 1, FALSE, row);
    ready_ = true;
    ClearDestination();
    return;
  }
  if (!DestinationPageState.rowEnabled[row] || IsSystemDiskRow(row)) {
    *result = 1;
    return;
  }
  const bool disk = IsDiskRow(row);
  if (!CloneSettings.partitionMode && !disk) {
    Message(this, u"IDS_CANNOT2");
    *result = 1;
    return;
  }
  if (CloneSettings.partitionMode && disk) {
    // A partition is copied onto a partition: an empty disk gets one first.
    // The tick itself is refused; the new partition's row is ticked instead.
    *result = 1;
    PrepareRawTargetRow(row);
    return;
  }
  ManualSizing.currentLength = -1;
  ManualSizing.comboLine = -1;
  if (!SelectRow(row)) {
    *result = 1;
    return;
  }
  if (list && CloneSettings.partitionMode && CloneSettings.sizingMode == SizingMode::SameSize) {
    ApplySourceSizeToPartition(PlannedDiskMap, ManualSizing.selectedItem, CloneSettings.copySourceLength);
    LayOutAfterBar();
  }
  Enable(this, kNext, true);
  Redraw();
}

void CMirrorDestination::ClearDestination() {
  CloneSettings.destinationRow = -1;
  CloneSettings.chosenDestinationDisk = kNoListedDisk;
  DestinationDiskMap = DiskMapRecord{};
  PlannedDiskMap = DiskMapRecord{};
  ManualSizing.selectedItem = -1;
  HideManualControls();
  if (auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo))) combo->ResetContent();
  SetDlgItemText(kDiskNumber, u"");
  Enable(this, kNext, false);
  Redraw();
}

namespace {
bool SameMap(const DiskMapRecord& a, const DiskMapRecord& b) {
  if (a.count != b.count) return false;
  for (int32_t i = 0; i < a.count && i < kMaxDiskMapItems; ++i)
    if (a.items[i].start != b.items[i].start || a.items[i].length != b.items[i].length ||
        a.items[i].partitionIndex != b.items[i].partitionIndex)
      return false;
  return true;
}
}  // namespace

// A disk row ticked for a partition copy. A disk that holds partitions
// keeps them (one of them is the destination); an empty one, when the user
// agrees, gets one partition over the whole disk, and the list, read again,
// has the new partition's row ticked.
void CMirrorDestination::PrepareRawTargetRow(int row) {
  const ListedDiskIndex listed = ListedIndexOfRow(row);
  const int32_t physical = ListedPhysicalDisk(listed).value;
  if (physical < 0 || ReadPartitionList(sharedPartitionBuffer, physical) > 0) {
    Message(this, u"IDS_CANNOT3");
    return;
  }
  CFormatDisk question(this);
  question.DoModal();
  if (!FormatNowAnswer) return;
  // The wait below pumps messages: the list takes no ticks meanwhile.
  ready_ = false;
  SetWaitCursor();
  for (int id : {kBack, static_cast<int>(IDCANCEL), kNext}) Enable(this, id, false);
  DiskMapRecord before;
  before.count = BuildDiskMap(listed, before.items, true);
  const int32_t volumesBefore = CountDiskVolumes(physical);
  const RawTargetResult prepared = PrepareRawTarget(physical, ListedSize(listed),
                                                    VolumeUsedSectors(CloneSettings.sourceLetter),
                                                    SourcePartitionIsActive());
  if (prepared == RawTargetResult::Prepared) WaitForRawTarget(listed, physical, before, volumesBefore);
  RestoreCursor();
  ready_ = true;
  Enable(this, kBack, true);
  Enable(this, IDCANCEL, true);
  if (prepared != RawTargetResult::Prepared) {
    Message(this, u"IDS_cannotformat");
    Enable(this, kNext, CloneSettings.destinationRow >= 0);
    return;
  }
  DestinationPageState.rawTarget = true;
  DestinationPageState.preparedRow = row;
  // The list read again, the earlier destination forgotten, the new
  // partition (the row after its disk's) ticked through the tick rules.
  ClearDestination();
  FillList();
  CListCtrl* list = List();
  const int rows = std::min(DiskListRows.rowCount, kMaxListRows);
  if (list && row + 1 < rows && !IsDiskRow(row + 1) && DiskRowOf(row + 1) == row) list->SetCheck(row + 1, TRUE);
  Enable(this, kNext, CloneSettings.destinationRow >= 0);
  Redraw();
}

// Shows the progress text with a growing row of points while the new table
// reaches the disk's map and its volume arrives (each wait at most 5 s).
void CMirrorDestination::WaitForRawTarget(ListedDiskIndex listed, int32_t physical, const DiskMapRecord& before,
                                          int32_t volumesBefore) {
  Show(this, kPrepareProgress, true);
  const CString text = LookupString(u"IDS_FormatProgress");
  int dots = 0;
  auto tick = [&] {
    dots = dots % 10 + 1;
    SetDlgItemText(kPrepareProgress, text + CString(std::u16string(static_cast<size_t>(dots), u'.').c_str()));
    PumpMessages(m_hWnd);
    Sleep(100);
  };
  DiskMapRecord now;
  for (int i = 0; i < 50; ++i) {
    now.count = BuildDiskMap(listed, now.items, true);
    if (!SameMap(now, before)) break;
    tick();
  }
  for (int i = 0; i < 50 && CountDiskVolumes(physical) == volumesBefore; ++i) tick();
  Sleep(1000);
  Show(this, kPrepareProgress, false);
}

// The destination is the partition the page has just made on an empty disk.
bool CMirrorDestination::IsPreparedPartition() const {
  return DestinationPageState.rawTarget && DestinationPageState.preparedRow >= 0 &&
         CloneSettings.destinationRow == DestinationPageState.preparedRow + 1;
}

bool CMirrorDestination::SelectRow(int row) {
  const int previousRow = CloneSettings.destinationRow;
  const ListedDiskIndex previousDisk = CloneSettings.chosenDestinationDisk;
  const DiskSelectionRecord previousSelection = DestinationSelection;
  auto restore = [&] {
    CloneSettings.destinationRow = previousRow;
    CloneSettings.chosenDestinationDisk = previousDisk;
    DestinationSelection = previousSelection;
  };
  CListCtrl* list = List();
  const ListedDiskIndex listed = ListedIndexOfRow(row);
  const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
  if (!list || physical.is_none()) return false;
  const bool disk = IsDiskRow(row);
  const uint64_t diskSize = ListedSize(listed);
  const int32_t multiplier = std::max(SectorMultiplierOf(physical.value), 1);
  // The disk row's name ends in its own colon: one is enough.
  CloneSettings.destinationDescription = RowHeading(*list, row) + list->GetItemText(row, 1) + u"  " + list->GetItemText(row, 2);
  DestinationSelection = DiskSelectionRecord{};
  DestinationSelection.diskNumber = physical;
  if (disk) {
    if (CloneSettings.copySourceStart != 0) return false;
    // An MBR source laid out by hand cannot address a disk of 2 TiB or more.
    if (CloneSettings.sizingMode == SizingMode::Manual && !CloneSettings.sourceIsGpt && diskSize >= kMbrLimit)
      return false;
    CloneSettings.partitionMode = 0;
    DestinationPageState.destinationStart = 0;
    DestinationPageState.destinationSize = diskSize;
    DestinationSelection.kind = kSelectionWholeDisk;
    SetSelectionModel(DestinationSelection, ListedModel(listed));
    DestinationSelection.sectorCount = diskSize / multiplier;
  } else {
    CloneSettings.partitionMode = 1;
    DestinationPageState.destinationStart = DiskListRows.rowStart[row];
    DestinationPageState.destinationSize = DiskListRows.rowLength[row];
    DestinationSelection.kind = kSelectionPartition;
    DestinationSelection.startSector = DiskListRows.rowStart[row] / multiplier;
    DestinationSelection.sectorCount = DiskListRows.rowLength[row] / multiplier;
    const CString details = list->GetItemText(row, 1);
    const int p = details.Find(u":)");
    DestinationSelection.driveLetter = p >= 1 ? details.GetAt(p - 1) : u' ';
  }
  CloneSettings.destinationRow = row;
  CloneSettings.chosenDestinationDisk = listed;
  DestinationDiskMap.count = BuildDiskMap(listed, DestinationDiskMap.items, true);
  SetDlgItemText(kDiskNumber, LookupString(u"IDS_Drive") + IntToText(physical.value));
  if (CloneSettings.sizingMode == SizingMode::SameSize &&
      CloneSettings.copySourceLength > DestinationPageState.destinationSize) {
    Message(this, u"IDS_DestinationTooSmall");
    restore();
    return false;
  }
  DestinationDiskMap.barSegments = LayoutDiskBar(listed, DestinationDiskMap.items, bar_, false, DestinationDiskMap.count);
  if (CloneSettings.partitionMode) {
    const uint64_t used = VolumeUsedSectors(CloneSettings.sourceLetter);
    if (used > DestinationPageState.destinationSize) {
      Message(this, u"IDS_DestinationTooSmall");
      restore();
      return false;
    }
    PlannedDiskMap = DestinationDiskMap;
    ManualSizing.selectedItem =
        FindMapItem(PlannedDiskMap.items, PlannedDiskMap.count, row - DiskRowOf(row) - 1);
    LayOutAfterBar();
  } else if (!PlanWholeDisk()) {
    restore();
    return false;
  }
  HideManualControls();
  ready_ = false;
  SetChecks(0, std::min(DiskListRows.rowCount, kMaxListRows) - 1, FALSE, row);
  // The source rows stay ticked.
  const int source = CloneSettings.checkedRow;
  if (source >= 0) {
    list->SetCheck(source, TRUE);
    if (IsDiskRow(source)) {
      int last = NextDiskRow(source) - 1;
      if (CloneSettings.systemMigration) last = std::min(last, source + CloneSettings.migrationPartitionCount);
      SetChecks(source + 1, last, TRUE);
    }
  }
  if (disk) SetChecks(row + 1, NextDiskRow(row) - 1, TRUE);
  ready_ = true;
  auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo));
  if (combo && CloneSettings.partitionMode) {
    combo->ResetContent();
    combo->AddString(CloneSettings.destinationDescription);
    combo->SetCurSel(0);
  }
  if (ManualWholeDisk() && combo) {
    combo->SetCurSel(0);
    OnComboChange();
  }
  Redraw();
  return true;
}

// The whole-disk plan for the chosen destination with the current sizing;
// the After bar and the partition combo show what Next will write.
bool CMirrorDestination::PlanWholeDisk() {
  int32_t entries = 0;
  const bool ok = ApplyDestinationPlan(&entries);
  DestinationPageState.plannedEntries = entries;
  ManualSizing.selectedItem = -1;
  if (!ok) return false;
  if (CloneSettings.sizingMode == SizingMode::SameSize) {
    // Same size keeps every lettered partition at its source start and
    // length: the source's own map, which Next writes back into the table.
    // Its free tail reaches to the destination's end.
    PlannedDiskMap = SourceDiskMap;
    const uint64_t d = ListedSize(CloneSettings.chosenDestinationDisk);
    if (PlannedDiskMap.count > 0) {
      DiskMapItem& last = PlannedDiskMap.items[PlannedDiskMap.count - 1];
      const uint64_t end = last.start + last.length;
      if (last.partitionIndex < 0 && last.outsideExtended && end < d) {
        last.length = d - last.start;
      } else if (end + 32768 < d && PlannedDiskMap.count < kMaxDiskMapItems) {
        DiskMapItem& free = PlannedDiskMap.items[PlannedDiskMap.count++];
        free = DiskMapItem{-1, end, d - end, -1, 1, 0, -1};
      }
    }
  }
  LayOutAfterBar();
  FillCombo();
  return true;
}

void CMirrorDestination::FillCombo() {
  auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo));
  if (!combo) return;
  combo->ResetContent();
  for (int32_t i = 0; i < PlannedDiskMap.count; ++i)
    if (PlannedDiskMap.items[i].partitionIndex >= 0) combo->AddString(PartitionComboLine(PlannedDiskMap.items[i], i));
  if (ManualSizing.comboLine >= 0 && ManualSizing.comboLine < combo->GetCount())
    combo->SetCurSel(ManualSizing.comboLine);
}

void CMirrorDestination::LayOutAfterBar() {
  PlannedDiskMap.barSegments =
      LayoutDiskBar(CloneSettings.chosenDestinationDisk, PlannedDiskMap.items, bar_, false, PlannedDiskMap.count);
}

void CMirrorDestination::HideManualControls() {
  for (int id : kManualControls) Show(this, id, false);
  Show(this, kMinimumLabel, false);
  Show(this, kMaximumLabel, false);
  ManualSizing.controlsHidden = true;
  if (CloneSettings.sizingMode != SizingMode::Manual || CloneSettings.partitionMode) Enable(this, kCombo, false);
  SetDlgItemText(kMinimumText, u"");
  SetDlgItemText(kMaximumText, u"");
  Show(this, kMinimumText, false);
  Show(this, kMaximumText, false);
}

// Shows the bounds of planned item `item` on the manual controls; -1 hides
// them and enables the combo, -2 hides them; items before the system
// partition cannot be sized.
void CMirrorDestination::ShowManualBounds(int32_t item) {
  if (item == -1) {
    HideManualControls();
    Enable(this, kCombo, true);
    return;
  }
  if (item < 0 || CloneSettings.sizingMode != SizingMode::Manual) {
    HideManualControls();
    return;
  }
  ManualBounds b;
  if (CloneSettings.partitionMode) {
    b = PartitionBounds(DestinationDiskMap, item, VolumeUsedSectors(CloneSettings.sourceLetter));
    if (ManualSizing.currentLength >= 0) b.current = static_cast<uint64_t>(ManualSizing.currentLength);
  } else {
    if (item < DiskContext.systemPartitionIndex || item >= PlannedDiskMap.count) {
      HideManualControls();
      return;
    }
    b = WholeDiskBounds(PlannedDiskMap, item, VolumeUsedSectors(PlannedDiskMap.items[item].driveLetter));
  }
  ManualSizing.selectedItem = item;
  ManualSizing.minimum = b.minimum;
  ManualSizing.maximum = b.maximum;
  if (ManualSizing.currentLength < 0) ManualSizing.currentLength = static_cast<int64_t>(b.current);
  const uint64_t current = static_cast<uint64_t>(ManualSizing.currentLength);
  if (auto* slider = dynamic_cast<CSliderCtrl*>(GetDlgItem(kTrackbar))) {
    slider->SetRange(static_cast<int>(b.minimum >> 4), static_cast<int>(b.maximum >> 4), TRUE);
    slider->SetPos(static_cast<int>(current >> 4));
  }
  SetDlgItemText(kMiB, IntToText(static_cast<int32_t>(current / 2048)));
  SetDlgItemText(kMinimumText, LookupString(u"IDS_MINIMUM") + u" " + FormatSectorCount(b.minimum));
  SetDlgItemText(kMaximumText, LookupString(u"IDS_MAXIMUM") + u" " + FormatSectorCount(b.maximum));
  for (int id : kManualControls) Show(this, id, true);
  Show(this, kMinimumText, true);
  Show(this, kMaximumText, true);
  ManualSizing.controlsHidden = false;
  Enable(this, kTrackbar, DestinationPageState.barAfter);
}

void CMirrorDestination::OnComboChange() {
  auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo));
  if (!combo || CloneSettings.partitionMode) return;
  const int line = combo->GetCurSel();
  CString text;
  if (line >= 0) combo->GetLBText(line, text);
  const int32_t item = ItemOfComboLine(text);
  if (item < 0 || item >= PlannedDiskMap.count || PlannedDiskMap.items[item].partitionIndex < 0) {
    if (ManualSizing.comboLine >= 0) combo->SetCurSel(ManualSizing.comboLine);
    return;
  }
  if (item != ManualSizing.selectedItem) ManualSizing.currentLength = -1;
  ManualSizing.comboLine = line;
  ShowManualBounds(item);
  Redraw();
}

void CMirrorDestination::ApplyRequestedLength() {
  const int32_t item = ManualSizing.selectedItem;
  if (item < 0) return;
  const uint64_t diskSectors = ListedSize(CloneSettings.chosenDestinationDisk);
  const uint64_t length = ResizePlannedItem(PlannedDiskMap, item, ManualSizing.requestedLength, diskSectors);
  if (length == 0) return;
  ManualSizing.currentLength = static_cast<int64_t>(length);
  ManualSizing.changed = true;
  if (auto* slider = dynamic_cast<CSliderCtrl*>(GetDlgItem(kTrackbar))) slider->SetPos(static_cast<int>(length >> 4));
  SetDlgItemText(kMiB, IntToText(static_cast<int32_t>(length / 2048)));
  LayOutAfterBar();
  // The combo's lines carry the sizes: refresh them, keeping the line.
  const int line = ManualSizing.comboLine;
  FillCombo();
  if (auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo)); combo && line >= 0) combo->SetCurSel(line);
  Redraw();
}

void CMirrorDestination::OnTrackbarReleased(NMHDR*, LRESULT* result) {
  *result = 0;
  auto* slider = dynamic_cast<CSliderCtrl*>(GetDlgItem(kTrackbar));
  if (!slider || ManualSizing.selectedItem < 0) return;
  ManualSizing.requestedLength = std::max(TrackbarLength(slider->GetPos(), ManualSizing.maximum), ManualSizing.minimum);
  ApplyRequestedLength();
}

void CMirrorDestination::ApplyTypedLength() {
  if (ManualSizing.selectedItem < 0) return;
  CString text;
  GetDlgItemText(kMiB, text);
  ManualSizing.requestedLength = TypedLength(text, ManualSizing.minimum, ManualSizing.maximum);
  ApplyRequestedLength();
}

void CMirrorDestination::OnApply() { ApplyTypedLength(); }

void CMirrorDestination::OnAutomatic() {
  if (IsDlgButtonChecked(kAuto) != BST_CHECKED) return;
  CloneSettings.sizingMode = SizingMode::Automatic;
  SetSizingText(u"IDS_AutoExp");
  Show(this, kCombo, CloneSettings.partitionMode);
  ManualSizing.comboLine = -1;
  if (CloneSettings.destinationRow >= 0) {
    if (CloneSettings.partitionMode) {
      PlannedDiskMap = DestinationDiskMap;
      LayOutAfterBar();
    } else if (!PlanWholeDisk()) {
      ClearDestination();
    }
  }
  HideManualControls();
  Redraw();
}

void CMirrorDestination::OnSameSize() {
  if (IsDlgButtonChecked(kSame) != BST_CHECKED) return;
  SetSizingText(u"IDS_SameSize");
  HideManualControls();
  if (CloneSettings.destinationRow >= 0 && CloneSettings.copySourceLength > DestinationPageState.destinationSize) {
    Message(this, u"IDS_DestinationTooSmall");
    SelectSizingRadio(SizingMode::Automatic);
    OnAutomatic();
    return;
  }
  CloneSettings.sizingMode = SizingMode::SameSize;
  Show(this, kCombo, CloneSettings.partitionMode);
  ManualSizing.comboLine = -1;
  if (CloneSettings.destinationRow >= 0) {
    if (CloneSettings.partitionMode) {
      PlannedDiskMap = DestinationDiskMap;
      ApplySourceSizeToPartition(PlannedDiskMap, ManualSizing.selectedItem, CloneSettings.copySourceLength);
      LayOutAfterBar();
    } else if (!PlanWholeDisk()) {
      ClearDestination();
    }
  }
  Enable(this, kTrackbar, false);
  Redraw();
}

void CMirrorDestination::OnManual() {
  if (IsDlgButtonChecked(kManual) != BST_CHECKED) return;
  CloneSettings.sizingMode = SizingMode::Manual;
  ManualSizing.currentLength = -1;
  SetSizingText(u"IDS_ManualExp");
  Show(this, kCombo, true);
  if (CloneSettings.destinationRow >= 0) {
    if (CloneSettings.partitionMode) {
      PlannedDiskMap = DestinationDiskMap;
      LayOutAfterBar();
      Enable(this, kCombo, false);
      ShowManualBounds(ManualSizing.selectedItem);
    } else {
      if (DestinationPageState.destinationSize >= kMbrLimit && !CloneSettings.sourceIsGpt) {
        // An MBR source laid out by hand cannot address the whole disk.
        SelectSizingRadio(SizingMode::Automatic);
        OnAutomatic();
        return;
      }
      if (!PlanWholeDisk()) {
        ClearDestination();
        return;
      }
      Enable(this, kCombo, DestinationPageState.barAfter);
      auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo));
      if (combo && combo->GetCount() > 0 && DestinationPageState.barAfter) {
        combo->SetCurSel(0);
        OnComboChange();
      }
    }
  }
  Redraw();
}

void CMirrorDestination::OnBeforeView() {
  if (IsDlgButtonChecked(kBefore) != BST_CHECKED) return;
  DestinationPageState.barAfter = false;
  HideManualControls();
  Enable(this, kCombo, false);
  Redraw();
}

void CMirrorDestination::OnAfterView() {
  if (IsDlgButtonChecked(kAfter) != BST_CHECKED) return;
  DestinationPageState.barAfter = true;
  if (CloneSettings.destinationRow >= 0 && CloneSettings.sizingMode == SizingMode::Manual) {
    if (CloneSettings.partitionMode) {
      ShowManualBounds(ManualSizing.selectedItem);
      Enable(this, kCombo, false);
    } else {
      Enable(this, kCombo, true);
      if (ManualSizing.selectedItem >= 0) ShowManualBounds(ManualSizing.selectedItem);
    }
  }
  Redraw();
}

void CMirrorDestination::Redraw() { InvalidateRect(&bar_, FALSE); }

void CMirrorDestination::OnPaint() {
  CPaintDC dc(this);
  PaintBarLegend(*this, dc);
  if (CloneSettings.destinationRow < 0 || CloneSettings.chosenDestinationDisk.is_none()) return;
  const bool after = IsDlgButtonChecked(kAfter) == BST_CHECKED;
  DestinationPageState.barAfter = after;
  const DiskMapRecord& map = after ? PlannedDiskMap : DestinationDiskMap;
  BarLight light;
  if (CloneSettings.partitionMode)
    light.item = after ? ManualSizing.selectedItem
                       : FindMapItem(DestinationDiskMap.items, DestinationDiskMap.count,
                                     CloneSettings.destinationRow - DiskRowOf(CloneSettings.destinationRow) - 1);
  else if (after && CloneSettings.sizingMode == SizingMode::Manual)
    light.item = ManualSizing.selectedItem;
  DiskBarStyle style;
  style.highlighted = &DestinationSegmentLit;
  style.context = &light;
  style.diskSectors = ListedSize(CloneSettings.chosenDestinationDisk);
  if (after && !CloneSettings.partitionMode && CloneSettings.convertToGpt) style.newPartitionType = kNewEspType;
  PaintDiskBar(dc, bar_, map.items, map.count, style);
}

void CMirrorDestination::OnLButtonDown(UINT, CPoint point) {
  if (!ManualWholeDisk() || !DestinationPageState.barAfter || CloneSettings.destinationRow < 0) return;
  if (point.x < bar_.left || point.x >= bar_.right || point.y < bar_.top || point.y >= bar_.bottom) return;
  // The painter's geometry: x from 1, each segment its width and 2 pixels apart, the last one to the end.
  const int width = bar_.right - bar_.left;
  int x = 1;
  const int at = point.x - bar_.left;
  for (int32_t i = 0; i < PlannedDiskMap.count; ++i) {
    int w = PlannedDiskMap.items[i].pixelWidth;
    if (i == PlannedDiskMap.count - 1) w = (width - 2) - x + 1;
    if (at >= x && at < x + w + 2) {
      if (PlannedDiskMap.items[i].partitionIndex < 0) return;
      if (i != ManualSizing.selectedItem) ManualSizing.currentLength = -1;
      auto* combo = dynamic_cast<CComboBox*>(GetDlgItem(kCombo));
      const CString line = PartitionComboLine(PlannedDiskMap.items[i], i);
      if (combo) {
        const int found = combo->FindStringExact(-1, line);
        if (found >= 0) {
          combo->SetCurSel(found);
          ManualSizing.comboLine = found;
        }
      }
      ShowManualBounds(i);
      Redraw();
      return;
    }
    x += w + 2;
  }
}

void CMirrorDestination::OnNext() {
  if (!ManualSizing.controlsHidden) ApplyTypedLength();
  if (CloneSettings.destinationRow < 0 || CloneSettings.chosenDestinationDisk.is_none()) {
    Message(this, u"IDS_SelectDestination");
    return;
  }
  // A destination that has gone since it was ticked (unplugged, detached)
  // is no destination: the list is read again without it.
  const int32_t chosen = ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).value;
  if (chosen < 0 || ReadDiskGeometry(chosen) == 0) {
    ClearDestination();
    FillList();
    Message(this, u"IDS_SelectDestination");
    return;
  }
  const bool wholeDisk = CloneSettings.partitionMode == 0;
  if (wholeDisk) SettleWholeDiskPlan(DestinationPageState.plannedEntries);
  if (IsDlgButtonChecked(kAuto) == BST_CHECKED) CloneSettings.sizingMode = SizingMode::Automatic;
  else if (IsDlgButtonChecked(kSame) == BST_CHECKED) CloneSettings.sizingMode = SizingMode::SameSize;
  else if (IsDlgButtonChecked(kManual) == BST_CHECKED) CloneSettings.sizingMode = SizingMode::Manual;
  // A partition made on an empty disk a moment ago holds nothing: no
  // question about it, and a file copy was sized by its preparation.
  const bool prepared = IsPreparedPartition();
  if (!prepared && CloneSettings.basicDuplication) {
    if (wholeDisk) {
      const int32_t count = std::clamp(DestinationPageState.plannedEntries, 0, kMaxLayoutEntries);
      for (int32_t j = 0; j < count; ++j) {
        const LayoutEntry& e = DiskContext.layoutTable[j];
        if (e.driveLetter <= 0 || e.newLengthBytes == 0) continue;
        if (e.newLengthBytes / 512 < VolumeUsedSectors(e.driveLetter) + 32) {
          Message(this, u"IDS_DestinationTooSmall");
          return;
        }
      }
    } else {
      const int32_t item = ManualSizing.selectedItem;
      const uint64_t planned = item >= 0 && item < PlannedDiskMap.count ? PlannedDiskMap.items[item].length
                                                                        : DestinationPageState.destinationSize;
      if (planned < VolumeUsedSectors(CloneSettings.sourceLetter) + 32) {
        Message(this, u"IDS_DestinationTooSmall");
        return;
      }
    }
  } else if (!CloneSettings.basicDuplication &&
             CloneSettings.copySourceLength > DestinationPageState.destinationSize) {
    // A sector copy needs room for every sector of the source, prepared
    // partition or not.
    Message(this, u"IDS_DestinationTooSmall");
    return;
  }
  if (!wholeDisk) DestinationDiskMap = PlannedDiskMap;
  const int32_t physical = ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).value;
  if (!prepared && physical >= 0 && ReadPartitionList(sharedPartitionBuffer, physical) > 0 &&
      MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_CHECKBEFORESTART"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
    return;
  CloneSettings.badSectorScan = 0;
  CloneSettings.verifyAfterCopy = 0;
  CloneSettings.changeSid = 0;
  ScanTarget = DestinationSelection;
  CWnd* parent = GetParent();
  EndDialog(IDOK);
  RunOptionsPage(parent);
}

void CMirrorDestination::OnOK() { OnNext(); }

void CMirrorDestination::OnBack() {
  CWnd* parent = GetParent();
  EndDialog(IDCANCEL);
  CMirrorSource source(parent);
  source.DoModal();
}

INT_PTR RunDestinationPageModal(CWnd* parent) {
  CMirrorDestination page(parent);
  return page.DoModal();
}
