// The first quick duplicate page (dialog 246): the user ticks the source
// disk in a list of disks and their partitions. Only disk rows can be
// ticked, and at most one at a time; the ticked disk's listed index is kept
// in DiskContext.systemDisk (-1 while none is ticked), which the next pages
// read. Next is enabled only while a source is ticked.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CDuplicateSrc : public CDialog {
 public:
  static constexpr UINT IDD = 246;
  static constexpr int kList = 1027;
  static constexpr int kNext = 1079;
  static constexpr int kDescription = 1163;

  explicit CDuplicateSrc(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  // Enter does what Next does.
  void OnOK() override;
  void OnNext();
  void OnListItemChanging(NMHDR* header, LRESULT* result);

 private:
  CListCtrl* List();
  void FillList();
  PageHeaderFonts fonts_;
  // Set while the page changes check boxes itself (filling, unticking the
  // other rows): those changes pass without the tick rules.
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};
