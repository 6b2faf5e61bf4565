#include "mainapp/shell/about_dialog.h"

#include "mainapp/shell/program_version.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CBDialog)
  ON_COMMAND(CAboutDlg::kSecondLine, &CAboutDlg::OnIgnored)
  ON_COMMAND(1079, &CAboutDlg::OnIgnored)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CBDialog(IDD, nullptr) {
  icon_ = LoadIconW(AfxGetInstanceHandle(), reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(kIcon)));
}

BOOL CAboutDlg::OnInitDialog() {
  CBDialog::OnInitDialog();
  programVersion = GetProgramFileVersion();
  SetWindowText(LookupString(u"IDS_AboutHeading"));
  // The product text ends with a character and a point ("... Version ."):
  // both are left out before the version.
  const CString about = LookupString(u"IDS_About1");
  const int point = about.Find(u'.');
  CString line = point > 0 ? about.Left(point - 1) : CString();
  line += u"  ";
  line += programVersion;
  SetDlgItemText(kVersionLine, line);
  SetDlgItemText(kSecondLine, LookupString(u"IDS_About2"));
  SetDlgItemText(IDOK, u"&OK");
  return TRUE;
}

// Escape and the close box send Cancel: the box stays open.
void CAboutDlg::OnCancel() {}
