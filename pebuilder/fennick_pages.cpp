#include "pebuilder/fennick_pages.h"

#include <optional>
#include <vector>

#include "pebuilder/build_scripts.h"
#include "pebuilder/fennick_chain.h"
#include "pebuilder/fennick_support.h"
#include "pebuilder/kit_page.h"
#include "platform/core/clock.h"
#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/process/sync.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/message_pump.h"
#include "program_support/record_file.h"
#include "program_support/settings_record.h"

bool AgreementAccepted = false;
bool BuildStarted = false;
bool IsoReady = false;
CSelectIso* KitPage = nullptr;

namespace {

constexpr const char16_t* kInstanceMutex = u"Local\\{371A4C21-B578-4180-8FF1-99EFB86CF281}";
constexpr int kAgreementBytes = 40960;
// Attempts at moving an old working folder aside before start-up goes on.
constexpr int kMaxMoveAttempts = 1000;

HANDLE InstanceMutex = nullptr;
DWORD InstanceMutexError = 0;

CCreateIso* BuildPage = nullptr;

void MoveOldWorkFolder() {
  if (FindFileOrFolder(kWorkFolder).IsEmpty()) return;
  const CString old = CString(kWorkFolder) + u"_old";
  if (MoveFileW(kWorkFolder, old)) return;
  for (int n = 1; n <= kMaxMoveAttempts; ++n)
    if (MoveFileW(kWorkFolder, old + u"(" + Int64ToText(n) + u")")) return;
}

// Field 4 of the settings record, or ends the process when the record is missing.
CString ReadSettingsLanguage() {
  const std::optional<std::vector<uint8_t>> bytes =
      ReadRecordFile(ProgramFolder + u"\\Resources\\inf.dll", shell::kSettingsRecordSize);
  if (!bytes) {
    MessageBoxW(nullptr, u"INF.Dll File not found. Aborting...", ProductCaption, MB_OK);
    ExitProcess(0);
  }
  return CString(shell::DecodeSettingsRecord(*bytes).language.c_str());
}

}  // namespace

void RunFennickPage(FennickPage page) {
  switch (page) {
    case FennickPage::kAgreement: {
      CLicense agreement(nullptr);
      agreement.DoModal();
      break;
    }
    case FennickPage::kKit: {
      CSelectIso kit(nullptr);
      CSelectIso* previous = KitPage;
      KitPage = &kit;
      kit.DoModal();
      KitPage = previous;
      break;
    }
    case FennickPage::kBuild: {
      CCreateIso build(nullptr);
      build.DoModal();
      break;
    }
    case FennickPage::kFinal: {
      CMsgBox1 last(nullptr);
      last.DoModal();
      break;
    }
  }
}

void EndFennick() { ExitProcess(0); }

// ---- application ----

CFennickApp::CFennickApp() : CWinApp(u"Fennick") {}

BOOL CFennickApp::InitInstance() {
  // The instance guard is made first; its handle lives as long as the process.
  if (!InstanceMutex) {
    InstanceMutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    InstanceMutexError = GetLastError();
  }
  ReadVersionFileDescription();
  ProgramFolder = FolderOfPath(CString(m_pszHelpFilePath ? m_pszHelpFilePath : u""));
  MoveOldWorkFolder();
  UiLanguage = ReadSettingsLanguage();
  LoadLanguageTable();
  if (InstanceMutexError == ERROR_ALREADY_EXISTS) {
    CString line = m_lpCmdLine ? CString(m_lpCmdLine) : CString();
    line.MakeUpper();
    if (line != u"/B ONECLICK") return FALSE;
  }
  InitCommonControls();
  CWinApp::InitInstance();
  AfxEnableControlContainer();
  AfxInitRichEdit();
  WCHAR windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  WinPeMode = CString(windows).Left(2).CompareNoCase(u"X:") == 0;
  ProductCaption = LookupText(u"IDS_PRODNAME");
  RunAgreementPage();
  PageTextHeight = 17;
  SubtitleHeight = 15;
  RunAgreementPage();
  return FALSE;
}

