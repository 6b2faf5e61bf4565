#include "mainapp/clone/options_page.h"

#include "mainapp/clone/source_page.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/clone_page_hook.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"

BEGIN_MESSAGE_MAP(COption, CDialog)
  ON_EN_SETFOCUS(1003, &COption::OnHeaderFocus)
  ON_EN_SETFOCUS(1004, &COption::OnHeaderFocus)
  ON_BN_CLICKED(COption::kNext, &COption::OnNext)
  ON_BN_CLICKED(COption::kBack, &COption::OnBack)
END_MESSAGE_MAP()

COption::COption(CWnd* parent) : CDialog(IDD, parent) {}

BOOL COption::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPageHeader(*this, fonts_, u"IDS_MOptionCap");
  static const std::pair<int, const char16_t*> kTexts[] = {
      {1003, u"IDS_MOptionH1"}, {1004, u"IDS_MOptionH2"},    {kGroup, u"IDS_optionsetting"},
      {kScan, u"IDS_RunBS"},    {1120, u"IDS_BADSECTORDESC"}, {kVerify, u"IDS_VERIFY"},
      {1119, u"IDS_VERIFYDESC"}, {1016, u"IDS_optionsetting"}, {kChangeSid, u"IDS_RunSID"},
      {kBack, u"IDS_Back"},     {kNext, u"IDS_Next"},         {IDCANCEL, u"IDS_Cancel"},
  };
  for (auto [id, key] : kTexts) SetDlgItemText(id, LookupString(key));
  CheckDlgButton(kChangeSid, CloneSettings.changeSid ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kScan, CloneSettings.badSectorScan ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kVerify, CloneSettings.verifyAfterCopy ? BST_CHECKED : BST_UNCHECKED);
  return TRUE;
}

// The page has no group box 1001: the header texts pass the focus to the
// options group instead.
void COption::OnHeaderFocus() {
  if (CWnd* group = GetDlgItem(kGroup)) group->SetFocus();
}

void COption::OnNext() {
  CloneSettings.changeSid = IsDlgButtonChecked(kChangeSid) == BST_CHECKED ? 1 : 0;
  CloneSettings.badSectorScan = IsDlgButtonChecked(kScan) == BST_CHECKED ? 1 : 0;
  CloneSettings.verifyAfterCopy = IsDlgButtonChecked(kVerify) == BST_CHECKED ? 1 : 0;
  CWnd* parent = GetParent();
  EndDialog(IDOK);
  if (RunClonePage) RunClonePage(parent);
}

void COption::OnOK() { OnNext(); }

void COption::OnBack() {
  CWnd* parent = GetParent();
  EndDialog(IDCANCEL);
  if (RunDestinationPage) RunDestinationPage(parent);
}

INT_PTR RunOptionsPage(CWnd* parent) {
  COption page(parent);
  return page.DoModal();
}
