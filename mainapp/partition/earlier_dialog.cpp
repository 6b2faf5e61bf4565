#include "mainapp/partition/earlier_dialog.h"

#include <algorithm>

#include "disk/drive_layout_table.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/partition/page_header.h"
#include "mainapp/partition/part_dialogs.h"
#include "mainapp/partition/partition_state.h"
#include "mainapp/partition/partition_table_edit.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

BEGIN_MESSAGE_MAP(CCreatePart, CCreatePart1)
  ON_BN_CLICKED(1133, &CCreatePart::OnApply)
  ON_BN_CLICKED(1109, &CCreatePart::OnReset)
  ON_BN_CLICKED(1137, &CCreatePart::OnResizeNow)
  ON_BN_CLICKED(1138, &CCreatePart::OnCreateNow)
  ON_BN_CLICKED(1031, &CCreatePart::OnKindClicked)
  ON_BN_CLICKED(1032, &CCreatePart::OnKindClicked)
  ON_EN_CHANGE(1136, &CCreatePart::OnSizeEdited)
  ON_NOTIFY(NM_RELEASEDCAPTURE, 1059, &CCreatePart::OnSliderReleased)
END_MESSAGE_MAP()

namespace {

// The panel's controls besides its group.
constexpr int kPanelControls[] = {1031, 1032, 1059, 1136, 1133, 1109, 1137, 1030, 1138, 1028};

}  // namespace

CCreatePart::CCreatePart(CWnd* parent) : CCreatePart1(IDD, parent) {}

BOOL CCreatePart::OnInitDialog() {
  CCreatePart1::OnInitDialog();
  SetWindowText(LookupString(u"IDS_MDestCap"));
  SetPageTexts(*this, {{1003, u"IDS_MDestHI"}, {1004, u"IDS_MDestH2"}, {1001, u"IDS_MDest1"}, {1002, u"IDS_MDest2"},
                       {1076, u"IDS_SelectedDesti"}, {1077, u"IDS_Partition"}});
  SetDlgItemText(1031, CString(u"Primary"));
  SetDlgItemText(1032, CString(u"Extended"));
  if (auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030))) {
    for (const char16_t* name : {u"NTFS", u"FAT32", u"FAT"}) list->AddString(name);
    list->SetCurSel(0);
  }
  ClosePanel();
  return FALSE;
}

CString CCreatePart::ChosenFileSystem() {
  auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030));
  CString name;
  if (list && list->GetCurSel() >= 0) list->GetLBText(list->GetCurSel(), name);
  return name;
}

void CCreatePart::ClosePanel() {
  mode_ = -1;
  if (CWnd* group = GetDlgItem(1132)) group->EnableWindow(FALSE);
  for (int id : kPanelControls)
    if (CWnd* w = GetDlgItem(id)) w->EnableWindow(FALSE);
}

void CCreatePart::OpenPanel(int mode) {
  auto& s = PartitionManagerState;
  mode_ = mode;
  std::copy(std::begin(s.diskMap), std::end(s.diskMap), std::begin(panel_));
  static const char16_t* kTitles[] = {u"Resize Partition", u"Create Partition", u"Format Partition", u"Create Logical"};
  SetDlgItemText(1132, CString(kTitles[mode]));
  if (CWnd* group = GetDlgItem(1132)) group->EnableWindow(TRUE);
  const bool sized = mode != kPanelFormat;
  for (int id : {1059, 1136, 1133}) GetDlgItem(id)->EnableWindow(sized);
  GetDlgItem(1109)->EnableWindow(TRUE);
  GetDlgItem(1137)->EnableWindow(mode == kPanelResize);
  GetDlgItem(1138)->EnableWindow(mode != kPanelResize);
  GetDlgItem(1030)->EnableWindow(mode != kPanelResize);
  GetDlgItem(1028)->EnableWindow(mode == kPanelFormat);
  GetDlgItem(1031)->EnableWindow(mode == kPanelCreate && s.primaryCount <= 2 ? TRUE : FALSE);
  GetDlgItem(1032)->EnableWindow(mode == kPanelCreate && !s.extendedExists ? TRUE : FALSE);
  if (mode == kPanelCreate) CheckRadioButton(1031, 1032, s.primaryChosen ? 1031 : 1032);
  if (sized) {
    const DiskMapItem* item = ManagerMapItem(s.cursorItem);
    size_.Set(1134, 1135, mode == kPanelResize && item ? static_cast<int64_t>(item->length) : s.maxSectors);
  }
}