bool RunAgreementPage() {
  LoadFaceBitmaps();
  PageTextHeight = 17;
  SubtitleHeight = 15;
  RunFennickPage(FennickPage::kAgreement);
  return true;
}

// ---- agreement page ----

BEGIN_MESSAGE_MAP(CLicense, CFennickPage)
  ON_BN_CLICKED(1011, &CLicense::OnAccept)
  ON_BN_CLICKED(1012, &CLicense::OnDecline)
  ON_BN_CLICKED(1003, &CLicense::OnBack)
  ON_BN_CLICKED(1004, &CLicense::OnNext)
  ON_BN_CLICKED(1005, &CLicense::OnCancelButton)
END_MESSAGE_MAP()

CLicense::CLicense(CWnd* parent) : CFennickPage(IDD, parent) {
  SetOwnerDrawn({1003, 1004, 1005});
  SetTransparent({226, 1011, 1012, 1025, 1033, 1177, 1178, 1535});
}

void CLicense::DoDataExchange(CDataExchange* dx) {
  CFennickPage::DoDataExchange(dx);
  BindHoverButtons(dx, {1003, 1004, 1005});
}

BOOL CLicense::OnInitDialog() {
  CFennickPage::OnInitDialog();
  SetUpFrame(LookupText(u"IDS_LICAGR"));
  SetDlgItemText(226, LookupText(u"IDS_LICPLZ"));
  SetDlgItemText(1003, LookupText(u"IDS_Back"));
  SetDlgItemText(1004, LookupText(u"IDS_Next"));
  SetDlgItemText(1005, LookupText(u"IDS_Cancel"));
  if (CWnd* back = GetDlgItem(1003)) back->SetFocus();
  EnableControl(1004, AgreementAccepted);
  CheckDlgButton(1011, AgreementAccepted ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(1012, AgreementAccepted ? BST_UNCHECKED : BST_CHECKED);
  SetDlgItemText(1011, LookupText(u"IDS_LICOK"));
  SetDlgItemText(1012, LookupText(u"IDS_LICNO"));
  SetDlgItemText(1033, LookupText(u"IDS_WELCOMETEXT"));
  const CString name = UiLanguage == u"Japanese" ? u"\\Resources\\license_JPN.txt" : u"\\Resources\\license.txt";
  HANDLE file = CreateFileW(ProgramFolder + name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    EndDialog(IDCANCEL);
    return FALSE;
  }
  std::vector<uint8_t> bytes(kAgreementBytes, 0);
  DWORD got = 0;
  if (!ReadFile(file, bytes.data(), kAgreementBytes, &got, nullptr)) got = 0;
  CloseHandle(file);
  std::u16string text;
  for (DWORD i = 0; i + 1 < got; i += 2) text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  if (!text.empty() && text[0] == 0xFEFF) SetDlgItemText(1013, CString(text.c_str()));
  CenterWindow();
  return FALSE;
}

void CLicense::OnAccept() {
  EnableControl(1004, true);
  if (CWnd* next = GetDlgItem(1004)) next->SetFocus();
  AgreementAccepted = true;
}

void CLicense::OnDecline() {
  AgreementAccepted = false;
  EnableControl(1004, FALSE);
}

void CLicense::OnNext() {
  // Only an accepted agreement leads on, whether by the button or by Enter.
  if (!AgreementAccepted) return;
  EndDialog(IDCANCEL);
  RunFennickPage(FennickPage::kKit);
}

void CLicense::OnBack() {
  AgreementAccepted = false;
  EndDialog(IDCANCEL);
}

void CLicense::OnCancelButton() {
  if (MessageBoxW(GetSafeHwnd(), LookupText(u"IDS_PROGEXIT"), ProductCaption, MB_YESNO | MB_ICONQUESTION) == IDNO)
    return;
  EndFennick();
}

BOOL CLicense::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
    OnNext();
    return TRUE;
  }
  return CFennickPage::PreTranslateMessage(msg);
}

// ---- build page ----

BEGIN_MESSAGE_MAP(CCreateIso, CFennickPage)
  ON_BN_CLICKED(1003, &CCreateIso::OnBack)
  ON_BN_CLICKED(1640, &CCreateIso::OnStart)
  ON_BN_CLICKED(1005, &CCreateIso::OnCancelButton)
  ON_BN_CLICKED(1653, &CCreateIso::OnSkip)
  ON_BN_CLICKED(1004, &CCreateIso::OnNextAction)
