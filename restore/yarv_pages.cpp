#include "restore/yarv_pages.h"

#include <algorithm>

#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "mainapp/migrate/shell_folder_names.h"
#include "platform/ui/message_map.h"
#include "platform/registry/registry.h"
#include "program_support/registry_readers.h"
#include "restore/yarv_state.h"

void SetTitleFonts(CDialog& page, CFont& title, CFont& subtitle) {
  constexpr const char16_t* kPageFont = u"MS UI Gothic";
  title.CreateFont(TitleFontHeight, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, kPageFont);
  subtitle.CreateFont(SubtitleFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, kPageFont);
  if (CWnd* w = page.GetDlgItem(1007)) w->SetFont(&title);
  if (CWnd* w = page.GetDlgItem(1008)) w->SetFont(&subtitle);
}

namespace {

// The kind of the archive's last listed item (what the destination is).
ContentsItem::Kind LastItemKind() {
  return ContentsItems.empty() ? ContentsItem::File : ContentsItems.back().kind;
}

bool ChoosesDisk() {
  const ContentsItem::Kind k = LastItemKind();
  return k == ContentsItem::Disk || k == ContentsItem::Partition;
}

// Whether disk item j is a partition (the destination chooser then offers
// partitions), else a whole disk.
bool LastDiskIsPartition() {
  const auto& disks = Archive().disk_records();
  if (LastItemKind() == ContentsItem::Partition) return true;
  return disks.size() > 1 && !disks.back().is_whole_disk();
}

// The folder records that lie under a folder entry's path (the entry too).
bool UnderFolder(const std::u16string& path, const std::u16string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == u'\\');
}

}  // namespace

// ---- selection page ----

BEGIN_MESSAGE_MAP(CRestore1, CDialog)
  ON_BN_CLICKED(CRestore1::kStart, &CRestore1::OnStartRestore)
  ON_BN_CLICKED(CRestore1::kChoose, &CRestore1::ChooseDestination)
  ON_BN_CLICKED(1142, &CRestore1::OnSelectAll)
  ON_BN_CLICKED(1061, &CRestore1::OnDeselectAll)
  ON_BN_CLICKED(CRestore1::kOriginal, &CRestore1::OnOriginal)
  ON_BN_CLICKED(CRestore1::kNewPlace, &CRestore1::OnNewPlace)
  ON_BN_CLICKED(CRestore1::kBack, &CRestore1::OnNothing)
  ON_EN_SETFOCUS(1007, &CRestore1::OnTitleFocus)
  ON_EN_SETFOCUS(1008, &CRestore1::OnTitleFocus)
END_MESSAGE_MAP()

CRestore1::CRestore1(CWnd* parent) : CDialog(IDD, parent) {}

void CRestore1::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kList, contents_);
}

BOOL CRestore1::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  SetTitleFonts(*this, titleFont_, subtitleFont_);
  SetWindowText(YarvText(416));
  SetDlgItemText(1007, YarvText(417));
  SetDlgItemText(1008, YarvText(418));
  SetDlgItemText(1019, YarvText(302));
  SetDlgItemText(1020, YarvText(303));
  SetDlgItemText(kStart, YarvText(112));
  SetDlgItemText(1142, YarvText(566));
  SetDlgItemText(1061, YarvText(567));
  SetDlgItemText(kOriginal, YarvText(558));
  SetDlgItemText(kNewPlace, YarvText(559));
  SetDlgItemText(227, YarvText(651));
  SetDlgItemText(kChoose, YarvText(307));
  SetDlgItemText(kBack, YarvText(113));
  SetDlgItemText(IDCANCEL, YarvText(107));
  SetDlgItemText(226, Archive().archive_name().empty() ? GetPathLeaf(ProgramPath)
                                                        : CString(Archive().archive_name().c_str()));
  CheckDlgButton(kOriginal, RestoreToOriginal ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kNewPlace, RestoreToOriginal ? BST_UNCHECKED : BST_CHECKED);
  if (CWnd* choose = GetDlgItem(kChoose)) choose->EnableWindow(!RestoreToOriginal);
  if (CWnd* edit = GetDlgItem(kDestination)) edit->EnableWindow(!RestoreToOriginal && !ChoosesDisk());
  if (WinPeMode)
    if (CWnd* original = GetDlgItem(kOriginal)) original->EnableWindow(FALSE);
  if (!DestinationDescription.IsEmpty()) {
    CheckDlgButton(kNewPlace, BST_CHECKED);
    CheckDlgButton(kOriginal, BST_UNCHECKED);
    if (CWnd* choose = GetDlgItem(kChoose)) choose->EnableWindow(TRUE);
  }
  FillContentsList();
  for (int row = 0; row < contents_.GetItemCount() && row < static_cast<int>(SavedRowChecks.size()); ++row)
    if (SavedRowChecks[row] >= 0) contents_.SetCheck(row, SavedRowChecks[row] == 1);
  if (!DestinationDescription.IsEmpty()) SetDlgItemText(kDestination, DestinationLabelText(DestinationDescription));
  return TRUE;
}

