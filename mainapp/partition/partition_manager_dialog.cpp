#include "mainapp/partition/partition_manager_dialog.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/drive_layout_table.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/partition/create_wizard.h"
#include "mainapp/partition/disk_bar.h"
#include "mainapp/partition/page_header.h"
#include "mainapp/partition/part_dialogs.h"
#include "mainapp/partition/partition_state.h"
#include "mainapp/partition/partition_table_edit.h"
#include "mainapp/records/disk_bars.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/shell/main_commands.h"
#include "platform/core/clock.h"
#include "platform/fs/file_api.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"
#include "program_support/wait_cursor.h"

BEGIN_MESSAGE_MAP(CCreatePart1, CDialog)
  ON_WM_PAINT()
  ON_WM_LBUTTONDOWN()
  ON_WM_RBUTTONDOWN()
  ON_WM_DEVICECHANGE()
  ON_NOTIFY(LVN_ITEMCHANGING, kList, &CCreatePart1::OnListItemChanging)
  ON_NOTIFY(NM_RCLICK, kList, &CCreatePart1::OnListRightClick)
  ON_NOTIFY(NM_CLICK, kList, &CCreatePart1::OnListQuiet)
  ON_NOTIFY(LVN_ITEMCHANGED, kList, &CCreatePart1::OnListQuiet)
  ON_COMMAND(kNewPartition, &CCreatePart1::OnNewPartition)
  ON_COMMAND(kNewLogicalDrive, &CCreatePart1::OnNewLogicalDrive)
  ON_COMMAND(kDelete, &CCreatePart1::OnDeletePartition)
  ON_COMMAND(kResize, &CCreatePart1::OnResizePartition)
  ON_COMMAND(kFormat, &CCreatePart1::OnFormatPartition)
  ON_COMMAND(kProperties, &CCreatePart1::OnProperties)
  ON_BN_CLICKED(kRunExplorer, &CCreatePart1::OnRunExplorer)
  ON_EN_SETFOCUS(1003, &CCreatePart1::OnHeaderFocus)
  ON_EN_SETFOCUS(1004, &CCreatePart1::OnHeaderFocus)
END_MESSAGE_MAP()

namespace {

// The menu's items and the keys of their labels, in menu order.
struct MenuLabel {
  UINT command;
  const char16_t* key;
};
constexpr MenuLabel kMenuLabels[] = {
    {CCreatePart1::kNewLogicalDrive, u"ID_CREATEPARTITION_LOGICAL"},
    {CCreatePart1::kNewPartition, u"ID_CREATEPARTITION_NEWPART"},
    {CCreatePart1::kFormat, u"ID_CREATEPARTITION_FORMAT"},
    {CCreatePart1::kDelete, u"ID_CREATEPARTITION_DELETEPART"},
    {CCreatePart1::kResize, u"ID_CREATEPARTITION_RESIZEPART"},
    {CCreatePart1::kProperties, u"ID_CREATEPARTITION_PROPERTIES"},
};

void RelabelPartitionMenu(CMenu& popup) {
  for (const MenuLabel& l : kMenuLabels) popup.ModifyMenu(l.command, MF_BYCOMMAND | MF_STRING, l.command, LookupString(l.key));
}

void Disable(CMenu& popup, std::initializer_list<UINT> commands) {
  for (UINT c : commands) popup.EnableMenuItem(c, MF_BYCOMMAND | MF_GRAYED);
}

bool IsFree(const DiskMapItem* item) { return item && item->partitionIndex < 0; }

}  // namespace

CCreatePart1::CCreatePart1(CWnd* parent) : CDialog(IDD, parent) {}
CCreatePart1::CCreatePart1(UINT idd, CWnd* parent) : CDialog(idd, parent) {}

CListCtrl* CCreatePart1::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

void CCreatePart1::ShowMessage(const char16_t* key, UINT flags) {
  MessageBoxW(GetSafeHwnd(), LookupString(key), ShellState.messageCaption, flags);
}

