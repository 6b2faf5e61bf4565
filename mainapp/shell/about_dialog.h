// The About box (dialog 100): the product name with the program file's
// version and a second line. Only its OK button closes it: Escape, the close
// box and the other commands of the box are ignored.
#pragma once

#include "mainapp/shell/bitmap_dialog.h"

class CAboutDlg : public CBDialog {
 public:
  static constexpr UINT IDD = 100;
  static constexpr UINT kIcon = 142;
  static constexpr int kVersionLine = 1002;
  static constexpr int kSecondLine = 1013;

  CAboutDlg();
  BOOL OnInitDialog() override;
  void OnCancel() override;
  void OnIgnored() {}

 private:
  HICON icon_ = nullptr;
  DECLARE_MESSAGE_MAP()
};
