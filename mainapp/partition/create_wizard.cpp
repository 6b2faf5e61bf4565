#include "mainapp/partition/create_wizard.h"

#include <algorithm>
#include <climits>

#include "disk/disk_access.h"
#include "mainapp/partition/page_header.h"
#include "mainapp/partition/partition_state.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

namespace {

void Show(CDialog& page, int id, bool show) {
  if (CWnd* w = page.GetDlgItem(id)) w->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void Enable(CDialog& page, int id, bool on) {
  if (CWnd* w = page.GetDlgItem(id)) w->EnableWindow(on ? TRUE : FALSE);
}

}  // namespace

// ---- bar preview ----------------------------------------------------------------

void PreviewNewLength(int64_t sectors) {
  auto& s = PartitionManagerState;
  s.newSizeSectors = sectors;
  if (sectors < 0 || s.cursorItem < 0 || s.cursorItem >= s.diskMapCount) return;
  DiskMapItem& item = s.diskMap[s.cursorItem];
  int64_t d = sectors - static_cast<int64_t>(item.length);
  item.length = static_cast<uint64_t>(sectors);
  for (int i = s.cursorItem + 1; i < s.diskMapCount && d != 0; ++i) {
    DiskMapItem& next = s.diskMap[i];
    if (next.partitionIndex >= 0) {
      next.start = static_cast<uint64_t>(static_cast<int64_t>(next.start) + d);
      continue;
    }
    if (d < static_cast<int64_t>(next.length)) {
      next.start = static_cast<uint64_t>(static_cast<int64_t>(next.start) + d);
      next.length = static_cast<uint64_t>(static_cast<int64_t>(next.length) - d);
      break;
    }
    if (i == s.diskMapCount - 1) {
      s.diskMap[i] = DiskMapItem{};
      --s.diskMapCount;
      break;
    }
    d = d - static_cast<int64_t>(next.length) + 2048;
    next.length = 2048;
  }
  // The manager's bar shows the change at once.
  if (s.managerWindow) InvalidateRect(s.managerWindow, nullptr, FALSE);
}

// ---- size pages ---------------------------------------------------------------------

int64_t SizeChooser::scale() const { return PartitionManagerState.maxSectors > INT_MAX ? kSectorsPerMb : 1; }

void SizeChooser::Set(int minLabel, int maxLabel, int64_t startSectors) {
  auto& s = PartitionManagerState;
  Enable(page_, edit_, true);
  if (auto* slider = dynamic_cast<CSliderCtrl*>(page_.GetDlgItem(slider_))) {
    slider->SetRange(static_cast<int>(s.minSectors / scale()), static_cast<int>(s.maxSectors / scale()), TRUE);
    slider->SetPos(static_cast<int>(startSectors / scale()));
  }
  page_.SetDlgItemText(minLabel, FormatSectorCount(static_cast<uint64_t>(std::max<int64_t>(s.minSectors, 0))));
  page_.SetDlgItemText(maxLabel, FormatSectorCount(static_cast<uint64_t>(std::max<int64_t>(s.maxSectors, 0))));
  s.newSizeSectors = startSectors;
  ShowEdit();
  EnableApply(false);
}

void SizeChooser::ShowEdit() {
  page_.SetDlgItemText(edit_, Int64ToText(PartitionManagerState.newSizeSectors / kSectorsPerMb));
}

void SizeChooser::EnableApply(bool on) { Enable(page_, apply_, on); }

void SizeChooser::TakeTypedSize() {
  auto& s = PartitionManagerState;
  const int64_t mb = TextToInt64(page_.GetDlgItemText(edit_));
  if (mb < 0) return;
  EnableApply(false);
  if (mb >= s.minSectors / kSectorsPerMb && mb <= s.maxSectors / kSectorsPerMb) {
    s.newSizeSectors = mb * kSectorsPerMb;
    if (auto* slider = dynamic_cast<CSliderCtrl*>(page_.GetDlgItem(slider_)))
      slider->SetPos(static_cast<int>(s.newSizeSectors / scale()));
    return;
  }
  s.newSizeSectors = mb > s.maxSectors / kSectorsPerMb ? s.maxSectors : s.minSectors;
  ShowEdit();
}

void SizeChooser::TakeSliderPosition() {
  auto* slider = dynamic_cast<CSliderCtrl*>(page_.GetDlgItem(slider_));
  if (!slider) return;
  const int64_t p = std::clamp<int64_t>(int64_t{slider->GetPos()} * scale(), PartitionManagerState.minSectors,
                                        PartitionManagerState.maxSectors);
  PreviewNewLength(p);
  ShowEdit();
  EnableApply(true);
}

// ---- page 1: size and kind ----------------------------------------------------------

BEGIN_MESSAGE_MAP(CCreatePart4, CDialog)
  ON_BN_CLICKED(1161, &CCreatePart4::OnNext)
  ON_BN_CLICKED(1133, &CCreatePart4::OnApply)
  ON_EN_CHANGE(1136, &CCreatePart4::OnSizeEdited)
  ON_NOTIFY(NM_RELEASEDCAPTURE, 1060, &CCreatePart4::OnSliderReleased)
  ON_BN_CLICKED(1031, &CCreatePart4::OnKindClicked)
  ON_BN_CLICKED(1032, &CCreatePart4::OnKindClicked)
END_MESSAGE_MAP()

CCreatePart4::CCreatePart4(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CCreatePart4::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_CreatePartWzCAP"));
  SetPageTexts(*this, {{1003, u"IDS_CreatePartWzCAP"},
                   {1004, u"IDS_CreatePartWzH1"},
                   {1002, u"IDS_CreatePartWzLbl1"},
                   {1178, u"IDS_CreatePartWzLbl2"},
                   {1083, u"IDS_Drive"},
                   {1142, u"IDS_MinSize"},
                   {1143, u"IDS_MaxSize"},
                   {1140, u"IDS_NewSize"},
                   {1031, u"IDS_PrimaryPartition"},
                   {1032, u"IDS_ExtendedPartition"},
                   {1133, u"IDS_Apply"},
                   {1161, u"IDS_Next"},
                   {2, u"IDS_Cancel"}});
  auto& s = PartitionManagerState;
  if (s.logicalMode) {
    Show(*this, 1031, false);
    Show(*this, 1032, false);
  } else {
    if (s.extendedExists) {
      Enable(*this, 1032, false);
      s.primaryChosen = 1;
    }
    if (s.primaryCount > 2) {
      s.primaryChosen = 0;
      Enable(*this, 1031, false);
    }
  }
  s.fileSystemName = CString();
  s.formatOption = kFormatNone;
  if (s.newSize < 0) s.newSize = s.maxSectors / kSectorsPerMb;
  size_.Set(1142, 1143, s.newSize * kSectorsPerMb);
  CheckRadioButton(1031, 1032, s.primaryChosen ? 1031 : 1032);
  return TRUE;
}

void CCreatePart4::OnNext() {
  auto& s = PartitionManagerState;
  s.newSize = s.newSizeSectors / kSectorsPerMb;
  EndDialog(IDOK);
  CCreatePart41 next;
  next.DoModal();
}

void CCreatePart4::OnApply() { size_.TakeTypedSize(); }
void CCreatePart4::OnSizeEdited() { size_.EnableApply(true); }

void CCreatePart4::OnSliderReleased(NMHDR*, LRESULT* result) {
  *result = 0;
  size_.TakeSliderPosition();
}

void CCreatePart4::OnKindClicked() {
  if (IsDlgButtonChecked(1031)) PartitionManagerState.primaryChosen = 1;
  if (IsDlgButtonChecked(1032)) PartitionManagerState.primaryChosen = 0;
}

// ---- page 2: file system and format option ---------------------------------------------

bool Fat32Fits(int64_t sizeMb, uint32_t sectorBytes) {
  if (sectorBytes < 512) sectorBytes = 512;
  // The smallest FAT32: 65525 clusters of one sector each, its 32 reserved
  // sectors and two FATs of 4 bytes per cluster; one MB more leaves room for
  // a logical drive's boot record.
  const uint64_t fatSectors = (static_cast<uint64_t>(kFat32MinimumClusters + 2) * 4 + sectorBytes - 1) / sectorBytes;
  const uint64_t sectors = kFat32MinimumClusters + 32 + 2 * fatSectors;
  const uint64_t usable = sizeMb > 1 ? static_cast<uint64_t>(sizeMb - 1) * (1u << 20) / sectorBytes : 0;
  return usable >= sectors;
}

void FillFileSystemList(CComboBox& list, int64_t sizeMb, const CString& name) {
  list.ResetContent();
  list.AddString(u"NTFS");
  const int32_t multiplier = SectorMultiplierOf(SelectedPhysicalDisk());
  const uint32_t sectorBytes = 512u * static_cast<uint32_t>(multiplier > 0 ? multiplier : 1);
  // The size rule FormatSelectedPartition applies to what was chosen, and
  // the clone to its new volumes (BuildDestinationLayout,
  // FormatNewPartitions, CClone::RunClone).
  if (sizeMb < 32768 && Fat32Fits(sizeMb, sectorBytes)) list.AddString(u"FAT32");
  if (sizeMb < 4096) list.AddString(u"FAT");
  const CString wanted = name.IsEmpty() ? CString(u"NTFS") : name;
  list.SetCurSel(list.FindString(-1, wanted));
}

BEGIN_MESSAGE_MAP(CCreatePart41, CDialog)
  ON_BN_CLICKED(1161, &CCreatePart41::OnNext)
  ON_BN_CLICKED(1163, &CCreatePart41::OnBack)
  ON_CBN_SELCHANGE(1030, &CCreatePart41::OnFileSystemChanged)
  ON_BN_CLICKED(1031, &CCreatePart41::OnFormatClicked)
  ON_BN_CLICKED(1032, &CCreatePart41::OnFormatClicked)
  ON_BN_CLICKED(1033, &CCreatePart41::OnFormatClicked)
END_MESSAGE_MAP()

CCreatePart41::CCreatePart41(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CCreatePart41::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_CreatePartWz2CAP"));
  SetPageTexts(*this, {{1003, u"IDS_CreatePartWz2CAP"},
                   {1004, u"IDS_CreatePartWz2H1"},
                   {1013, u"IDS_CreatePartWzLbl1"},
                   {1139, u"IDS_NewFileSystem"},
                   {1031, u"IDS_DoNotFormat"},
                   {1032, u"IDS_QuickFormat"},
                   {1033, u"IDS_FullFormat"},
                   {1163, u"IDS_Back"},
                   {1161, u"IDS_Next"},
                   {2, u"IDS_Cancel"}});
  auto& s = PartitionManagerState;
  const int option = s.formatOption < 0 || s.formatOption > 2 ? 0 : s.formatOption;
  CheckRadioButton(1031, 1033, 1031 + option);
  RefreshFileSystems();
  return TRUE;
}

void CCreatePart41::RefreshFileSystems() {
  auto& s = PartitionManagerState;
  auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030));
  if (!list) return;
  if (!s.primaryChosen && !s.logicalMode) {
    // An extended partition holds no file system.
    s.formatOption = kFormatNone;
    CheckRadioButton(1031, 1033, 1031);
    for (int id : {1030, 1031, 1032, 1033}) Enable(*this, id, false);
  }
  list->ResetContent();
  if (s.formatOption == kFormatNone) {
    list->EnableWindow(FALSE);
    return;
  }
  list->EnableWindow(TRUE);
  if (s.fileSystemName.IsEmpty()) s.fileSystemName = CString(u"NTFS");
  FillFileSystemList(*list, s.newSize, s.fileSystemName);
}