BOOL CCreatePart1::OnInitDialog() {
  CDialog::OnInitDialog();
  auto& s = PartitionManagerState;
  s.selectedDisk = kNoListedDisk;
  s.formattingItem = -1;
  s.newSizeSectors = -1;
  s.cursorItem = -1;
  s.managerWindow = GetSafeHwnd();
  if (CWnd* frame = GetDlgItem(kBarFrame)) {
    frame->GetWindowRect(&bar_);
    ScreenToClient(&bar_);
  }
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_CreatePartCAP"));
  SetPageTexts(*this, {{1003, u"IDS_CreatePartH1"},  {1004, u"IDS_CreatePartH2"},   {1001, u"IDS_CreatePartLbl1"},
                       {1002, u"IDS_CreatePartLbl2"}, {1006, u"IDS_CreatePartLbl3"}, {1142, u"IDS_CreatePartLbl3"},
                       {4, u"IDS_Back"},              {1007, u"IDS_Next"},           {2, u"IDS_Close"},
                       {1086, u"IDS_Unallocated"},    {1087, u"IDS_Primary"},        {1090, u"IDS_LogicalDrive"},
                       {1091, u"IDS_FreeLogical"},    {1179, u"IDS_RunExplorer"}});
  if (CListCtrl* list = PrepareDiskList(*this, 4, kList)) list->SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  s.selectedDisk = ListedDiskIndex{0};
  FillPartitionList(false);
  if (CListCtrl* list = List(); list && list->GetItemCount() > 0) {
    list->SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    list->SetFocus();
  }
  initialised_ = true;
  SelectRow(0, false);
  return FALSE;
}

void CCreatePart1::FillPartitionList(bool refresh) {
  CListCtrl* list = List();
  if (!list) return;
  if (refresh) list->DeleteAllItems();
  // Partitions without a letter are drawn in the bar only; a partition whose
  // table entry was written but never formatted (a run stopped in between)
  // holds no file system: it says so, and Format is what it offers.
  FillDiskListRows(*list, &TypeDetails,
                   DiskListFill{.letteredOnly = true, .diskUsedColumn = false, .markUnformatted = true});
}

void CCreatePart1::RebuildMap() {
  auto& s = PartitionManagerState;
  if (s.selectedDisk.is_none()) {
    s.diskMapCount = 0;
    return;
  }
  LayoutManagerMap(bar_);
  if (s.cursorItem >= s.diskMapCount) s.cursorItem = -1;
}

void CCreatePart1::SelectRow(int row, bool fromList) {
  auto& s = PartitionManagerState;
  if (row < 0 || row >= std::min(DiskListRows.rowCount, kMaxListRows)) return;
  const int32_t kind = DiskListRows.rowKind[row];
  s.selectedDisk = ListedIndexOfRow(row);
  if (kind < 0) {
    s.cursorItem = -1;
    if (fromList) PartitionManagerState.explorerLetter = -1;
  }
  RebuildMap();
  if (kind >= 0) {
    CListCtrl* list = List();
    CString details = list ? list->GetItemText(row, 1) : CString();
    int colon = details.Find(u':');
    int32_t letter = colon > 0 ? details[colon - 1] : 0;
    s.cursorItem = -1;
    for (int i = 0; i < s.diskMapCount; ++i)
      if (letter > 0 && s.diskMap[i].driveLetter == letter) {
        s.cursorItem = i;
        break;
      }
    if (fromList && letter > 0) PartitionManagerState.explorerLetter = letter;
  }
  ShowItemDetails(s.cursorItem);
  RedrawBar();
}

void CCreatePart1::OnListItemChanging(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (CWnd* hint = GetDlgItem(1142)) hint->ShowWindow(SW_HIDE);
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if (!initialised_ || !(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED)) return;
  SelectRow(change->iItem, true);
}

void CCreatePart1::OnListQuiet(NMHDR*, LRESULT* result) { *result = 0; }

void CCreatePart1::OnHeaderFocus() {
  if (CWnd* group = GetDlgItem(1001)) group->SetFocus();
}

void CCreatePart1::ItemSpans(int* left, int* width) const {
  const auto& s = PartitionManagerState;
  int x = 1;
  for (int i = 0; i < s.diskMapCount; ++i) {
    int w = s.diskMap[i].pixelWidth;
    if (i == s.diskMapCount - 1) w = bar_.Width() - x - 1;
    left[i] = x;
    width[i] = std::max(w, 0);
    x += w + 2;
  }
}

