#include "mainapp/partition/part_dialogs.h"

#include <cmath>

#include "disk/disk_context.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_formatter.h"
#include "mainapp/partition/page_header.h"
#include "mainapp/partition/partition_state.h"
#include "mainapp/partition/partition_table_edit.h"
#include "platform/fs/file_api.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

PartitionPropertiesRecord PartitionProperties;

namespace {

void ShowControls(CDialog& page, std::initializer_list<int> ids) {
  for (int id : ids)
    if (CWnd* w = page.GetDlgItem(id)) w->ShowWindow(SW_SHOW);
}

}  // namespace

// ---- resize ----------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CCreatePart3, CDialog)
  ON_BN_CLICKED(1007, &CCreatePart3::OnResize)
  ON_BN_CLICKED(1133, &CCreatePart3::OnApply)
  ON_EN_CHANGE(1136, &CCreatePart3::OnSizeEdited)
  ON_NOTIFY(NM_RELEASEDCAPTURE, 1059, &CCreatePart3::OnSliderReleased)
END_MESSAGE_MAP()

CCreatePart3::CCreatePart3(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CCreatePart3::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_ResizePartiCAP"));
  SetPageTexts(*this, {{1003, u"IDS_ResizePartiCAP"},
                   {1013, u"IDS_ResizePartiCAP"},
                   {1004, u"IDS_ResizePartiH1"},
                   {1083, u"IDS_LogicalDrv"},
                   {1134, u"IDS_MinSize"},
                   {1135, u"IDS_MaxSize"},
                   {1140, u"IDS_NewSize"},
                   {1133, u"IDS_Apply"},
                   {1007, u"IDS_Resize"},
                   {2, u"IDS_Cancel"}});
  const auto& s = PartitionManagerState;
  if (const DiskMapItem* item = ManagerMapItem(s.cursorItem); item && item->driveLetter > 0)
    SetDlgItemText(1084, DriveText(item->driveLetter));
  size_.Set(1134, 1135, s.maxSectors / kSectorsPerMb * kSectorsPerMb);
  return TRUE;
}

void CCreatePart3::OnResize() {
  auto& s = PartitionManagerState;
  s.newSize = s.newSizeSectors;
  s.resizeConfirmed = 1;
  EndDialog(IDOK);
}

void CCreatePart3::OnApply() { size_.TakeTypedSize(); }
void CCreatePart3::OnSizeEdited() { size_.EnableApply(true); }
void CCreatePart3::OnSliderReleased(NMHDR*, LRESULT* result) {
  *result = 0;
  size_.TakeSliderPosition();
}

// ---- format -----------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CCreatePart5, CDialog)
  ON_BN_CLICKED(1007, &CCreatePart5::OnFormat)
  ON_CBN_SELCHANGE(1030, &CCreatePart5::OnFileSystemChanged)
END_MESSAGE_MAP()

CCreatePart5::CCreatePart5(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CCreatePart5::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_PartitionFormatCAP"));
  SetPageTexts(*this, {{1003, u"IDS_PartitionFormatCAP"},
                   {1004, u"IDS_PartitionFormatH1"},
                   {1013, u"IDS_PartitionFormatLbl1"},
                   {1166, u"IDS_SelectedDrive"},
                   {1139, u"IDS_NewFileSystem"},
                   {4, u"IDS_Back"},
                   {1007, u"ID_CREATEPARTITION_FORMAT"},
                   {2, u"IDS_Cancel"}});
  SetDlgItemText(1157, LookupString(u"IDS_totalsize1") + CString(u":"));
  auto& s = PartitionManagerState;
  SetDlgItemText(1168, FormatSectorCount(static_cast<uint64_t>(std::max<int64_t>(s.newSize, 0))));
  s.newSize /= kSectorsPerMb;
  if (s.fileSystemName.IsEmpty()) s.fileSystemName = CString(u"NTFS");
  if (auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030))) FillFileSystemList(*list, s.newSize, s.fileSystemName);
  SetDlgItemText(1165, DriveText(s.formatLetter));
  return TRUE;
}

void CCreatePart5::OnFileSystemChanged() {
  auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030));
  if (!list || list->GetCurSel() < 0) return;
  list->GetLBText(list->GetCurSel(), PartitionManagerState.fileSystemName);
}

void CCreatePart5::OnFormat() {
  auto& s = PartitionManagerState;
  // The full format is offered but runs as the formatter's default (not quick) format.
  s.formatOption = IsDlgButtonChecked(1167) ? kFormatQuick : kFormatNone;
  s.formatConfirmed = 1;
  EndDialog(IDOK);
}

