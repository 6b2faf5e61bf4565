// Pellimor's wizard: the welcome page (dialog 102) with its About box (100),
// the destination page CThird (140) and the confirmation page CConfirm1
// (175), which runs the write sequence. Each page's Next or Back ends the
// page and runs its neighbour modally; every path ends the process.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "program_support/window_position.h"
#include "usbwriter/usb_write.h"

class CPellimorApp : public CWinApp {
 public:
  CPellimorApp();
  BOOL InitInstance() override;
};

class CPellimorDlg : public CDialog {
 public:
  static constexpr UINT IDD = 102;
  static constexpr UINT kAboutCommand = 16;
  explicit CPellimorDlg(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnNext();
  void OnCancel() override;
  void OnHelp();
  void OnTextFocus();
  void OnSysCommand(UINT id, LPARAM lparam);

 private:
  CFont titleFont_, textFont_;
  DECLARE_MESSAGE_MAP()
};

namespace pellimor {
class CAboutDlg : public CDialog {
 public:
  static constexpr UINT IDD = 100;
  CAboutDlg();
  BOOL OnInitDialog() override;
};
}  // namespace pellimor

// The program icon (128) as the page's big and small icon.
void SetPageIcon(CWnd* page);
// The heading lines of a page: 1357 bold, 1359 normal (both 15 high).
void SetHeadingFonts(CWnd* page, CFont* title, CFont* text);

// The text of a combo row of the USB disk list.
CString UsbDiskRowText(int disk);

class CThird : public CDialog {
 public:
  static constexpr UINT IDD = 140;
  static constexpr int kUsbCombo = 1029;
  static constexpr int kFileSystemCombo = 1030;
  explicit CThird(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void FillUsbDiskList();
  void OnSelectDisk();
  void OnOK() override;
  void OnBack();
  void OnCancel() override;
  BOOL OnDeviceChange(UINT event, DWORD_PTR data);
  void OnWindowPosChanged(WINDOWPOS* position);

 private:
  bool initialised_ = false;
  CComboBox disks_, fileSystems_;
  CFont titleFont_, textFont_;
  WindowPosition position_;
  DECLARE_MESSAGE_MAP()
};

// Rows of the USB combo after the first: the disk numbers.
struct UsbComboMapRecord {
  int count = 0;
  int disks[16] = {};
};
extern UsbComboMapRecord UsbComboMap;
extern CString SelectedDriveText;

class CConfirm1 : public CDialog, public UsbWriteHost {
 public:
  static constexpr UINT IDD = 175;
  static constexpr int kStart = 4;
  static constexpr int kBack = 1004;
  static constexpr int kProgress = 1018;
  static constexpr int kSetupText = 1418;
  static constexpr int kLog = 1397;
  explicit CConfirm1(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnStartBurning();
  void OnCancelButton();
  void OnBack();
  void OnCancel() override { OnCancelButton(); }
  void OnTextFocus();

  // UsbWriteHost
  void UpdateProgress(int64_t position) override;
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return cancelRequested_; }
  void SetProgressRange(int64_t maximum) override;
  void ShowFormatBusy(bool busy) override;
  void AppendLog(LPCWSTR text) override;
  HWND PageWindow() const override { return GetSafeHwnd(); }

 private:
  CString log_;
  bool cancelRequested_ = false;
  bool burningActive_ = false;
  int64_t position_ = 0;
  int64_t range_ = 0;
  DWORD startTick_ = 0;
  DWORD pauseSpan_ = 0;
  CProgressCtrl progress_;
  CFont titleFont_, textFont_;
  DECLARE_MESSAGE_MAP()
};