DiskBarStyle CCreatePart1::BarStyle() {
  const auto& s = PartitionManagerState;
  // The clone's bar, with the manager's fonts, the cursor item outlined in
  // yellow and the item being formatted in red.
  DiskBarStyle style;
  style.highlighted = [](const DiskMapItem& item, int32_t index, const void*) {
    return item.partitionIndex >= 0 && index == PartitionManagerState.cursorItem;
  };
  style.alertItem = s.formattingItem;
  style.markUnformatted = true;
  style.fontFace = u"Verdana";
  style.labelHeight = 14;
  style.sizeHeight = 13;
  style.sizeWeight = 700;
  style.diskSectors = ListedSize(s.selectedDisk);
  return style;
}

void CCreatePart1::OnPaint() {
  CPaintDC dc(this);
  const auto& s = PartitionManagerState;
  if (s.selectedDisk.is_none() || bar_.IsRectEmpty()) return;
  PaintDiskBar(dc, bar_, s.diskMap, s.diskMapCount, BarStyle());
}

// The same spans as drawn (the bar's first item at x 1, each one its width
// and a 2-pixel gap on), so a click lands on the segment under the mouse.
int CCreatePart1::HitTestDiskBar(CPoint point) const {
  const auto& s = PartitionManagerState;
  if (point.y < bar_.top || point.y > bar_.bottom) return -1;
  int left[kMaxDiskMapItems] = {}, width[kMaxDiskMapItems] = {};
  ItemSpans(left, width);
  for (int i = 0; i < s.diskMapCount; ++i) {
    const int l = bar_.left + left[i] - 1;
    if (point.x >= l && point.x < l + width[i] + 2) return i;
  }
  return -1;
}

CPoint CCreatePart1::ItemPoint(int item) const {
  int left[kMaxDiskMapItems] = {}, width[kMaxDiskMapItems] = {};
  ItemSpans(left, width);
  if (item < 0 || item >= PartitionManagerState.diskMapCount) return CPoint(-1, -1);
  return CPoint(left[item] + width[item] / 2, 10);
}

void CCreatePart1::RedrawBar() { InvalidateRect(&bar_, FALSE); }

void CCreatePart1::SelectRowOfItem() {
  const DiskMapItem* item = ManagerMapItem(PartitionManagerState.cursorItem);
  CListCtrl* list = List();
  if (!item || item->driveLetter <= 0 || !list) return;
  const CString tag = DriveText(item->driveLetter) + CString(u")");
  const bool was = initialised_;
  initialised_ = false;  // selecting here must not re-run the row selection
  for (int row = 0; row < list->GetItemCount(); ++row)
    if (list->GetItemText(row, 1).Find(tag) >= 0) list->SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
  initialised_ = was;
}

void CCreatePart1::ShowItemDetails(int index) {
  const auto& s = PartitionManagerState;
  const DiskMapItem* item = ManagerMapItem(index);
  if (!item) {
    SetDlgItemText(1082, CString(u"UnAllocated"));
    if (!s.selectedDisk.is_none() && s.selectedDisk.value < kMaxListedDisks) {
      SetDlgItemText(1143, ListedModel(s.selectedDisk));
      SetDlgItemText(1017, FormatSectorCount(ListedSize(s.selectedDisk)));
    }
    SetDlgItemText(1141, CString());
  } else if (item->partitionIndex < 0) {
    SetDlgItemText(1017, FormatSectorCount(item->length));
    SetDlgItemText(1082, CString(u"Unallocated"));
    SetDlgItemText(1141, CString());
  } else {
    SetDlgItemText(1141, CString(item->outsideExtended ? u"Primary" : u"Logical"));
    SetDlgItemText(1017, FormatSectorCount(item->length));
    SetDlgItemText(1082, PartitionTypeName(item->type));
  }
}

void CCreatePart1::OnLButtonDown(UINT, CPoint point) {
  PartitionManagerState.cursorItem = HitTestDiskBar(point);
  SelectRowOfItem();
  ShowItemDetails(PartitionManagerState.cursorItem);
  RedrawBar();
}

void CCreatePart1::RunMenu(CMenu& popup, CPoint screen) {
  UINT chosen = static_cast<UINT>(popup.TrackPopupMenu(TPM_RETURNCMD | TPM_NONOTIFY, screen.x, screen.y, this));
  switch (chosen) {
    case kNewPartition: OnNewPartition(); break;
    case kDelete: OnDeletePartition(); break;
    case kResize: OnResizePartition(); break;
    case kFormat: OnFormatPartition(); break;
    case kProperties: OnProperties(); break;
    case kNewLogicalDrive: OnNewLogicalDrive(); break;
    default: break;
  }
}