int NextContentsLine(int position) {
  if (position < 0 || position >= ArchiveContentsText.GetLength()) return -1;
  const int end = ArchiveContentsText.Find(u"\r\n", position);
  if (end < 0) return -1;
  CurrentContentsLine = ArchiveContentsText.Mid(position, end - position);
  return end + 2;
}

void CRestore1::FillContentsList() {
  contents_.SetExtendedStyle(contents_.GetExtendedStyle() | LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES);
  RECT box{};
  contents_.GetClientRect(&box);
  const int width = box.right - box.left;
  contents_.InsertColumn(0, u"", LVCFMT_LEFT, width > 40 ? width - 4 : 360);
  const CString file = YarvText(523), folder = YarvText(574), partition = YarvText(500), disk = YarvText(603);
  int row = 0;
  for (int at = NextContentsLine(0); at >= 0; at = NextContentsLine(at)) {
    CString line = CurrentContentsLine;
    line.Replace(u"File:", file + u":");
    line.Replace(u"Folder:", folder + u":");
    line.Replace(u"Drive", disk);
    line.Replace(u"Partition", partition);
    contents_.InsertItem(row, line);
    contents_.SetCheck(row, TRUE);
    ++row;
  }
}

CString DestinationLabelText(const CString& description) {
  const CString partition = YarvText(500);
  if (partition.IsEmpty() || description.Find(partition) < 0) return description;
  const int colon = description.Find(u':');
  if (colon < 1) return description;
  const int32_t plus_one = LetterDiskPlusOne(description[colon - 1]);
  CString label;
  label.Format(u"%s%d %s", YarvText(603).GetString(), plus_one > 0 ? plus_one - 1 : ~plus_one,
               description.GetString());
  return label;
}

void CRestore1::OnSelectAll() {
  for (int row = 0; row < contents_.GetItemCount(); ++row) contents_.SetCheck(row, TRUE);
}

void CRestore1::OnDeselectAll() {
  for (int row = 0; row < contents_.GetItemCount(); ++row) contents_.SetCheck(row, FALSE);
}

void CRestore1::OnOriginal() {
  CheckDlgButton(kNewPlace, BST_UNCHECKED);
  DestinationDescription.Empty();
  if (CWnd* choose = GetDlgItem(kChoose)) choose->EnableWindow(FALSE);
  if (CWnd* edit = GetDlgItem(kDestination)) edit->EnableWindow(FALSE);
  SetDlgItemText(kDestination, u"");
  RestoreToOriginal = true;
}

void CRestore1::OnNewPlace() {
  CheckDlgButton(kOriginal, BST_UNCHECKED);
  if (CWnd* choose = GetDlgItem(kChoose)) choose->EnableWindow(TRUE);
  if (CWnd* edit = GetDlgItem(kDestination)) edit->EnableWindow(!ChoosesDisk());
  RestoreToOriginal = false;
}

void CRestore1::OnTitleFocus() {
  if (CWnd* group = GetDlgItem(1019)) group->SetFocus();
}

void CRestore1::ChooseDestination() {
  UseOwnModule();
  if (ChoosesDisk()) {
    DestinationKindFilter = LastDiskIsPartition() ? 3 : 2;
    CDiskSelect chooser(nullptr);
    chooser.DoModal();
  } else {
    CBit1 chooser(nullptr);
    chooser.DoModal();
    DestinationDescription = FolderChooserPath;
  }
  UseLanguageLibrary();
  if (!DestinationDescription.IsEmpty()) SetDlgItemText(kDestination, DestinationLabelText(DestinationDescription));
}

