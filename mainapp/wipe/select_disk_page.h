// The first page of the secure deletion (dialog 149): every disk and its
// partitions in a check-box list; the user ticks one disk (its partitions
// follow its tick) or one partition, may look at its sectors, and goes on
// to the method page. The ticked row is CloneSettings.checkedRow (-1 none),
// the ticked partition's letter CloneSettings.sourceLetter. The boot
// medium's rows cannot be ticked, nor outside WinPE the running system's.
#pragma once

#include <cstdint>

#include "mainapp/page_parts/disk_list_ticks.h"
#include "mainapp/page_parts/page_parts.h"
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
  PageHeaderFonts fonts_;
  bool ready_ = false;
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};