void CCreatePart1::OnRButtonDown(UINT, CPoint point) {
  auto& s = PartitionManagerState;
  CMenu menu;
  if (!menu.LoadMenu(215)) return;
  CMenu* popup = menu.GetSubMenu(0);
  if (!popup) return;
  RelabelPartitionMenu(*popup);
  ReadSelectedLayout();
  s.cursorItem = HitTestDiskBar(point);
  const DiskMapItem* item = ManagerMapItem(s.cursorItem);
  if (!item) {
    Disable(*popup, {kFormat, kResize, kDelete, kNewLogicalDrive});
  } else {
    SelectRowOfItem();
    ShowItemDetails(s.cursorItem);
    if (IsFree(item)) {
      Disable(*popup, {kFormat, kResize});
      // The free space of an empty extended partition deletes that partition.
      if (!IsEmptyExtendedItem(s.cursorItem)) Disable(*popup, {kDelete});
      Disable(*popup, {item->outsideExtended ? kNewLogicalDrive : kNewPartition});
    }
    const DiskMapItem* next = ManagerMapItem(s.cursorItem + 1);
    if (!next || next->partitionIndex >= 0) Disable(*popup, {kResize});
    if (!IsFree(item)) Disable(*popup, {kNewPartition, kNewLogicalDrive});
  }
  RedrawBar();
  CPoint screen = point;
  ClientToScreen(&screen);
  RunMenu(*popup, screen);
}

void CCreatePart1::OnListRightClick(NMHDR* header, LRESULT* result) {
  *result = 0;
  auto& s = PartitionManagerState;
  const int row = reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem;
  s.rowIsPartition = 0;
  if (row >= 0 && row < std::min(DiskListRows.rowCount, kMaxListRows)) {
    const int32_t kind = DiskListRows.rowKind[row];
    s.rowIsPartition = kind >= 0;
    s.rowDisk = ListedIndexOfRow(row);
    s.rowPartition = kind >= 0 ? row - kind - 1 : -1;
  }
  CMenu menu;
  if (!menu.LoadMenu(215)) return;
  CMenu* popup = menu.GetSubMenu(0);
  if (!popup) return;
  RelabelPartitionMenu(*popup);
  if (!s.rowIsPartition) {
    Disable(*popup, {kNewLogicalDrive, kNewPartition, kFormat, kDelete, kResize});
  } else {
    const DiskMapItem* item = ManagerMapItem(s.cursorItem);
    if (!item || IsFree(item)) Disable(*popup, {kFormat, kResize, kDelete});
    const DiskMapItem* next = ManagerMapItem(s.cursorItem + 1);
    if (!next || next->partitionIndex >= 0) Disable(*popup, {kResize});
    Disable(*popup, {kNewPartition, kNewLogicalDrive});
  }
  CPoint screen = reinterpret_cast<const NMITEMACTIVATE*>(header)->ptAction;
  ClientToScreen(&screen);
  RunMenu(*popup, screen);
}

void CCreatePart1::OnNewPartition() {
  auto& s = PartitionManagerState;
  if (s.selectedDisk.is_none()) {
    ShowMessage(u"IDS_SelectDisk");
    return;
  }
  s.fileSystemName = CString();
  s.newSize = -1;
  s.primaryChosen = 1;
  s.formatOption = kFormatNone;
  s.logicalMode = 0;
  if (!SelectedDiskIsEditable()) {
    ShowMessage(u"IDS_PartNotMbrDisk");
    return;
  }
  if (s.primaryCount + (s.extendedExists ? 1 : 0) >= 4) {
    ShowMessage(u"IDS_NoMorePartition");
    return;
  }
  // The bounds come from the free stretch the partition will really take.
  FreeExtent extent;
  int64_t room = 0;
  if (ManagerMapItem(s.cursorItem)) {
    if (FreeExtentOfItem(s.cursorItem, false, &extent)) room = static_cast<int64_t>(extent.length());
  } else if (s.diskMapCount == 0) {
    room = static_cast<int64_t>(ListedSize(s.selectedDisk)) - 2048;
  } else {
    for (int i = 0; i < s.diskMapCount; ++i)
      if (FreeExtentOfItem(i, false, &extent)) room = std::max(room, static_cast<int64_t>(extent.length()));
  }
  if (room < kSectorsPerMb) {
    ShowMessage(u"IDS_PartNoRoom");
    return;
  }
  s.maxSectors = room;
  s.minSectors = std::min(kMinNewPartitionSectors, room);
  s.createConfirmed = 0;
  CCreatePart4 wizard;
  wizard.DoModal();
  RebuildMap();  // the slider's preview never reaches a table edit
  if (!s.createConfirmed) {
    RedrawBar();
    return;
  }
  s.wizardDisk = s.selectedDisk;
  s.wizardItem = s.cursorItem;
  EditResult result = CreatePartitionFromWizard();
  FillPartitionList(true);
  if (result != EditResult::Ok) {
    ShowMessage(EditResultKey(result));
    RedrawBar();
    return;
  }
  SetWaitCursor();
  WaitForLayoutChange(0);
  FillPartitionList(true);
}

