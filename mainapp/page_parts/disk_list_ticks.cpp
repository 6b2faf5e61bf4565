#include "mainapp/page_parts/disk_list_ticks.h"

#include <algorithm>
#include <string>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/records/disk_list_images.h"
#include "mainapp/records/disk_selection.h"

namespace {

uint64_t MultiplierOf(int32_t physical) {
  const int32_t m = SectorMultiplierOf(physical);
  return m > 0 ? static_cast<uint64_t>(m) : 1;
}

}  // namespace

ListedDiskIndex ListedIndexOfRow(int row) {
  if (row < 0 || row >= std::min(DiskListRows.rowCount, kMaxListRows)) return kNoListedDisk;
  int32_t kind = DiskListRows.rowKind[row];
  if (kind >= 0) {
    if (kind >= kMaxListRows) return kNoListedDisk;
    kind = DiskListRows.rowKind[kind];
  }
  return kind < 0 ? ListedDiskIndex{-kind - 1} : kNoListedDisk;
}

PhysicalDiskNumber PhysicalDiskOfRow(int row) { return ListedPhysicalDisk(ListedIndexOfRow(row)); }

bool IsBootMediumRow(int row) {
  const ListedDiskIndex listed = ListedIndexOfRow(row);
  // markedBootDisk keeps the listed number (index + 1), 0 for none.
  return !listed.is_none() && listed.value + 1 == DiskContext.markedBootDisk;
}

void FillDeletionDiskList(CListCtrl& list, const DiskListStyle& style) {
  const int rows = FillDiskListRows(list, &TypeDetails,
                                    DiskListFill{.letteredOnly = style.letteredOnly, .diskUsedColumn = style.diskUsedColumn});
  DetectSystemAndSpecialDisks();
  // The system disk's and the boot medium's rows are drawn with the disabled images.
  for (int row = 0; row < rows; ++row) {
    const PhysicalDiskNumber physical = PhysicalDiskOfRow(row);
    const bool marked = (style.markSystem && !physical.is_none() && physical == DiskContext.systemDisk) ||
                        (style.markBootMedium && IsBootMediumRow(row));
    if (!marked) continue;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = DiskListRows.rowKind[row] < 0 ? kImageDisabledDiskRow : kImageDisabledPartitionRow;
    list.SetItem(&item);
  }
}

bool GetDeletionListSelection(const CListCtrl& list, int32_t forcedRow) {
  const int rows = std::min({list.GetItemCount(), DiskListRows.rowCount, kMaxListRows});
  bool taken = false;
  for (int i = 0; i < rows; ++i) {
    if (!list.GetCheck(i) && i != forcedRow) continue;
    const ListedDiskIndex listed = ListedIndexOfRow(i);
    const PhysicalDiskNumber physical = ListedPhysicalDisk(listed);
    if (physical.is_none()) continue;
    const uint64_t m = MultiplierOf(physical.value);
    taken = true;
    DiskSelection.diskNumber = physical;
    if (DiskListRows.rowKind[i] < 0) {
      DiskSelection.kind = kSelectionWholeDisk;
      SetSelectionModel(DiskSelection, ListedModel(listed));
      DiskSelection.startSector = 0;
      DiskSelection.sectorCount = ListedSize(listed) / m;
      return true;
    }
    const CString details = list.GetItemText(i, 1);
    const int colon = details.Find(u':');
    DiskSelection.driveLetter = colon > 0 ? details[colon - 1] : u' ';
    DiskSelection.kind = kSelectionPartition;
    // Native sectors, as the engine and every other reader of the record take them.
    DiskSelection.startSector = DiskListRows.rowStart[i] / m;
    DiskSelection.sectorCount = DiskListRows.rowLength[i] / m;
    // The file system the volume has; the row's type name only when the
    // volume cannot tell (a type 07 partition may hold FAT, a type 06 one
    // is no NTFS).
    const char16_t* name = u"NTFS";
    const WCHAR letter = DiskSelection.driveLetter;
    const int32_t code = letter >= u'A' && letter <= u'Z' ? VolumeFsCodeByLetter(letter) : FS_UNKNOWN;
    if (code == FS_FAT16) name = u"FAT16";
    else if (code == FS_FAT32) name = u"FAT32";
    else if (code == FS_NTFS) name = u"NTFS";
    else if (code == FS_EXFAT) name = u"exFAT";
    else if (details.Right(3) == CString(u"RAW")) name = u"RAW";
    else if (details.Right(5) == CString(u"FAT32")) name = u"FAT32";
    else if (details.Right(5) == CString(u"FAT16")) name = u"FAT16";
    else if (details.Right(3) == CString(u"FAT")) name = u"FAT";
    std::fill(std::begin(DiskSelection.fileSystemName), std::end(DiskSelection.fileSystemName), 0);
    std::copy(name, name + std::char_traits<char16_t>::length(name), DiskSelection.fileSystemName);
    if (std::u16string_view(name) == u"RAW") return true;
  }
  return taken;
}

void ApplyRowTick(CListCtrl& list, int row, bool ticked) {
  UntickOtherRows(list, row);
  if (row < 0 || row >= DiskListRows.rowCount || DiskListRows.rowKind[row] >= 0) return;
  for (int i = row + 1; i < DiskListRows.rowCount && DiskListRows.rowKind[i] >= 0; ++i) list.SetCheck(i, ticked);
}

int TakeRowTick(CListCtrl& list, const NMHDR* header, int32_t& checkedRow) {
  const CheckBoxChange what = CheckBoxChangeOf(header);
  if (what == CheckBoxChange::None) return -1;
  const int row = reinterpret_cast<const NMLISTVIEW*>(header)->iItem;
  if (row < 0 || row >= DiskListRows.rowCount) return -1;
  const bool ticked = what == CheckBoxChange::Ticking;
  checkedRow = ticked ? row : -1;
  ApplyRowTick(list, row, ticked);
  return row;
}