void CRestore1::OnCancel() {
  UseOwnModule();
  EndDialog(IDCANCEL);
}

bool CRestore1::CheckDiskDestinations() {
  const auto& disks = Archive().disk_records();
  DiskItemTargets.assign(disks.size(), restore::DiskTarget{});
  const char16_t archive_letter = ProgramPath.IsEmpty() ? 0 : ProgramPath[0];
  const int32_t archive_disk = LetterDiskPlusOne(archive_letter) - 1;
  int32_t last_disk = -1;
  int64_t last_start = 0;
  for (int j = 1; j < static_cast<int>(disks.size()); ++j) {
    const restore::DiskItemRecord& rec = disks[j];
    if (rec.kind < 0) continue;
    const int64_t original_size = rec.extent_sectors();
    const char16_t original_letter = rec.drive_text.empty() ? 0 : rec.drive_text[0];
    restore::DiskTarget target;
    const bool partition = !rec.is_whole_disk();
    if (DestinationDescription.IsEmpty()) {
      target.disk = rec.disk_number;
      target.start_sector = rec.first_sector;
      DestinationDriveText = CString(rec.drive_text.c_str());
      if (partition) {
        int64_t start = 0, length = 0;
        if (!QueryLetterPartition(original_letter, start, length)) {
          YarvMessage(GetSafeHwnd(), YarvText(661));
          return false;
        }
        // The original place is the letter's own partition: its disk and
        // start must be the ones the archive recorded. A letter that now
        // names a partition elsewhere (another disk, another start) is not
        // the original place, and nothing is written.
        const int32_t letter_disk = LetterDiskPlusOne(original_letter) - 1;
        if (letter_disk != target.disk || start != target.start_sector) {
          YarvMessage(GetSafeHwnd(), YarvText(739));
          return false;
        }
        target.disk = letter_disk;
        target.start_sector = start;
        target.size_sectors = length;
        target.volume_letter = original_letter;
        for (const RestorePartitionEntry& e : ReadMbrPartitionTable(target.disk))
          if (e.start == start && e.length == length) {
            target.table_sector = e.tableSector;
            target.slot = e.slot;
          }
        if (length < original_size) {
          YarvMessage(GetSafeHwnd(), YarvText(738));
          return false;
        }
      }
    } else {
      target.disk = DestinationDisk;
      target.start_sector = partition ? DestinationStart : 0;
      target.size_sectors = DestinationSize;
      target.table_sector = DestinationTableSector;
      target.slot = partition ? DestinationSlot : -1;
      target.volume_letter = DestinationDriveText.IsEmpty() ? 0 : DestinationDriveText[0];
      if (partition) {
        if (target.volume_letter && target.volume_letter == archive_letter) {
          YarvMessage(GetSafeHwnd(), YarvText(745));
          return false;
        }
        // A system partition next to another disk's active first partition.
        if (rec.kind == 6 && !WinPeMode && IsFirstPartitionActive(target.disk) &&
            !(target.table_sector == 0 && target.slot == 0)) {
          YarvMessage(GetSafeHwnd(), YarvText(809));
          return false;
        }
      } else if (target.disk == archive_disk) {
        SelectionText = CurrentContentsLine;
        YarvMessage(GetSafeHwnd(), YarvText(745));
        return false;
      }
      if (DestinationSize < original_size) {
        YarvMessage(GetSafeHwnd(), YarvText(738));
        return false;
      }
    }
    last_disk = target.disk;
    last_start = target.start_sector;
    DiskItemTargets[j] = target;
    if (!ProgramPath.IsEmpty() && (ProgramPath[0] == u'X' || ProgramPath[0] == u'x')) break;
    // Nothing goes onto the boot manager's own partition, nor over a disk's
    // first track where the boot manager lives.
    if ((target.start_sector <= 63 && DiskHasKoztPartition(target.disk)) ||
        IsKoztBootPartition(target.disk, target.start_sector, target.size_sectors)) {
      YarvMessage(GetSafeHwnd(), YarvText(704));
      return false;
    }
    if (target.disk == 0 && target.start_sector <= 63 && !WinPeMode) {
      YarvMessage(GetSafeHwnd(), YarvText(661));
      return false;
    }
    WCHAR windows[MAX_PATH] = {};
    if (rec.kind >= 5 && target.volume_letter && GetWindowsDirectoryW(windows, MAX_PATH) > 0 &&
        (windows[0] | 0x20) == (target.volume_letter | 0x20) &&
        YarvMessage(GetSafeHwnd(), YarvText(694), MB_YESNO | MB_ICONINFORMATION) == IDNO)
      return false;
  }
  if (last_disk == 0 && last_start <= 63 && !WinPeMode) {
    YarvMessage(GetSafeHwnd(), YarvText(809));
    return false;
  }
  return true;
}