void CCreatePart::OnReset() {
  ClosePanel();
  RebuildMap();
  RedrawBar();
}

void CCreatePart::OnApply() { size_.TakeTypedSize(); }
void CCreatePart::OnSizeEdited() { size_.EnableApply(true); }
void CCreatePart::OnSliderReleased(NMHDR*, LRESULT* result) {
  *result = 0;
  size_.TakeSliderPosition();
}
void CCreatePart::OnKindClicked() {
  if (IsDlgButtonChecked(1031)) PartitionManagerState.primaryChosen = 1;
  if (IsDlgButtonChecked(1032)) PartitionManagerState.primaryChosen = 0;
}

void CCreatePart::OnNewPartition() {
  auto& s = PartitionManagerState;
  if (s.selectedDisk.is_none()) {
    MessageBoxW(GetSafeHwnd(), CString(u"Please select a disk/partition from the list"), ShellState.messageCaption, MB_OK);
    return;
  }
  SetDlgItemText(1138, CString(u"Create Partition"));
  if (!SelectedDiskIsEditable()) {
    ShowMessage(u"IDS_PartNotMbrDisk");
    return;
  }
  // The slot rules of the wizard's first page.
  s.primaryChosen = s.primaryCount > 2 ? 0 : 1;
  if (s.extendedExists) s.primaryChosen = 1;
  FreeExtent extent;
  if (!FreeExtentOfItem(s.cursorItem, false, &extent) || extent.length() < static_cast<uint64_t>(kSectorsPerMb)) {
    ShowMessage(u"IDS_PartNoRoom");
    return;
  }
  s.maxSectors = static_cast<int64_t>(extent.length());
  s.minSectors = std::min(kMinNewPartitionSectors, s.maxSectors);
  OpenPanel(kPanelCreate);
}

void CCreatePart::OnNewLogicalDrive() {
  auto& s = PartitionManagerState;
  FreeExtent extent;
  if (!FreeExtentOfItem(s.cursorItem, true, &extent) || extent.length() <= 2 * static_cast<uint64_t>(kSectorsPerMb)) {
    ShowMessage(u"IDS_PartNoRoom");
    return;
  }
  s.maxSectors = static_cast<int64_t>(extent.length());
  s.minSectors = std::min(kMinNewPartitionSectors, s.maxSectors);
  SetDlgItemText(1138, CString(u"Create Logical"));
  OpenPanel(kPanelLogical);
}

void CCreatePart::OnResizePartition() {
  auto& s = PartitionManagerState;
  const DiskMapItem* item = ManagerMapItem(s.cursorItem);
  const DiskMapItem* next = ManagerMapItem(s.cursorItem + 1);
  if (!item || item->partitionIndex < 0) return;
  if (!next || next->partitionIndex >= 0) {
    ShowMessage(u"IDS_CannotResize");
    return;
  }
  const int64_t length = static_cast<int64_t>(item->length);
  const int64_t used = item->driveLetter > 0 ? static_cast<int64_t>(GetVolumeUsedSectors(static_cast<WCHAR>(item->driveLetter))) : 0;
  s.minSectors = std::max({used, kMinResizeSectors, length});  // never below the file system
  FreeExtent extent;
  s.maxSectors = length + (FreeExtentOfItem(s.cursorItem + 1, item->outsideExtended == 0, &extent) &&
                                   extent.start == item->start + item->length
                               ? static_cast<int64_t>(extent.length())
                               : 0);
  OpenPanel(kPanelResize);
}

