// The second quick duplicate page (dialog 247): the user ticks the
// destination disk. Every listed disk with a model text has a row; the
// source's row (DiskContext.systemDisk, a listed index) carries the source
// mark and cannot be ticked. The ticked disk's listed index is kept in
// DiskContext.destinationDisk; Cancel leaves it -1. A destination
// remembered from before is ticked again when the page opens, unless it is
// the source. Next is enabled only while a destination is ticked.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CDuplicateDest : public CDialog {
 public:
  static constexpr UINT IDD = 247;
  static constexpr int kList = 1027;
  static constexpr int kNext = 1079;
  static constexpr int kDescription = 1163;
  static constexpr int kChosen = 1062;

  explicit CDuplicateDest(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  // Enter does what Next does; Cancel and Escape leave no destination.
  void OnOK() override;
  void OnCancel() override;
  void OnNext();
  void OnListItemChanging(NMHDR* header, LRESULT* result);

 private:
  CListCtrl* List();
  PageHeaderFonts fonts_;
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};