void CRestore1::OnStartRestore() {
  if (IsDlgButtonChecked(kNewPlace) == BST_CHECKED && DestinationDescription.IsEmpty()) {
    CString typed = GetDlgItemText(kDestination);
    if (ChoosesDisk() || typed.IsEmpty()) {
      YarvMessage(GetSafeHwnd(), YarvText(813));
      return;
    }
    DestinationDescription = typed;
  }
  const int rows = contents_.GetItemCount();
  SavedRowChecks.assign(static_cast<size_t>(rows), -1);
  bool any = false;
  for (int row = 0; row < rows; ++row) {
    SavedRowChecks[row] = contents_.GetCheck(row) ? 1 : 0;
    any = any || SavedRowChecks[row] == 1;
  }
  RescanRestoreDisks();
  if (!any) {
    YarvMessage(GetSafeHwnd(), YarvText(483));
    return;
  }
  // Every mark is set afresh from the ticks, so a row ticked again after a
  // Back is restored again.
  SelectionText.Empty();
  for (int k = 1; k < static_cast<int>(StoredFileSelection.size()); ++k)
    Archive().set_file_selection(k, StoredFileSelection[k]);
  for (int i = 1; i < static_cast<int>(StoredFolderKinds.size()); ++i) Archive().set_folder_kind(i, StoredFolderKinds[i]);
  for (int j = 1; j < static_cast<int>(StoredDiskKinds.size()); ++j) Archive().set_disk_kind(j, StoredDiskKinds[j]);
  for (int row = 0; row < rows && row < static_cast<int>(ContentsItems.size()); ++row) {
    const ContentsItem item = ContentsItems[row];
    const bool ticked = SavedRowChecks[row] == 1;
    if (ticked && item.kind != ContentsItem::Disk) SelectionText += contents_.GetItemText(row, 0) + u"\r\n";
    if (ticked) continue;
    switch (item.kind) {
      case ContentsItem::File:
        Archive().set_file_selection(item.index, -1);
        break;
      case ContentsItem::Folder:
      case ContentsItem::Partition: {
        const std::u16string entry = Archive().FolderPath(item.index);
        for (int i = 1; i < static_cast<int>(Archive().folder_records().size()); ++i)
          if (UnderFolder(Archive().FolderPath(i), entry)) Archive().set_folder_kind(i, -1);
        break;
      }
      case ContentsItem::Disk:
        Archive().set_disk_kind(item.index, -1);
        break;
    }
  }
  if (Archive().disk_records().size() > 1 && !CheckDiskDestinations()) return;
  UseOwnModule();
  EndDialog(IDOK);
  CRestoreProgress progress(nullptr);
  progress.DoModal();
}

// ---- disk and partition chooser ----

BEGIN_MESSAGE_MAP(CDiskSelect, CDialog)
  ON_NOTIFY(LVN_ITEMCHANGED, CDiskSelect::kList, &CDiskSelect::OnItemChanged)
END_MESSAGE_MAP()

CDiskSelect::CDiskSelect(CWnd* parent) : CDialog(IDD, parent) {}

void CDiskSelect::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kList, list_);
}