void CCreatePart1::OnNewLogicalDrive() {
  auto& s = PartitionManagerState;
  s.logicalMode = 1;
  s.fileSystemName = CString();
  s.newSize = -1;
  s.primaryChosen = 0;
  s.formatOption = kFormatNone;
  if (s.selectedDisk.is_none()) {
    ShowMessage(u"IDS_SelectDisk");
    return;
  }
  if (!SelectedDiskIsEditable()) {
    ShowMessage(u"IDS_PartNotMbrDisk");
    return;
  }
  FreeExtent extent;
  if (!FreeExtentOfItem(s.cursorItem, true, &extent) || extent.length() <= 2 * kSectorsPerMb) {
    ShowMessage(u"IDS_PartNoRoom");
    return;
  }
  s.maxSectors = static_cast<int64_t>(extent.length());
  s.minSectors = std::min(kMinNewPartitionSectors, s.maxSectors);
  s.createConfirmed = 0;
  CCreatePart4 wizard;
  wizard.DoModal();
  RebuildMap();
  if (!s.createConfirmed) {
    RedrawBar();
    return;
  }
  s.wizardDisk = s.selectedDisk;
  s.wizardItem = s.cursorItem;
  EditResult result = CreateLogicalDrive();
  if (result != EditResult::Ok) {
    ShowMessage(EditResultKey(result));
    RedrawBar();
    return;
  }
  WaitForLayoutChange(0);
}