HANDLE RunFormatDialog() {
  FormatThread = nullptr;
  CCFormat page;
  page.DoModal();
  return FormatThread;
}

bool FormatSelectedPartition(WCHAR letter, CWnd* owner) {
  auto& s = PartitionManagerState;
  HWND window = owner ? owner->GetSafeHwnd() : nullptr;
  FormatRequest.quickFlag = s.formatOption == kFormatQuick ? 1 : 0;
  const int32_t t = PartitionTypeFromFsName(s.fileSystemName);
  if (t < 0) {
    MessageBoxW(window, LookupString(u"IDS_SelectPartitionType"), ShellState.messageCaption, MB_OK);
    return false;
  }
  if (letter < u'A' || letter > u'Z') {
    MessageBoxW(window, LookupString(u"IDS_cannotformat"), ShellState.messageCaption, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  FormatRequest.driveIndex = letter - u'A';
  if (t == FS_NTFS) {
    FormatRequest.fileSystemCode = FS_NTFS;
    FormatRequest.clusterUnits = 0;
  } else {
    int32_t fs = t;
    const DiskMapItem* item = ManagerMapItem(s.cursorItem);
    const int64_t mb = item ? static_cast<int64_t>(item->length / kSectorsPerMb) : 0;
    // The size rule, as FillFileSystemList offers it: any FAT from 4096 MB on
    // is FAT32, NTFS from 32768 MB on. The clone states it too:
    // BuildDestinationLayout, FormatNewPartitions and CClone::RunClone.
    if (mb >= 4096 && fs <= FS_FAT16) fs = FS_FAT32;
    if (mb >= 32768) {
      FormatRequest.fileSystemCode = FS_NTFS;
      FormatRequest.clusterUnits = 0;
    } else {
      FormatRequest.fileSystemCode = fs;
      FormatRequest.fat32Flag = fs >= FS_FAT32_CHS ? 1 : 0;
    }
  }
  if (!RunFormatDialog()) {
    MessageBoxW(window, LookupString(u"IDS_cannotformat"), ShellState.messageCaption, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  // The partition's type follows the file system the volume now has (a type
  // 07 partition formatted FAT would otherwise be taken for NTFS).
  const int32_t made = VolumeFsCodeByLetter(letter);
  for (int i = 0; i < s.diskMapCount; ++i)
    if (s.diskMap[i].partitionIndex >= 0 && s.diskMap[i].driveLetter == letter) {
      if (SetTypeForFileSystem(s.diskMap[i].start, made) == EditResult::Ok) break;
      MessageBoxW(window, LookupString(u"IDS_FileSystemCreateError"), ShellState.messageCaption,
                  MB_OK | MB_ICONEXCLAMATION);
      break;
    }
  return false;
}

// ---- properties ----------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CCreatePart6, CDialog)
  ON_WM_PAINT()
  ON_BN_CLICKED(1000, &CCreatePart6::OnRedrawPie)
END_MESSAGE_MAP()

CCreatePart6::CCreatePart6(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CCreatePart6::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_PartitionPropCAP"));
  SetPageTexts(*this, {{1003, u"IDS_PartitionPropCAP"}, {1004, u"IDS_PartitionPropH1"}, {1142, u"IDS_PartitionPropH2"},
                   {1152, u"IDS_DRV"}, {2, u"IDS_OK"}});
  for (auto [id, key] : {std::pair{1041, u"IDS_PhysicalDNO"}, {1157, u"IDS_sz"}, {1042, u"IDS_mdl"},
                         {1155, u"IDS_FileSystem"}, {1158, u"IDS_FreeSpace"}, {1084, u"IDS_UsedSpace"}})
    SetDlgItemText(id, LookupString(key) + CString(u": "));
  if (CWnd* group = GetDlgItem(1142)) {
    group->GetWindowRect(&area_);
    ScreenToClient(&area_);
  }
  const auto& s = PartitionManagerState;
  PartitionProperties = PartitionPropertiesRecord{};
  if (!s.selectedDisk.is_none() && s.selectedDisk.value < kMaxListedDisks) {
    SetDlgItemText(1154, IntToText(s.selectedDisk.value));
    SetDlgItemText(1156, ListedModel(s.selectedDisk));
    SetDlgItemText(1017, FormatSectorCount(ListedSize(s.selectedDisk)));
  }
  const DiskMapItem* item = ManagerMapItem(s.cursorItem);
  if (!item) return TRUE;
  ShowControls(*this, {1152, 1153});
  if (item->driveLetter <= 0) {
    SetDlgItemText(1153, LookupString(u"IDS_Undefined"));
    SetDlgItemText(1082, LookupString(item->type == 15 ? u"IDS_ExtendedPartition" : u"IDS_Unallocated"));
    ShowControls(*this, {1158, 1159, 1084, 1160, 1155, 1082});
    SetDlgItemText(1159, FormatSectorCount(item->length));
    SetDlgItemText(1160, FormatSectorCount(item->length));
    return TRUE;
  }
  PartitionProperties.letter = item->driveLetter;
  SetDlgItemText(1153, DriveText(item->driveLetter));
  ShowControls(*this, {1155, 1082});
  CString root = DriveText(item->driveLetter) + CString(u"\\");
  auto& p = PartitionProperties;
  if (!GetDiskFreeSpaceW(root, &p.sectorsPerCluster, &p.bytesPerSector, &p.freeClusters, &p.totalClusters)) {
    p = PartitionPropertiesRecord{};
    p.letter = item->driveLetter;
    return TRUE;
  }
  ShowControls(*this, {1158, 1159, 1084, 1160});
  SetDlgItemText(1082, PartitionTypeName(item->type));
  const uint64_t unit = uint64_t{p.sectorsPerCluster} * (p.bytesPerSector / 512);
  SetDlgItemText(1159, FormatSectorCount(uint64_t{p.freeClusters} * unit));
  SetDlgItemText(1160, FormatSectorCount((uint64_t{p.totalClusters} - p.freeClusters) * unit));
  return TRUE;
}

double CCreatePart6::PieAngle() const {
  const auto& p = PartitionProperties;
  if (p.totalClusters == 0) return 0;
  return 6.28 * static_cast<double>(p.freeClusters) / static_cast<double>(p.totalClusters);
}

void CCreatePart6::OnRedrawPie() { InvalidateRect(&area_, FALSE); }

void CCreatePart6::OnPaint() {
  CPaintDC dc(this);
  if (!ManagerMapItem(PartitionManagerState.cursorItem) || PartitionProperties.letter == 0 || area_.IsRectEmpty()) return;
  CDC memory;
  memory.CreateCompatibleDC(&dc);
  CBitmap picture;
  picture.CreateCompatibleBitmap(&dc, area_.Width(), area_.Height());
  CBitmap* old_bitmap = memory.SelectObject(&picture);
  // The group's own picture stays underneath: start from what the dialog shows there.
  memory.BitBlt(0, 0, area_.Width(), area_.Height(), &dc, area_.left, area_.top, SRCCOPY);
  const CRect circle(200, 90, 300, 190);
  const CPoint centre = circle.CenterPoint();
  const double a = PieAngle();
  const CPoint angle_point(centre.x - static_cast<int>(std::lround(50 * std::cos(a))),
                           centre.y - static_cast<int>(std::lround(50 * std::sin(a))));
  const CPoint leftmost(circle.left, centre.y);
  CPen yellow(PS_SOLID, 2, RGB(255, 255, 42)), grey(PS_SOLID, 2, RGB(125, 125, 125));
  CBrush magenta(RGB(255, 0, 255)), navy(RGB(0, 0, 128));
  CPen* old_pen = memory.SelectObject(&yellow);
  CBrush* old_brush = memory.SelectObject(&magenta);
  // The free slice (magenta) spans the angle a, the used one (navy) the rest.
  // Arcs run counter-clockwise, so the free slice goes from the angle point
  // to the leftmost point. A volume wholly free or wholly used is one colour.
  const auto& p = PartitionProperties;
  if (p.freeClusters >= p.totalClusters) {
    memory.Ellipse(&circle);
  } else if (p.freeClusters == 0) {
    memory.SelectObject(&grey);
    memory.SelectObject(&navy);
    memory.Ellipse(&circle);
  } else {
    memory.Pie(&circle, angle_point, leftmost);
    memory.SelectObject(&grey);
    memory.SelectObject(&navy);
    memory.Pie(&circle, leftmost, angle_point);
  }
  memory.SelectObject(old_pen);
  memory.SelectObject(old_brush);
  dc.BitBlt(area_.left, area_.top, area_.Width(), area_.Height(), &memory, 0, 0, SRCCOPY);
  memory.SelectObject(old_bitmap);
}