void CCreatePart41::OnFormatClicked() {
  auto& s = PartitionManagerState;
  for (int i = 0; i < 3; ++i)
    if (IsDlgButtonChecked(1031 + i)) s.formatOption = i;
  RefreshFileSystems();
}

void CCreatePart41::OnFileSystemChanged() {
  auto* list = dynamic_cast<CComboBox*>(GetDlgItem(1030));
  if (!list || list->GetCurSel() < 0) return;
  list->GetLBText(list->GetCurSel(), PartitionManagerState.fileSystemName);
}

void CCreatePart41::OnNext() {
  EndDialog(IDOK);
  CcreatePart42 next;
  next.DoModal();
}

void CCreatePart41::OnBack() {
  EndDialog(IDCANCEL);
  CCreatePart4 previous;
  previous.DoModal();
}

// ---- page 3: summary ----------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CcreatePart42, CDialog)
  ON_BN_CLICKED(1161, &CcreatePart42::OnCreate)
  ON_BN_CLICKED(4, &CcreatePart42::OnBack)
END_MESSAGE_MAP()

CcreatePart42::CcreatePart42(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CcreatePart42::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPartitionPageHeader(*this, header_);
  SetWindowText(LookupString(u"IDS_CreatePartWz3CAP"));
  SetPageTexts(*this, {{1003, u"IDS_CreatePartWz3CAP"},
                   {1004, u"IDS_CreatePartWz3H1"},
                   {1013, u"IDS_CreatePartWz3Lbl1"},
                   {4, u"IDS_Back"},
                   {1161, u"IDS_Next"},
                   {2, u"IDS_Cancel"}});
  const auto& s = PartitionManagerState;
  auto* list = dynamic_cast<CListBox*>(GetDlgItem(1027));
  if (!list) return TRUE;
  auto line = [&](const char16_t* label, const CString& value) {
    list->AddString(LookupString(label) + CString(u": ") + value);
  };
  line(u"IDS_PhysicalDNO", IntToText(s.selectedDisk.value));
  line(u"IDS_PartitonType", LookupString(s.primaryChosen ? u"IDS_Primary" : s.logicalMode ? u"IDS_LogicalDrive" : u"IDS_Extended"));
  line(u"IDS_PartitonSize", FormatSectorCount(static_cast<uint64_t>(std::max<int64_t>(s.newSize, 0)) * kSectorsPerMb));
  static const char16_t* kOptions[] = {u"IDS_NoFormat", u"IDS_QuickFormat", u"IDS_FullFormat"};
  line(u"IDS_FormatOption",
       LookupString(s.formatOption >= 0 && s.formatOption <= 2 ? kOptions[s.formatOption] : u"IDS_UnknownOption"));
  line(u"IDS_FileSystem", s.fileSystemName.IsEmpty() ? LookupString(u"IDS_None") : s.fileSystemName);
  return TRUE;
}

void CcreatePart42::OnCreate() {
  PartitionManagerState.createConfirmed = 1;
  EndDialog(IDOK);
}

void CcreatePart42::OnBack() {
  EndDialog(IDCANCEL);
  CCreatePart41 previous;
  previous.DoModal();
}
