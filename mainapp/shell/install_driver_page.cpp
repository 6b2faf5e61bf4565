#include "mainapp/shell/install_driver_page.h"

#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

CString driverInfPath;
CString driverInfName;

BEGIN_MESSAGE_MAP(CInstallDriver, CDialog)
  ON_BN_CLICKED(kInstallButton, &CInstallDriver::OnInstallDriver)
  ON_BN_CLICKED(IDCANCEL, &CInstallDriver::OnClose)
  ON_BN_CLICKED(kBrowseButton, &CInstallDriver::OnBrowseDriver)
END_MESSAGE_MAP()

CInstallDriver::CInstallDriver(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CInstallDriver::OnInitDialog() {
  CDialog::OnInitDialog();
  icon_ = LoadIconW(AfxGetInstanceHandle(), reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(kPageIcon)));
  SetIcon(icon_, TRUE);
  SetIcon(icon_, FALSE);
  if (CWnd* install = GetDlgItem(kInstallButton)) install->EnableWindow(FALSE);
  const int title_height = ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0);
  title_font_.CreateFont(title_height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  text_font_.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = GetDlgItem(kTitle)) title->SetFont(&title_font_, TRUE);
  if (CWnd* subtitle = GetDlgItem(kSubtitle)) subtitle->SetFont(&text_font_, TRUE);
  const CString caption = LookupString(u"IDS_InstallDrvCAP");
  SetWindowText(caption);
  SetDlgItemText(kTitle, caption);
  SetDlgItemText(kSubtitle, LookupString(u"IDS_InstallDrvH1"));
  SetDlgItemText(kInstruction, LookupString(u"IDS_InstallDrvDesc"));
  SetDlgItemText(kBrowseButton, LookupString(u"IDS_Browse"));
  SetDlgItemText(kInstallButton, LookupString(u"IDS_InstallDrv"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_Cancel"));
  return TRUE;
}

void CInstallDriver::OnBrowseDriver() {
  CFileDialog picker(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, u"Driver Files (*.inf)|*.inf|", nullptr);
  if (picker.DoModal() == IDOK) {
    driverInfPath = picker.GetPathName();
    driverInfName = picker.GetFileName();
  } else {
    driverInfPath = CString();
    driverInfName = CString();
  }
  SetDlgItemText(kPathField, driverInfPath);
  // Exactly a lower-case "inf" ending enables the install; nothing disables it.
  const int length = driverInfPath.GetLength();
  if (length >= 3 && driverInfPath.Mid(length - 3) == CString(u"inf")) {
    if (CWnd* install = GetDlgItem(kInstallButton)) install->EnableWindow(TRUE);
  }
}

void CInstallDriver::OnInstallDriver() {
  if (RunProcessAndWait(kDriverLoader, driverInfPath)) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_RAIDDriverLoadSuccess"), ShellState.messageCaption, MB_OK);
    EndDialog(IDOK);
  } else {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_RAIDDriverLoadFail"), ShellState.messageCaption, MB_OK);
  }
}
