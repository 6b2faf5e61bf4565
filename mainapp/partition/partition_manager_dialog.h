// The partition manager (dialog 233, "Partition Manager"): every disk with its
// lettered partitions in a list, the selected disk drawn as a bar of segments
// (partitions and free space) below it, and on a right-click on the bar or a
// list row a context menu (menu 215) to create a partition or a logical
// drive, format, delete, resize, or show properties. The commands run the
// create wizard or the resize, format and properties dialogs, then the table
// edits, then wait until the new layout shows. A device arrival or removal
// refreshes the list and the bar.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "mainapp/partition/page_header.h"
#include "mainapp/records/disk_bars.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"

class CCreatePart1 : public CDialog {
 public:
  static constexpr UINT IDD = 233;
  static constexpr int kList = 1027;
  static constexpr int kBarFrame = 1064;
  static constexpr int kRunExplorer = 1179;
  // Commands of menu 215.
  static constexpr UINT kNewLogicalDrive = 32785;
  static constexpr UINT kNewPartition = 32779;
  static constexpr UINT kFormat = 32782;
  static constexpr UINT kDelete = 32780;
  static constexpr UINT kResize = 32781;
  static constexpr UINT kProperties = 32783;

  explicit CCreatePart1(CWnd* parent = nullptr);
  ~CCreatePart1() override = default;
  BOOL OnInitDialog() override;

  // Rebuilds the disk and partition rows (with `refresh`, the old rows are removed first).
  void FillPartitionList(bool refresh);
  // Index of the map item under the client point, -1 when none.
  int HitTestDiskBar(CPoint point) const;
  // The bar's area in client coordinates.
  const CRect& BarRect() const { return bar_; }
  // A point in the middle of map item `item`'s block, relative to the bar.
  CPoint ItemPoint(int item) const;
  // How the bar is drawn: the manager's fonts, the cursor item outlined in
  // yellow, the item being formatted in red, a partition without a file
  // system labelled unformatted as the list names it.
  static DiskBarStyle BarStyle();

  virtual void OnNewPartition();
  virtual void OnNewLogicalDrive();
  virtual void OnDeletePartition();
  virtual void OnResizePartition();
  virtual void OnFormatPartition();
  virtual void OnProperties();
  // Polls (20 x 500 ms) until the disk shows the change of `mode` (0 creation,
  // 1 removal, 2 resize), formats a new partition when a format option was
  // chosen, and refills the list. False when the change did not show.
  bool WaitForLayoutChange(int mode);

 protected:
  void OnPaint();
  void OnLButtonDown(UINT flags, CPoint point);
  void OnRButtonDown(UINT flags, CPoint point);
  BOOL OnDeviceChange(UINT event, DWORD_PTR data);
  void OnListItemChanging(NMHDR* header, LRESULT* result);
  void OnListRightClick(NMHDR* header, LRESULT* result);
  void OnListQuiet(NMHDR* header, LRESULT* result);
  void OnRunExplorer();
  void OnHeaderFocus();

 protected:
  // The earlier single-page form of the manager (dialog 213) shares the list and the bar.
  CCreatePart1(UINT idd, CWnd* parent);
  CListCtrl* List();
  void SelectRow(int row, bool fromList);
  void RebuildMap();
  void SelectRowOfItem();
  void ShowItemDetails(int item);
  void RedrawBar();
  void RunMenu(CMenu& popup, CPoint screen);
  void ShowMessage(const char16_t* key, UINT flags = MB_OK);
  // The x position and width of every map item as drawn.
  void ItemSpans(int* left, int* width) const;

  CRect bar_;
  PartitionPageHeader header_;
  bool initialised_ = false;
  DECLARE_MESSAGE_MAP()
};

// Registers kCmdPartitionManager (the partition manager) in the main dialog's command table.
void RegisterPartitionCommands();
