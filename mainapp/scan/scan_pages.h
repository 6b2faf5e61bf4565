// The stand-alone bad-sector scan, a chain of three modal pages: the target
// page CScanNewDiskPartition (dialog 154), where the user ticks one disk or
// one lettered partition; the clone's scan page CBadSectorScanSummary
// (dialog 155), which reads it; and the result page CScanSummary (dialog
// 193). The main dialog's kCmdScan opens the target page.
#pragma once

#include <cstdint>

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "resources/menu_commands.h"

class CScanNewDiskPartition : public CDialog {
 public:
  static constexpr UINT IDD = 154;
  static constexpr UINT kPageIcon = shell::kCmdScan;  // its command's menu icon
  static constexpr int kList = 1028;
  static constexpr int kNext = 1039;
  static constexpr int kBack = 4;
  static constexpr int kRunExplorer = 1179;

  explicit CScanNewDiskPartition(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnNext();
  void OnRunExplorer();
  // A tick on a row of the boot medium is refused.
  void OnItemChanging(NMHDR* header, LRESULT* result);
  void OnItemChanged(NMHDR* header, LRESULT* result);
  void OnFocusHeading();

 private:
  CListCtrl* List();
  HICON icon_ = nullptr;
  PageHeaderFonts fonts_;
  bool ready_ = false;
  bool own_change_ = true;
  DECLARE_MESSAGE_MAP()
};

class CScanSummary : public CDialog {
 public:
  static constexpr UINT IDD = 193;
  static constexpr UINT kPageIcon = shell::kCmdScan;  // its command's menu icon
  static constexpr int kScanned = 1020;
  static constexpr int kResult = 1114;
  static constexpr int kSize = 1032;
  static constexpr int kTime = 1022;

  explicit CScanSummary(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnFinish();
  void OnFocusHeading();

 private:
  HICON icon_ = nullptr;
  PageHeaderFonts fonts_;
  DECLARE_MESSAGE_MAP()
};

// The ticked row of the scan target list: its letter for Run Explorer
// (upper case; -1 for a disk row or nothing ticked) and its description.
extern int32_t ScanExplorerLetter;
extern CString ScanListSelectionText;

// Registers kCmdScan and hands the scan page its neighbours (Back to
// the target page, the result page after a stand-alone scan).
void RegisterScanCommands();
