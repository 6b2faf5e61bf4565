// The bad-sector scan page (dialog 155): shows the scan of ScanTarget with
// the sector being read, elapsed and remaining time, a progress bar and the
// list of failing sectors. Before a clone it runs in automatic mode
// (ScanState.scanAutomatic): it starts by itself once shown, shows no
// message and closes when the scan ends; the clone then reads
// ScanState.scanCancelled. Stand-alone, the user presses Start, and the page
// hands over to the scan pages' summary when it is done.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "resources/menu_commands.h"

// The stand-alone scan flow's pages, set by the scan pages: the summary shown
// after a finished scan, and the target page Back returns to. Null: the page
// only closes.
extern void (*RunScanSummaryPage)();
extern void (*RunScanTargetPage)();

class CBadSectorScanSummary : public CDialog {
 public:
  static constexpr UINT IDD = 155;
  static constexpr UINT kPageIcon = shell::kCmdScan;  // its command's menu icon
  static constexpr UINT kTimerId = 1224;
  static constexpr int kTitle = 1003;
  static constexpr int kSubtitle = 1004;
  static constexpr int kFrame = 1001;
  static constexpr int kScanningLabel = 1041;
  static constexpr int kTargetText = 1080;
  static constexpr int kSectorLabel = 1044;
  static constexpr int kProgressBar = 1025;
  static constexpr int kRemainingLabel = 1082;
  static constexpr int kElapsedLabel = 1083;
  static constexpr int kShowErrors = 1030;
  static constexpr int kErrorList = 1028;
  static constexpr int kStartButton = 1011;
  static constexpr int kBackButton = 4;
  static constexpr int kCancelButton = 1026;

  explicit CBadSectorScanSummary(CWnd* parent = nullptr);
  ~CBadSectorScanSummary() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnStart();
  void OnScanCancel();
  void OnBack();
  void OnShowErrors();
  void OnTimer(UINT_PTR id);

 private:
  void EnableStartAndBack(BOOL enable);
  CProgressCtrl progress_;
  HICON icon_ = nullptr;
  CFont title_font_;
  CFont text_font_;
  DECLARE_MESSAGE_MAP()
};