BOOL CDiskSelect::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  filled_ = false;
  RescanRestoreDisks();
  SetWindowText(YarvText(628));
  SetDlgItemText(IDOK, YarvText(106));
  SetDlgItemText(IDCANCEL, YarvText(107));
  list_.SetExtendedStyle(list_.GetExtendedStyle() | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  list_.InsertColumn(0, YarvText(439), LVCFMT_LEFT, 130);
  list_.InsertColumn(1, YarvText(500), LVCFMT_LEFT, 110);
  list_.InsertColumn(2, YarvText(524), LVCFMT_LEFT, 120);
  list_.InsertColumn(3, YarvText(561), LVCFMT_RIGHT, 70);
  list_.InsertColumn(4, YarvText(560), LVCFMT_LEFT, 140);
  rows_.clear();
  const CString drive = YarvText(519), partition = YarvText(500);
  for (int32_t listed = 1; listed <= ListedDiskCount() && rows_.size() < kMaxRestorePartitions; ++listed) {
    const int32_t physical = ListedDiskPhysical(listed);
    if (physical < 0) continue;
    CString text;
    text.Format(u"%s%d", drive.GetString(), physical);
    const int disk_row = static_cast<int>(rows_.size());
    list_.InsertItem(disk_row, text);
    list_.SetItemText(disk_row, 3, FormatSizeText(ListedDiskSectors(listed)));
    CString model = ListedDiskModel(listed);
    model.TrimRight();
    list_.SetItemText(disk_row, 4, model);
    rows_.push_back({-listed, {}});
    if (ListedDiskSectors(listed) == 0) continue;
    const auto partitions = ReadMbrPartitionTable(physical);
    for (size_t i = 0; i < partitions.size() && rows_.size() < kMaxRestorePartitions; ++i) {
      // The partition's letter: one on this disk whose volume has its extent.
      char16_t letter = 0;
      for (char16_t l = u'C'; l <= u'Z' && !letter; ++l) {
        int64_t start = 0, length = 0;
        if (LetterDiskPlusOne(l) == physical + 1 && QueryLetterPartition(l, start, length) &&
            start == partitions[i].start && length == partitions[i].length)
          letter = l;
      }
      if (!letter) continue;
      const int row = static_cast<int>(rows_.size());
      list_.InsertItem(row, CString(u"  ") + partition);
      WCHAR root[] = u"C:\\";
      root[0] = letter;
      WCHAR label[64] = {};
      GetVolumeInformationW(root, label, 64, nullptr, nullptr, nullptr, nullptr, 0);
      CString place;
      place.Format(u"%s(%c:)", label, letter);
      list_.SetItemText(row, 1, place);
      const CString fs = RestoreTypeName(partitions[i].typeRow);
      list_.SetItemText(row, 2, fs.IsEmpty() ? YarvText(409) : fs);
      list_.SetItemText(row, 3, FormatSizeText(partitions[i].length));
      rows_.push_back({disk_row, partitions[i]});
    }
  }
  filled_ = true;
  return TRUE;
}

void CDiskSelect::OnItemChanged(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!filled_ || adjusting_) return;
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  const int row = change->iItem;
  if (row < 0 || row >= static_cast<int>(rows_.size()) || !(change->uChanged & LVIF_STATE)) return;
  if (((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) != 2) return;
  adjusting_ = true;
  const bool disk_row = rows_[row].marker < 0;
  const bool wanted = DestinationKindFilter == 3 ? !disk_row : disk_row;
  if (!wanted) {
    list_.SetCheck(row, FALSE);
  } else {
    for (int other = 0; other < static_cast<int>(rows_.size()); ++other)
      if (other != row) list_.SetCheck(other, FALSE);
  }
  adjusting_ = false;
}

void CDiskSelect::OnOK() {
  int row = 0;
  while (row < static_cast<int>(rows_.size()) && !list_.GetCheck(row)) ++row;
  if (row >= static_cast<int>(rows_.size())) {
    EndDialog(IDOK);
    return;
  }
  const Row& r = rows_[row];
  const int32_t listed = r.marker < 0 ? -r.marker : -rows_[r.marker].marker;
  // The physical number of the listed disk: listed numbers skip absent disks.
  DestinationDisk = ListedDiskPhysical(listed);
  if (r.marker >= 0) {
    DestinationSize = r.partition.length;
    DestinationStart = r.partition.start;
    DestinationSlot = r.partition.slot;
    DestinationTableSector = r.partition.tableSector;
  } else {
    DestinationSize = ListedDiskSectors(listed);
    DestinationStart = 0;
    DestinationSlot = -1;
    DestinationTableSector = 0;
  }
  const CString column1 = list_.GetItemText(row, 1);
  DestinationDescription = list_.GetItemText(row, 0) + u" " + column1;
  DestinationDescription.Trim();
  const CString tail = column1.Right(3);
  DestinationDriveText = tail.GetLength() == 3 && tail[2] == u':' ? tail.Right(2)
                         : tail.GetLength() == 3 && tail[2] == u')' ? tail.Left(2)
                                                                     : CString();
  UseOwnModule();
  EndDialog(IDOK);
}