void CCreatePart1::OnDeletePartition() {
  auto& s = PartitionManagerState;
  if (s.selectedDisk.is_none()) {
    ShowMessage(u"IDS_SelectDisk");
    return;
  }
  s.formatOption = kFormatNone;
  if (MessageBoxW(GetSafeHwnd(),
                  CString(u"Warning: This operation will delete all data on the selected partition completely. Are you "
                          u"sure you want to proceed?"),
                  ShellState.messageCaption, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
    return;
  EditResult result = RemovePartitionOfItem(s.cursorItem);
  if (result != EditResult::Ok) {
    ShowMessage(EditResultKey(result));
    return;
  }
  WaitForLayoutChange(1);
}

void CCreatePart1::OnResizePartition() {
  auto& s = PartitionManagerState;
  s.newSize = -1;
  const DiskMapItem* item = ManagerMapItem(s.cursorItem);
  const DiskMapItem* next = ManagerMapItem(s.cursorItem + 1);
  if (!item || item->partitionIndex < 0 || !next || next->partitionIndex >= 0) return;
  if (item->driveLetter <= 0) {
    ShowMessage(u"IDS_FailedResize");
    return;
  }
  // The partition only grows: its file system is never shrunk.
  const int64_t length = static_cast<int64_t>(item->length);
  int64_t used = static_cast<int64_t>(GetVolumeUsedSectors(static_cast<WCHAR>(item->driveLetter)));
  s.minSectors = std::max({used, kMinResizeSectors, length});
  FreeExtent extent;
  const bool logical = item->outsideExtended == 0;
  int64_t grow = FreeExtentOfItem(s.cursorItem + 1, logical, &extent) && extent.start == item->start + item->length
                     ? static_cast<int64_t>(extent.length())
                     : 0;
  s.maxSectors = length + grow;
  s.resizeConfirmed = 0;
  std::copy(std::begin(s.diskMap), std::end(s.diskMap), std::begin(s.savedDiskMap));
  const int32_t letter = item->driveLetter;
  CCreatePart3 page;
  page.DoModal();
  if (!s.resizeConfirmed) {
    std::copy(std::begin(s.savedDiskMap), std::end(s.savedDiskMap), std::begin(s.diskMap));
    RedrawBar();
    return;
  }
  const int64_t difference = s.newSize - length;
  if (difference < 0 || (difference > 0 && !GrowPartition(static_cast<WCHAR>(letter), static_cast<uint64_t>(difference)))) {
    ShowMessage(u"IDS_FailedResize");
    std::copy(std::begin(s.savedDiskMap), std::end(s.savedDiskMap), std::begin(s.diskMap));
  }
  WaitForLayoutChange(2);
}

void CCreatePart1::OnFormatPartition() {
  auto& s = PartitionManagerState;
  if (s.selectedDisk.is_none()) {
    ShowMessage(u"IDS_SelectDisk");
    return;
  }
  const DiskMapItem* item = ManagerMapItem(s.cursorItem);
  // Only a lettered partition is formatted; nothing is formatted in its place.
  if (!item || item->partitionIndex < 0 || LetterIndex(item->driveLetter) < 0) {
    ShowMessage(u"IDS_cannotformat", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  s.newSize = static_cast<int64_t>(item->length);
  s.formatLetter = item->driveLetter;
  s.formatConfirmed = 0;
  CCreatePart5 page;
  page.DoModal();
  if (!s.formatConfirmed) return;
  s.formattingItem = s.cursorItem;
  RedrawBar();
  UpdateWindow();
  FormatSelectedPartition(static_cast<WCHAR>(s.formatLetter), this);
  s.formattingItem = -1;
  RebuildMap();
  RedrawBar();
  FillPartitionList(true);
}

void CCreatePart1::OnProperties() {
  CCreatePart6 page;
  page.DoModal();
}

bool CCreatePart1::WaitForLayoutChange(int mode) {
  auto& s = PartitionManagerState;
  const int remembered = std::max(s.cursorItem, 0);
  SetWaitCursor();
  bool ended = false;
  for (int poll = 0; poll < 20 && !ended; ++poll) {
    Sleep(500);
    RebuildMap();
    const DiskMapItem* item = ManagerMapItem(remembered);
    if (s.partitionType == 15 && mode == 0) ended = true;
    if (mode == 2) ended = true;
    if (mode == 0 && item && item->partitionIndex >= 0 && item->driveLetter > 0) ended = true;
    if (mode == 1 && (s.diskMapCount == 0 || !item || item->driveLetter <= 0 || item->type <= 0)) ended = true;
    RedrawBar();
    UpdateWindow();
  }
  RestoreCursor();
  if (!ended) {
    ShowMessage(u"IDS_PartitionCreateError");
    return false;
  }
  RedrawBar();
  if (s.formatOption != kFormatNone) {
    const DiskMapItem* item = ManagerMapItem(remembered);
    s.formattingItem = s.cursorItem;
    RedrawBar();
    UpdateWindow();
    if (item && LetterIndex(item->driveLetter) >= 0)
      FormatSelectedPartition(static_cast<WCHAR>(item->driveLetter), this);
    else
      ShowMessage(u"IDS_cannotformat", MB_OK | MB_ICONEXCLAMATION);
    s.formattingItem = -1;
    RebuildMap();
    RedrawBar();
  }
  Sleep(100);
  FillPartitionList(true);
  return true;
}

BOOL CCreatePart1::OnDeviceChange(UINT event, DWORD_PTR) {
  if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) {
    FillPartitionList(true);
    RebuildMap();
    RedrawBar();
  }
  return TRUE;
}

void CCreatePart1::OnRunExplorer() {
  const int32_t letter = PartitionManagerState.explorerLetter;
  if (LetterIndex(letter) < 0) return;
  CString root = DriveText(letter);
  CreateDirectoryW(root, nullptr);
  CFileDialog picker(TRUE, nullptr, root + CString(u"\\*.*"), OFN_HIDEREADONLY, u"All files (*.*)|*.*|", this);
  picker.DoModal();
}

namespace {

void RunPartitionManager(CDrummetDlg&) {
  CCreatePart1 manager;
  manager.DoModal();
}

}  // namespace

void RegisterPartitionCommands() {
  shell::RegisterMainCommand({shell::kCmdPartitionManager, "Partition Manager", &RunPartitionManager});
}