void CCreatePart::OnFormatPartition() {
  const DiskMapItem* item = ManagerMapItem(PartitionManagerState.cursorItem);
  if (!item || item->partitionIndex < 0 || LetterIndex(item->driveLetter) < 0) {
    ShowMessage(u"IDS_cannotformat", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  OpenPanel(kPanelFormat);
}

void CCreatePart::OnProperties() {
  const auto& s = PartitionManagerState;
  CString text;
  if (const DiskMapItem* item = ManagerMapItem(s.cursorItem)) {
    text = CString(u"Size: ") + FormatSectorCount(item->length) + CString(u"\r\nType: ") + PartitionTypeName(item->type);
  } else if (!s.selectedDisk.is_none() && s.selectedDisk.value < kMaxListedDisks) {
    text = CString(u"Diskno: ") + IntToText(s.selectedDisk.value + 1) + CString(u"\r\nSize: ") +
           FormatSectorCount(ListedSize(s.selectedDisk)) + CString(u"\r\nModel: ") + ListedModel(s.selectedDisk);
  }
  MessageBoxW(GetSafeHwnd(), text, ShellState.messageCaption, MB_OK);
}

void CCreatePart::OnDeletePartition() {
  auto& s = PartitionManagerState;
  if (MessageBoxW(GetSafeHwnd(), CString(u"IDS_DeleteWarning"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
    return;
  ShowMessage(u"IDS_Deleting");
  s.formatOption = kFormatNone;
  EditResult result = RemovePartitionOfItem(s.cursorItem);
  if (result != EditResult::Ok) ShowMessage(EditResultKey(result));
  ClosePanel();
  FillPartitionList(true);
  RebuildMap();
  RedrawBar();
}

void CCreatePart::OnResizeNow() {
  auto& s = PartitionManagerState;
  if (mode_ != kPanelResize) return;
  ShowMessage(u"IDS_Resizing");
  const DiskMapItem& item = panel_[std::clamp(s.cursorItem, 0, kMaxDiskMapItems - 1)];
  const int64_t difference = s.newSizeSectors - static_cast<int64_t>(item.length);
  if (difference > 0 && item.driveLetter > 0) GrowPartition(static_cast<WCHAR>(item.driveLetter), static_cast<uint64_t>(difference));
  ClosePanel();
  RebuildMap();
  RedrawBar();
}

void CCreatePart::OnCreateNow() {
  auto& s = PartitionManagerState;
  if (mode_ == kPanelFormat) {
    const DiskMapItem* item = ManagerMapItem(s.cursorItem);
    s.fileSystemName = ChosenFileSystem();
    s.formatOption = IsDlgButtonChecked(1028) ? kFormatQuick : kFormatNone;
    if (item) FormatSelectedPartition(static_cast<WCHAR>(item->driveLetter), this);
  } else if (mode_ == kPanelCreate || mode_ == kPanelLogical) {
    CheckDlgButton(1028, BST_CHECKED);
    s.fileSystemName = ChosenFileSystem();
    s.formatOption = kFormatQuick;
    s.newSize = s.newSizeSectors / kSectorsPerMb;
    s.wizardDisk = s.selectedDisk;
    s.wizardItem = s.cursorItem;
    RebuildMap();  // no previewed length reaches the table
    EditResult result = mode_ == kPanelCreate ? CreatePartitionFromWizard() : CreateLogicalDrive();
    FillPartitionList(true);
    if (result != EditResult::Ok)
      ShowMessage(EditResultKey(result));
    else if (s.partitionType != 15)
      WaitForLayoutChange(0);
  }
  ClosePanel();
  RebuildMap();
  RedrawBar();
}