void CDiskSelect::OnCancel() {
  DestinationDescription.Empty();
  UseOwnModule();
  EndDialog(IDCANCEL);
}

// ---- overwrite prompt ----

BEGIN_MESSAGE_MAP(CBit, CDialog)
  ON_BN_CLICKED(6, &CBit::OnYes)
  ON_BN_CLICKED(3, &CBit::OnYesToAll)
  ON_BN_CLICKED(7, &CBit::OnNo)
END_MESSAGE_MAP()

CBit::CBit(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CBit::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  SetDlgItemText(IDCANCEL, YarvText(107));
  SetDlgItemText(6, YarvText(680));
  SetDlgItemText(7, YarvText(105));
  SetDlgItemText(3, YarvText(672));
  SetDlgItemText(1013, OverwritePromptText);
  UseOwnModule();
  return TRUE;
}

void CBit::OnYes() {
  OverwriteChoice = 1;
  EndDialog(IDOK);
}
void CBit::OnYesToAll() {
  OverwriteChoice = 2;
  EndDialog(IDOK);
}
void CBit::OnNo() {
  OverwriteChoice = 3;
  EndDialog(IDOK);
}
void CBit::OnCancel() {
  OverwriteChoice = 0;
  EndDialog(IDCANCEL);
}

// ---- folder chooser ----

BEGIN_MESSAGE_MAP(CBit1, CDialog)
  ON_NOTIFY(TVN_SELCHANGED, CBit1::kTree, &CBit1::OnSelectionChanged)
END_MESSAGE_MAP()

CBit1::CBit1(CWnd* parent) : CDialog(IDD, parent) {}

void CBit1::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kTree, tree_);
}

BOOL CBit1::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  SetWindowText(YarvText(670));
  SetDlgItemText(1168, YarvText(671));
  SetDlgItemText(1167, YarvText(574) + u":");
  SetDlgItemText(IDOK, YarvText(106));
  SetDlgItemText(IDCANCEL, YarvText(107));
  SetDlgItemText(kPath, FolderChooserPath);
  FileTreeGlobals.showFilesMode = 0;
  tree_.PopulateTree();
  return TRUE;
}

CString NetworkPlaceOfDisplayPath(const CString& display) {
  int match = display.Find(u"My Network Places\\");
  if (match < 1) match = display.Find(u"マイ ネットワーク");
  if (match < 1) return CString();
  const int b = display.Find(u'\\', match + 1);
  if (b < 0) return CString();
  // "share on server (SERVER)", "share on SERVER" or "share - SERVER": the
  // word between blanks, so that a share such as "Monday" is not cut at its "on".
  int on = display.Find(u" on ", b + 1);
  if (on < 0) on = display.Find(u" - ", b + 1);
  if (on >= 0) ++on;
  if (on < 0 || on - b - 2 < 1) return CString();
  CString share = display.Mid(b + 1, on - b - 2);
  int end_of_part = display.Find(u'\\', on);
  if (end_of_part < 0) end_of_part = display.GetLength();
  const int open = display.Find(u'(', on);
  CString server, rest;
  if (open >= 0 && open < end_of_part) {
    const int close = display.Find(u')', open + 1);
    server = close < 0 ? display.Mid(open + 1) : display.Mid(open + 1, close - open - 1);
    if (close >= 0) rest = display.Mid(close + 2);
  } else {
    const int blank = display.Find(u' ', on);
    if (blank < 0) return CString();
    const int slash = display.Find(u'\\', blank + 1);
    server = slash < 0 ? display.Mid(blank + 1) : display.Mid(blank + 1, slash - blank - 1);
    if (slash >= 0) rest = display.Mid(slash + 1);
  }
  if (server.IsEmpty() || share.IsEmpty()) return CString();
  const int named = share.Find(server + u"\\");
  if (named >= 0) share = share.Mid(named + server.GetLength() + 1);
  CString path = CString(u"\\\\") + server + u"\\" + share;
  if (!rest.IsEmpty()) path += CString(u"\\") + rest;
  return path;
}

