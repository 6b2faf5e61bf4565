// CSplashDlg: the start-up splash (dialog 176 over the tiled bitmap 1205),
// made modeless by the start-up sequence, shown top-most, then destroyed.
#pragma once

#include "mainapp/shell/custom_dialog.h"

class CSplashDlg : public CCustomDialog {
 public:
  static constexpr UINT kTemplateId = 176;
  static constexpr UINT kBackgroundBitmap = 1205;

  explicit CSplashDlg(CWnd* parent = nullptr);
  ~CSplashDlg() override;

  BOOL OnInitDialog() override;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  DECLARE_MESSAGE_MAP()
};
