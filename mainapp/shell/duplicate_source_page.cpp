#include "mainapp/shell/duplicate_source_page.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/language_table.h"
#include "disk/number_text.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/clone/disk_list_images.h"
#include "platform/fs/file_api.h"
#include "platform/ui/message_map.h"

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

// The letter volume on physical disk `physical` whose start (native sectors
// times the multiplier) is the partition's start; 0 when there is none.
WCHAR LetterOfPartition(const PartitionEntry& p, int32_t physical) {
  const int32_t m = SectorMultiplierOf(physical);
  const uint64_t multiplier = m > 0 ? static_cast<uint64_t>(m) : 1;
  const int32_t count = std::min(DiskContext.letterVolumeCount, kMaxLetterVolumes);
  for (int32_t l = 1; l <= count; ++l) {
    const LetterVolume& v = DiskContext.letterVolumes[l];
    const int index = LetterIndex(v.letter);
    if (index < 0 || v.start * multiplier != p.start) continue;
    if (DiskContext.letterToDisk[index] == physical + 1) return static_cast<WCHAR>(v.letter);
  }
  return 0;
}

}  // namespace

CDuplicateSrc::CDuplicateSrc(CWnd* parent) : CDialog(IDD, parent) {}

CListCtrl* CDuplicateSrc::List() { return dynamic_cast<CListCtrl*>(GetDlgItem(kList)); }

BOOL CDuplicateSrc::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyDuplicateHeader(*this, fonts_, u"IDS_QCSrcCAP");
  SetDlgItemText(kDescription, LookupString(u"IDS_QCDestiDesc"));
  SetDlgItemText(kNext, LookupString(u"IDS_Next"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  DiskContext.systemDisk = -1;
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  own_change_ = true;
  if (!PrepareDuplicateDiskList(*this, 4)) return TRUE;
  FillList();
  own_change_ = false;
  return TRUE;
}

// One row per listed disk with a model text, each followed by its
// partitions; every row gets its DiskListRows entry at the same index. The
// tables hold 26 rows: the list stops there.
void CDuplicateSrc::FillList() {
  CListCtrl* list = List();
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  MapLettersToDisks();
  ListLetterVolumes();
  DiskListRows = DiskListRowsRecord{};

  const CString partitionText = CString(u"  ") + LookupString(u"IDS_Partition");
  int r = 0;
  const int32_t last = std::min(DiskContext.diskCount, kMaxListedDisks);
  for (int32_t n = 1; n <= last && r < kMaxListRows; ++n) {
    const int32_t physical = DiskContext.listedToPhysical[n];
    CString model = DiskContext.listedModel[n];
    if (physical < 0 || model.Trim().IsEmpty()) continue;
    const int diskRow = r++;
    DiskListRows.rowKind[diskRow] = -n;
    list->InsertItem(diskRow, DuplicateDiskRowText(physical), kImageDiskRow);
    list->SetItemText(diskRow, 1, model);
    list->SetItemText(diskRow, 2, FormatSectorCount(DiskContext.listedDiskSize[n]));

    int32_t count = 0;
    if (DiskContext.listedDiskSize[n] != 0) count = ReadPartitionList(sharedPartitionBuffer, physical);
    DiskListRows.partitionsPerDisk[n] = count;
    uint64_t used = 0;
    for (int32_t k = 0; k < std::min(count, kMaxPartitions) && r < kMaxListRows; ++k) {
      const PartitionEntry& p = sharedPartitionBuffer[k];
      const int row = r++;
      DiskListRows.rowKind[row] = diskRow;
      DiskListRows.rowStart[row] = p.start;
      DiskListRows.rowLength[row] = p.length;
      DiskListRows.rowEbrSector[row] = p.ebrSector;
      DiskListRows.rowSlot[row] = p.slot;
      list->InsertItem(row, partitionText, kImagePartitionRow);
      list->SetItemText(row, 2, FormatSectorCount(p.length));
      const WCHAR letter = LetterOfPartition(p, physical);
      if (letter) {
        CString label = VolumeLabel(letter);
        CString details(u"(");
        details += letter;
        details += u":)  ";
        details += label.Trim().IsEmpty() ? PartitionTypeName(p.type) : label;
        list->SetItemText(row, 1, details);
        const uint64_t partUsed = GetVolumeUsedSectors(letter);
        used += partUsed;
        list->SetItemText(row, 3, FormatSectorCount(partUsed));
      } else {
        CString details = LookupString(u"IDS_SpecialPertition");
        details += u" ( ";
        details += PartitionTypeName(p.type);
        details += u")";
        list->SetItemText(row, 1, details);
      }
    }
    list->SetItemText(diskRow, 3, FormatSectorCount(used));
  }
  DiskListRows.rowCount = r;
}

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
    DiskContext.systemDisk = -kind - 1;
    own_change_ = true;
    UntickOtherRows(*list, row);
    own_change_ = false;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(TRUE);
  } else if (kind < 0 && -kind - 1 == DiskContext.systemDisk) {
    DiskContext.systemDisk = -1;
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  }
}

void CDuplicateSrc::OnNext() {
  if (DiskContext.systemDisk < 0) return;
  EndDialog(IDOK);
}

void CDuplicateSrc::OnOK() { OnNext(); }
