// The first page of the secure deletion (dialog 149): every disk and its
// partitions in a check-box list; the user ticks one disk (its partitions
// follow its tick) or one partition, may look at its sectors, and goes on
// to the method page. The ticked row is CloneSettings.checkedRow (-1 none),
// the ticked partition's letter CloneSettings.sourceLetter. The boot
// medium's rows cannot be ticked, nor outside WinPE the running system's.
#pragma once

#include <cstdint>

#include "mainapp/shell/duplicate_page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CSelectDisk : public CDialog {
 public:
  static constexpr UINT IDD = 149;
  static constexpr int kList = 1027;
  static constexpr int kView = 1028;
  static constexpr int kRunExplorer = 1179;
  static constexpr int kNext = 1007;
  static constexpr int kBack = 4;

  explicit CSelectDisk(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnNext();
  void OnView();
  void OnRunExplorer();
  void OnListItemChanging(NMHDR* header, LRESULT* result);
  void OnListItemChanged(NMHDR* header, LRESULT* result);

 private:
  CListCtrl* List();
  void EnableNext();
  DuplicateHeaderFonts fonts_;
  bool ready_ = false;
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};

// How a disk list page lists the disks.
struct DiskListStyle {
  bool markSystem = true;         // the system disk's rows get the disabled images
  bool markBootMedium = true;     // so do the boot medium's (DiskContext.markedBootDisk)
  bool letteredOnly = false;      // partitions without a drive letter get no row
  bool diskUsedColumn = true;     // disk rows show their partitions' used total
};

// Fills `list` as the clone's lists are filled (FillDiskListRows: one row
// per listed disk and one per partition, recorded in DiskListRows, at most
// the 26 rows the tables hold, the disk and letter tables refreshed first),
// then finds the system disk and, with `markSystem`, gives its rows the
// disabled images; with `markBootMedium` the boot medium's rows get them too.
void FillDeletionDiskList(CListCtrl& list, const DiskListStyle& style);

// Copies the ticked row of `list` (or `forcedRow`) into DiskSelection: a disk
// row gives the whole disk, a partition row its letter, file-system name,
// start and count, all in native sectors of its disk. Returns true when a row
// was taken.
bool GetDeletionListSelection(const CListCtrl& list, int32_t forcedRow);

// Leaves `row` the only ticked row, and a disk row's partition rows with its
// tick state.
void ApplyRowTick(CListCtrl& list, int row, bool ticked);

// One check-box change of a list row made by the user: `checkedRow` becomes
// the row (or -1 when unticked) and the ticks follow (ApplyRowTick). The
// row, or -1 when the change was no tick of a listed row.
int TakeRowTick(CListCtrl& list, const NMHDR* header, int32_t& checkedRow);

// The physical disk of a list row (through its disk row), -1 when none.
int32_t PhysicalDiskOfRow(int row);
// Whether a row (disk or partition) lies on the boot medium, whose rows
// cannot be ticked.
bool IsBootMediumRow(int row);
