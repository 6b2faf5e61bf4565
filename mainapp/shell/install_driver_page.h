// The RAID driver page (dialog 218, WinPE menu): the user picks a driver
// information file (.inf) of a storage controller and loads it into the
// running WinPE with drvload.exe.
#pragma once

#include "platform/core/cstring.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "resources/menu_commands.h"

// Full path and file name of the last chosen driver file (empty at start);
// the disk viewer's driver load reads them too.
extern CString driverInfPath;
extern CString driverInfName;
// The WinPE program that loads a driver, with the blank before its argument.
inline constexpr const char16_t* kDriverLoader = u"X:\\windows\\system32\\drvload.exe ";

class CInstallDriver : public CDialog {
 public:
  static constexpr UINT IDD = 218;
  // The menu icon of the command that opens the page.
  static constexpr UINT kPageIcon = shell::kCmdDriverInstallation;
  static constexpr int kTitle = 1003;
  static constexpr int kSubtitle = 1004;
  static constexpr int kInstruction = 1051;
  static constexpr int kPathField = 1144;
  static constexpr int kBrowseButton = 1143;
  static constexpr int kInstallButton = 1145;

  explicit CInstallDriver(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnInstallDriver();
  void OnBrowseDriver();
  void OnClose() { EndDialog(IDCANCEL); }

 private:
  HICON icon_ = nullptr;
  CFont title_font_;
  CFont text_font_;
  DECLARE_MESSAGE_MAP()
};
