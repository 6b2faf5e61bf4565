// The page kit of the wizard pages (quick duplicate, clone, migration,
// secure deletion, surface scan) and the partition manager's list: the page
// header (caption and the two header rich edits 1003 and 1004 with their
// fonts), the disk list with its rows, and the texts of a listed disk.
#pragma once

#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"

class CDialog;
struct PartitionEntry;

struct PageHeaderFonts {
  CFont title;
  CFont text;
};

// Sets the page caption and both header rich edits to the text of `key`:
// 1003 bold at titleFontHeight (3 more under WinPE), 1004 at textFontHeight.
// The fonts live in `fonts`, which the page keeps.
void ApplyPageHeader(CDialog& page, PageHeaderFonts& fonts, const char16_t* key);

// Makes list `listId` (1027 unless given) of the page a check-box list with the disk list images, with the first `columns` of the columns "IDS_LogList1" (130
// pixels), "IDS_ModelPartition" (180), "IDS_totalsize1" (80, right) and
// "IDS_UsedSpace" (80, right). Null when the page has no such list.
CListCtrl* PrepareDiskList(CDialog& page, int columns, int listId = 1027);

enum class CheckBoxChange { None, Ticking, Unticking };
// What a list change notification does to the row's check box.
CheckBoxChange CheckBoxChangeOf(const NMHDR* header);
// Clears the check box of every row but `row`.
void UntickOtherRows(CListCtrl& list, int row);

// "Disk N " (the text of IDS_Drive, the physical number and a blank): column 0
// of a disk row.
CString DiskRowText(int32_t physical);
// Column 0 of a list row as the head of a selection text: its trailing
// blanks and colon dropped, then ": " ("Disk 0 " and "Disk 0:" both give
// "Disk 0: ").
CString RowHeading(const CListCtrl& list, int row);

// Rebuilds the disk and letter tables and fills `list` with one row per
// listed disk that has a model text (image 0: "Disk N ", model, size, used
// space of its lettered partitions) and one per partition (image 1:
// "  Partition", details, length, used space of a lettered one), and the
// DiskListRows entry of every row; the tables hold 26 rows, so the list
// stops there. Column 1 of a lettered partition is `letteredDetails`; of one
// without a letter the text of IDS_SpecialPertition and its type name.
// Returns the row count. The caller empties the list first.
struct DiskListFill {
  bool letteredOnly = false;    // partitions without a drive letter get no row
  bool diskUsedColumn = true;   // disk rows show their lettered partitions' used total
  bool everyDisk = false;       // a disk without a model text is listed too (its model column stays empty)
  // A lettered partition whose volume holds no file system the system mounts
  // (its table entry written, the format never run) says "(X:)  " and
  // IDS_Unformatted in column 1 and shows no used space.
  bool markUnformatted = false;
};
int FillDiskListRows(CListCtrl& list, CString (*letteredDetails)(WCHAR letter, const PartitionEntry& partition),
                     const DiskListFill& fill = {});

// "(C:)  " and the partition's type name: column 1 of a lettered partition row.
CString TypeDetails(WCHAR letter, const PartitionEntry& partition);