END_MESSAGE_MAP()

CCreateIso::CCreateIso(CWnd* parent) : CFennickPage(IDD, parent) {
  SetOwnerDrawn({1003, 1005, 1640, 1653});
  SetTransparent({226, 1011, 1012, 1018, 1025, 1033, 1133, 1177, 1178, 1535, 1639, 1652});
}

void CCreateIso::DoDataExchange(CDataExchange* dx) {
  CFennickPage::DoDataExchange(dx);
  if (!progress_.GetSafeHwnd()) DDX_Control(dx, 1018, progress_);
  BindHoverButtons(dx, {1003, 1640, 1005});
}

BOOL CCreateIso::OnInitDialog() {
  CFennickPage::OnInitDialog();
  BuildStarted = false;
  IsoReady = false;
  BuildPage = this;
  SetUpFrame(LookupText(u"IDS_ISO"));
  CString description = LookupText(u"IDS_ISODESC");
  description.Replace(u"$ISOFILE$", u"CD.iso");
  description.Replace(u"$ISOPATH$", ProgramFolder + u"\\Tools");
  SetDlgItemText(1033, description);
  SetDlgItemText(226, LookupText(u"IDS_LICPLZ"));
  SetDlgItemText(1639, LookupText(u"IDS_ELAPSEDTIME"));
  SetDlgItemText(1003, LookupText(u"IDS_Back"));
  SetDlgItemText(1640, LookupText(u"IDS_Start"));
  SetDlgItemText(1005, LookupText(u"IDS_Cancel"));
  SetDlgItemText(1653, LookupText(u"IDS_Skip"));
  SetDlgItemText(1011, LookupText(u"IDS_LICOK"));
  SetDlgItemText(1012, LookupText(u"IDS_LICNO"));
  progress_.SetRange32(0, 100);
  if (CWnd* back = GetDlgItem(1003)) back->SetFocus();
  CenterWindow();
  return FALSE;
}

void CCreateIso::ElapsedTimeRefresh() {
  PumpMessages(GetSafeHwnd());
  SetDlgItemText(1133, ElapsedText(static_cast<int64_t>((GetTickCount() - startTick_) / 1000)));
}

void CCreateIso::ProgressStep(int percent) {
  progress_.SetPos(percent);
  progress_.UpdateWindow();
  Sleep(1000);
  PumpMessages(GetSafeHwnd());
  ElapsedTimeRefresh();
}

void CCreateIso::OnStart() {
  if (BuildStarted) {
    OnNextAction();
    return;
  }
  BuildStarted = true;
  for (int id : {1640, 1003, 1005, 1653}) EnableControl(id, false);
  UpdateWindow();
  CString templates[3];
  BuildTemplates(WinPeLanguage, templates);
  // Without fresh scripts nothing runs: scripts of an earlier build are gone.
  const bool scripts = GenerateBuildScripts(templates[0], templates[1], templates[2]);
  startTick_ = GetTickCount();
  CString collected;
  if (scripts) {
    WCHAR system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const CString interpreter = CString(system) + u"\\cmd.exe";
    ProgramWaitHook = [this] { ElapsedTimeRefresh(); };
    SetCurrentDirectoryW(ProgramFolder);
    const std::pair<const char16_t*, int> runs[] = {
        {u"/C Resources\\1.cmd", 20}, {u"/C Resources\\2.cmd", 40}, {u"/C Resources\\3.cmd", 100}};
    for (const auto& [arguments, percent] : runs) {
      RunProgramAndWait(interpreter, arguments);
      ProgressStep(percent);
      SetCurrentDirectoryW(ProgramFolder);
    }
    ProgramWaitHook = nullptr;
    collected = CollectBuiltImage(kBuiltImage, ProgramFolder + u"\\Tools");
    RemoveFolderTree(kWorkFolder, [this] { PumpMessages(GetSafeHwnd()); });
    if (!collected.IsEmpty()) {
      CString label = LookupText(u"IDS_VolLabel");
      if (LngTable.empty() || label == u"IDS_VolLabel" || label == u"IDS_VOLLABEL") label = u"CD_ROM";
      WriteVolumeLabel(collected, label);
    }
  }
  for (int id : {1005, 1003, 1653}) EnableControl(id, false);
  for (int id : {1640}) EnableControl(id, true);
  SetDlgItemText(1640, LookupText(u"IDS_FINISH"));
  const bool built = !collected.IsEmpty() && !FindFileOrFolder(collected).IsEmpty() && GetPathFileSize(collected) > 0;
  // The final page tells of a failed build too.
  IsoReady = built;
  SetDlgItemText(1652, LookupText(built ? u"IDS_ISOSUCCESSTXT" : u"IDS_ISOFAILURETXT"));
}

