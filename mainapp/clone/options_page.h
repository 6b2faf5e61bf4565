// The third page of the clone wizard (dialog 136): a bad-sector scan of the
// destination before copying, a verify pass after copying, and a hidden
// change-SID box, kept in CloneSettings. Next opens the clone page; Back the
// destination page.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/dialog.h"

class COption : public CDialog {
 public:
  static constexpr UINT IDD = 136;
  static constexpr int kGroup = 1015;
  static constexpr int kScan = 1030;
  static constexpr int kChangeSid = 1031;
  static constexpr int kVerify = 1032;
  static constexpr int kBack = 4;
  static constexpr int kNext = 1007;

  explicit COption(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnNext();
  void OnBack();
  void OnHeaderFocus();

 private:
  PageHeaderFonts fonts_;
  DECLARE_MESSAGE_MAP()
};

// Runs the options page modally over `parent`.
INT_PTR RunOptionsPage(CWnd* parent);
