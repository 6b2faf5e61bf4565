#include "mainapp/page_parts/page_parts.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/records/disk_list_images.h"
#include "platform/fs/file_api.h"
#include "platform/ui/dialog.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

namespace {

constexpr int kTitle = 1003;
constexpr int kSubtitle = 1004;

CString UnformattedDetails(WCHAR letter) {
  CString details(u"(");
  details += letter;
  details += u":)  ";
  details += LookupString(u"IDS_Unformatted");
  return details;
}

}  // namespace

void ApplyPageHeader(CDialog& page, PageHeaderFonts& fonts, const char16_t* key) {
  const int title_height = ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0);
  fonts.title.CreateFont(title_height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  fonts.text.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = page.GetDlgItem(kTitle)) title->SetFont(&fonts.title, TRUE);
  if (CWnd* subtitle = page.GetDlgItem(kSubtitle)) subtitle->SetFont(&fonts.text, TRUE);
  const CString caption = LookupString(key);
  page.SetWindowText(caption);
  page.SetDlgItemText(kTitle, caption);
  page.SetDlgItemText(kSubtitle, caption);
}

CListCtrl* PrepareDiskList(CDialog& page, int columns, int listId) {
  auto* list = dynamic_cast<CListCtrl*>(page.GetDlgItem(listId));
  if (!list) return nullptr;
  struct Column {
    const char16_t* key;
    int width;
    int format;
  };
  static const Column kColumns[] = {{u"IDS_LogList1", 130, LVCFMT_LEFT},
                                    {u"IDS_ModelPartition", 180, LVCFMT_LEFT},
                                    {u"IDS_totalsize1", 80, LVCFMT_RIGHT},
                                    {u"IDS_UsedSpace", 80, LVCFMT_RIGHT}};
  list->SetExtendedStyle(LVS_EX_CHECKBOXES);
  list->SetImageList(CreateDiskListImages(), LVSIL_SMALL);
  for (int c = 0; c < columns && c < 4; ++c)
    list->InsertColumn(c, LookupString(kColumns[c].key), kColumns[c].format, kColumns[c].width);
  return list;
}

CheckBoxChange CheckBoxChangeOf(const NMHDR* header) {
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if (!(change->uChanged & LVIF_STATE)) return CheckBoxChange::None;
  if (!((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK)) return CheckBoxChange::None;
  return ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2 ? CheckBoxChange::Ticking
                                                                  : CheckBoxChange::Unticking;
}

void UntickOtherRows(CListCtrl& list, int row) {
  for (int i = 0; i < list.GetItemCount(); ++i)
    if (i != row && list.GetCheck(i)) list.SetCheck(i, FALSE);
}

CString DiskRowText(int32_t physical) {
  CString text = LookupString(u"IDS_Drive");
  text += IntToText(physical);
  text += u" ";
  return text;
}

CString RowHeading(const CListCtrl& list, int row) {
  CString name = list.GetItemText(row, 0);
  name.TrimRight();
  name.TrimRight(u':');
  return name + u": ";
}

CString TypeDetails(WCHAR letter, const PartitionEntry& p) {
  CString details(u"(");
  details += letter;
  details += u":)  ";
  details += PartitionTypeName(p.type);
  return details;
}

int FillDiskListRows(CListCtrl& list, CString (*letteredDetails)(WCHAR letter, const PartitionEntry& partition),
                     const DiskListFill& fill) {
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
    if (physical < 0 || (!fill.everyDisk && model.Trim().IsEmpty())) continue;
    const int diskRow = r++;
    DiskListRows.rowKind[diskRow] = -n;
    list.InsertItem(diskRow, DiskRowText(physical), kImageDiskRow);
    list.SetItemText(diskRow, 1, model);
    list.SetItemText(diskRow, 2, FormatSectorCount(DiskContext.listedDiskSize[n]));

    int32_t count = 0;
    if (DiskContext.listedDiskSize[n] != 0) count = ReadPartitionList(sharedPartitionBuffer, physical);
    if (count < 0) count = 0;
    DiskListRows.partitionsPerDisk[n] = count;
    uint64_t used = 0;
    for (int32_t k = 0; k < std::min(count, kMaxPartitions) && r < kMaxListRows; ++k) {
      const PartitionEntry& p = sharedPartitionBuffer[k];
      const int32_t found = FindLetterByOffset(p.start, physical);
      const WCHAR letter = found > 0 ? static_cast<WCHAR>(found) : 0;
      if (!letter && fill.letteredOnly) continue;
      const int row = r++;
      DiskListRows.rowKind[row] = diskRow;
      DiskListRows.rowStart[row] = p.start;
      DiskListRows.rowLength[row] = p.length;
      DiskListRows.rowEbrSector[row] = p.ebrSector;
      DiskListRows.rowSlot[row] = p.slot;
      list.InsertItem(row, partitionText, kImagePartitionRow);
      list.SetItemText(row, 2, FormatSectorCount(p.length));
      if (letter && fill.markUnformatted && !VolumeHasFileSystem(letter)) {
        list.SetItemText(row, 1, UnformattedDetails(letter));
        list.SetItemText(row, 3, CString());
      } else if (letter) {
        list.SetItemText(row, 1, letteredDetails(letter, p));
        const uint64_t partUsed = GetVolumeUsedSectors(letter);
        used += partUsed;
        list.SetItemText(row, 3, FormatSectorCount(partUsed));
      } else {
        CString details = LookupString(u"IDS_SpecialPertition");
        details += u" ( ";
        details += PartitionTypeName(p.type);
        details += u")";
        list.SetItemText(row, 1, details);
      }
    }
    if (fill.diskUsedColumn) list.SetItemText(diskRow, 3, FormatSectorCount(used));
  }
  DiskListRows.rowCount = r;
  return r;
}
