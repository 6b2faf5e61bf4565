#include "mainapp/records/disk_selection.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/ui/controls.h"
#include "program_support/language_table.h"

DiskSelectionRecord DiskSelection{};
DiskSelectionRecord DestinationSelection{};
DiskSelectionRecord ScanTarget{};
int32_t tickedCount = 0;
PhysicalDiskNumber partitionDiskNumber{0};

namespace {

// Row texts are read cut to 31 characters.
constexpr int kRowTextSize = 32;

CString RowText(const CListCtrl& list, int row, int column) {
  WCHAR buffer[kRowTextSize] = {};
  list.GetItemText(row, column, buffer, kRowTextSize);
  buffer[kRowTextSize - 1] = 0;
  return CString(buffer);
}

// The physical number and sector multiplier of a listed disk; false when the
// index names no listed disk or none whose geometry was read.
bool ListedDisk(ListedDiskIndex listed, PhysicalDiskNumber& physical, int32_t& multiplier) {
  physical = ListedPhysicalDisk(listed);
  if (physical.is_none()) return false;
  multiplier = SectorMultiplierOf(physical.value);
  return multiplier > 0;
}

void CopyText(WCHAR* out, int capacity, const CString& text) {
  std::fill(out, out + capacity, WCHAR{0});
  const int n = std::min(text.GetLength(), capacity - 1);
  for (int i = 0; i < n; ++i) out[i] = text[i];
}

}  // namespace

void SetSelectionModel(DiskSelectionRecord& record, const CString& model) {
  CopyText(record.model, kSelectionModelSize, model);
}

int32_t GetListSelection(const CListCtrl& list, int32_t forcedRow) {
  tickedCount = 0;
  const CString diskPrefix = LookupString(u"IDS_Drive").Left(4);
  // The row tables hold 26 rows; rows beyond them have no entry to read.
  const int rows = std::min(list.GetItemCount(), kMaxListRows);
  for (int r = 0; r < rows; ++r) {
    if (!list.GetCheck(r) && r != forcedRow) continue;
    const CString column1 = RowText(list, r, 1);

    const CString column0 = RowText(list, r, 0);
    if (column0.Left(4) == diskPrefix) {
      int32_t k = DiskListRows.rowKind[r];
      if (k < 0) k = -k - 1;
      const ListedDiskIndex listed{k};
      PhysicalDiskNumber physical = kNoPhysicalDisk;
      int32_t multiplier = 0;
      if (!ListedDisk(listed, physical, multiplier)) continue;
      DiskSelection.diskNumber = physical;
      DiskSelection.kind = kSelectionWholeDisk;
      SetSelectionModel(DiskSelection, ListedModel(listed));
      DiskSelection.startSector = 0;
      DiskSelection.sectorCount = static_cast<uint64_t>(
          static_cast<int64_t>(ListedSize(listed)) / static_cast<int64_t>(multiplier));
      ++tickedCount;
      return 1;
    }

    // A partition row: its entry names its disk's row, whose entry names the disk.
    const int32_t diskRow = DiskListRows.rowKind[r];
    if (diskRow < 0 || diskRow >= kMaxListRows || DiskListRows.rowKind[diskRow] >= 0) continue;
    const ListedDiskIndex listed{-1 - DiskListRows.rowKind[diskRow]};
    PhysicalDiskNumber physical = kNoPhysicalDisk;
    int32_t multiplier = 0;
    if (!ListedDisk(listed, physical, multiplier)) continue;

    const int colon = column1.Find(u':');
    DiskSelection.driveLetter = colon > 0 ? column1[colon - 1] : u' ';
    DiskSelection.kind = kSelectionPartition;
    partitionDiskNumber = physical;
    DiskSelection.sectorCount = DiskListRows.rowLength[r] / static_cast<uint64_t>(multiplier);
    DiskSelection.startSector = DiskListRows.rowStart[r] / static_cast<uint64_t>(multiplier);
    if (column1.Left(3) == CString(u"RAW")) {
      // An unformatted partition is taken but not counted.
      CopyText(DiskSelection.fileSystemName, kSelectionFileSystemSize, u"RAW");
      return 1;
    }
    const char16_t* name = column1.Left(5) == CString(u"FAT32") ? u"FAT32"
                           : column1.Left(3) == CString(u"FAT") ? u"FAT"
                                                                 : u"NTFS";
    CopyText(DiskSelection.fileSystemName, kSelectionFileSystemSize, name);
    ++tickedCount;
  }
  return 1;
}
