// The disk and partition viewer page (dialog 153): the disks and their
// lettered partitions in a check-box list; View opens the sector viewer on
// the ticked row. Any row can be ticked, the system disk's too (it only
// reads). The ticked row is ViewerCheckedRow (-1 none).
//
// Two buttons that are never shown (1000 File Dialog, 1005 Load Driver) choose
// a storage driver's .inf file and load it under WinPE with drvload.exe; the
// chosen file is the one the shell's RAID driver page keeps.
#pragma once

#include <cstdint>

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

extern int32_t ViewerCheckedRow;

class CViewDiskPartition : public CDialog {
 public:
  static constexpr UINT IDD = 153;
  static constexpr int kList = 1028;
  static constexpr int kView = 1027;
  static constexpr int kBack = 4;
  static constexpr int kFileDialog = 1000;
  static constexpr int kLoadDriver = 1005;

  explicit CViewDiskPartition(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override { OnView(); }
  void OnView();
  void OnListItemChanged(NMHDR* header, LRESULT* result);
  void OnChooseDriver();
  void OnLoadDriver();

 private:
  CListCtrl* List();
  PageHeaderFonts fonts_;
  bool ready_ = false;
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};
