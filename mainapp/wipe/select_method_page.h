// The second page of the secure deletion (dialog 141): the four overwrite
// methods in a check-box list with a short description each; the ticked one
// (SelectedWipeMethod) shows its long description and enables Next, which
// opens the progress page. Back reopens the target page.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

class CSelectDeleteMethod : public CDialog {
 public:
  static constexpr UINT IDD = 141;
  static constexpr int kList = 1027;
  static constexpr int kDescription = 1053;
  static constexpr int kNext = 1007;
  static constexpr int kBack = 4;

  explicit CSelectDeleteMethod(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnNext();
  void OnBack();
  void OnListItemChanged(NMHDR* header, LRESULT* result);

 private:
  CListCtrl* List();
  void ShowMethod();
  PageHeaderFonts fonts_;
  bool ready_ = false;
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};