void CCreateIso::OnNextAction() {
  if (!BuildStarted) {
    BuildStarted = true;
    return;
  }
  EndDialog(IDCANCEL);
  RunFennickPage(FennickPage::kFinal);
}

void CCreateIso::OnBack() {
  BackFromBuildPage = true;
  EndDialog(IDCANCEL);
  RunFennickPage(FennickPage::kKit);
  EndDialog(IDCANCEL);
}

void CCreateIso::OnSkip() {
  IsoReady = true;
  EndDialog(IDCANCEL);
  RunFennickPage(FennickPage::kFinal);
}

void CCreateIso::OnCancelButton() {
  IsoReady = false;
  if (MessageBoxW(GetSafeHwnd(), LookupText(u"IDS_PROGEXIT"), ProductCaption, MB_YESNO | MB_ICONQUESTION) == IDNO)
    return;
  EndFennick();
}

BOOL CCreateIso::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
    // Not while the build runs: its buttons are disabled for that reason.
    CWnd* start = GetDlgItem(1640);
    if (!BuildStarted || (start && start->IsWindowEnabled())) OnNextAction();
    return TRUE;
  }
  return CFennickPage::PreTranslateMessage(msg);
}

// ---- final page ----

BEGIN_MESSAGE_MAP(CMsgBox1, CFennickPage)
  ON_BN_CLICKED(1004, &CMsgBox1::OnYes)
  ON_BN_CLICKED(1005, &CMsgBox1::OnNo)
END_MESSAGE_MAP()

CMsgBox1::CMsgBox1(CWnd* parent) : CFennickPage(IDD, parent, true) {
  SetOwnerDrawn({1003, 1004, 1005});
  SetTransparent({1004, 1005, 1429, 1642, 1651});
}

void CMsgBox1::DoDataExchange(CDataExchange* dx) {
  CFennickPage::DoDataExchange(dx);
  BindHoverButtons(dx, {1004, 1005});
}

BOOL CMsgBox1::OnInitDialog() {
  CFennickPage::OnInitDialog();
  SetUpFrame(CString());
  SetDlgItemText(1004, LookupText(u"IDS_USBBURNING"));
  SetDlgItemText(1005, LookupText(u"IDS_Cancel"));
  messageFont_.CreateFont(WinPeMode ? PageTextHeight : PageTextHeight - 2, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0,
                          u"Verdana");
  if (CWnd* message = GetDlgItem(1651)) message->SetFont(&messageFont_);
  CString text = LookupText(IsoReady ? u"IDS_ISOOK" : u"IDS_ISOFAIL");
  text.Replace(u"$ISOFILE$", u"CD.iso");
  text.Replace(u"$ISOPATH$", ProgramFolder + u"\\Tools");
  SetDlgItemText(1651, text);
  return TRUE;
}

void CMsgBox1::OnYes() {
  const CString tools = ProgramFolder + u"\\Tools";
  SetCurrentDirectoryW(tools);
  ShowWindow(SW_HIDE);
  UpdateWindow();
  RunProgramAndWait(tools + u"\\Pellimor.exe", CString());
  EndFennick();
}

void CMsgBox1::OnNo() {
  EndDialog(IDCANCEL);
  EndFennick();
}

BOOL CMsgBox1::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return TRUE;
  return CFennickPage::PreTranslateMessage(msg);
}