CString FolderOfDisplayPath(const CString& display_path, const ShellPlaceNames& names) {
  const int mark = display_path.Find(u":)");
  if (mark >= 1) {
    CString folder;
    folder += display_path[mark - 1];
    folder += u":";
    folder += display_path.Mid(mark + 2);
    return folder;
  }
  CString path = display_path;
  const CString network = NetworkPlaceOfDisplayPath(display_path);
  // Without the folder a word stands for, the word stays (and names nothing).
  const CString documents = path.Find(u"Desktop\\My Documents") >= 0 ? CString(u"Desktop\\My Documents")
                             : !names.documentsWords.IsEmpty() && path.Find(names.documentsWords) >= 0
                                 ? names.documentsWords
                                 : CString();
  if (!documents.IsEmpty()) {
    if (!names.personal.IsEmpty()) path.Replace(documents, names.personal);
  } else if (!network.IsEmpty()) {
    path = network;
  }
  // The desktop item at the tree's root stands for the desktop folder.
  for (const CString& word : {names.desktopWord, CString(u"Desktop")}) {
    if (names.desktop.IsEmpty()) break;
    const int at = word.IsEmpty() ? -1 : path.Find(word);
    if (at >= 0 && at <= 4) {
      path.Replace(word, names.desktop);
      break;
    }
  }
  return path;
}

void CBit1::OnSelectionChanged(NMHDR*, LRESULT* result) {
  *result = 0;
  HTREEITEM item = tree_.GetSelectedItem();
  CString display;
  for (HTREEITEM at = item; at; at = tree_.GetParentItem(at))
    display = display.IsEmpty() ? tree_.GetItemText(at) : tree_.GetItemText(at) + u"\\" + display;
  ShellPlaceNames names;
  if (display.Find(u":)") < 1) {
    const char16_t* key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    names.personal = ReadRegistryString(HKEY_CURRENT_USER, key, u"Personal");
    names.desktop = ReadRegistryString(HKEY_CURRENT_USER, key, u"Desktop");
  }
  // The language library is the resource handle while the chooser is open.
  names.documentsWords = YarvText(727);
  names.desktopWord = YarvText(720);
  CString folder = FolderOfDisplayPath(display, names);
  if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != u':') {
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(folder + u"\\*.*", &found);
    if (find == INVALID_HANDLE_VALUE) folder.Empty();
    else FindClose(find);
  }
  // The shell's special folders are no destination.
  if (IsExcludedFolderName(folder)) folder.Empty();
  SetDlgItemText(kPath, folder);
}

void CBit1::OnOK() {
  FolderChooserPath = GetDlgItemText(kPath);
  UseOwnModule();
  EndDialog(IDOK);
}

void CBit1::OnCancel() {
  UseOwnModule();
  EndDialog(IDCANCEL);
}

// ---- passkey dialog ----

BEGIN_MESSAGE_MAP(CEncryption, CDialog)
  ON_BN_CLICKED(IDOK, &CEncryption::OnPasskeyOk)
  ON_BN_CLICKED(IDCANCEL, &CEncryption::OnPasskeyCancel)
END_MESSAGE_MAP()

CEncryption::CEncryption(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CEncryption::OnInitDialog() {
  CDialog::OnInitDialog();
  UseLanguageLibrary();
  wrongText_ = YarvText(684);
  cancelledText_ = YarvText(685);
  SetDlgItemText(IDCANCEL, YarvText(107));
  SetDlgItemText(IDOK, YarvText(106));
  SetWindowText(YarvText(682));
  SetDlgItemText(1106, YarvText(681));
  SetDlgItemText(kMessage, YarvText(683));
  PasskeyAttempts = 0;
  return TRUE;
}

void CEncryption::OnPasskeyOk() {
  PasskeyText = GetDlgItemText(kPasskey);
  if (Archive().VerifyPasskey(std::u16string_view(PasskeyText.GetString(), PasskeyText.GetLength()))) {
    UseOwnModule();
    EndDialog(IDOK);
    return;
  }
  if (PasskeyAttempts < 0) return;
  // The masked text cannot be read back to mend it: it is typed afresh.
  SetDlgItemText(kPasskey, u"");
  if (PasskeyAttempts <= 3) {
    ++PasskeyAttempts;
    SetDlgItemText(kMessage, wrongText_);
    return;
  }
  SetDlgItemText(kMessage, cancelledText_);
  if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(FALSE);
  PasskeyAttempts = -1;
}

void CEncryption::OnPasskeyCancel() {
  PasskeyText.Empty();
  PasskeyAttempts = -1;
  UseOwnModule();
  EndDialog(IDOK);
}
