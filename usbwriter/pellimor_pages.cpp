#include "usbwriter/pellimor_pages.h"

#include <algorithm>

#include "disk/disk_tables.h"
#include "platform/core/clock.h"
#include "platform/core/process_exit.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "program_support/shell_state.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"
#include "usbwriter/usb_disk_table.h"

UsbComboMapRecord UsbComboMap;
CString SelectedDriveText;

namespace {

constexpr UINT kDeviceArrival = 0x8000;
constexpr UINT kDeviceRemoveComplete = 0x8004;
constexpr const char16_t* kFontFace = u"Microsoft Sans Serif";
constexpr int kIconId = 128;

void EndProcess() { ExitProcess(0); }

CString HoursMinutesSeconds(DWORD seconds) {
  CString text;
  text.Format(u"%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

}  // namespace

void SetPageIcon(CWnd* page) {
  HICON icon = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kIconId));
  page->SetIcon(icon, TRUE);
  page->SetIcon(icon, FALSE);
}

void SetHeadingFonts(CWnd* page, CFont* title, CFont* text) {
  title->CreateFont(15, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, kFontFace);
  text->CreateFont(15, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, kFontFace);
  if (CWnd* line = page->GetDlgItem(1357)) line->SetFont(title);
  if (CWnd* line = page->GetDlgItem(1359)) line->SetFont(text);
}

// ---- application ----

CPellimorApp::CPellimorApp() : CWinApp(u"Pellimor") {}

BOOL CPellimorApp::InitInstance() {
  InitCommonControls();
  CWinApp::InitInstance();
  AfxEnableControlContainer();
  AfxInitRichEdit();
  SetRegistryKey(u"Local AppWizard-Generated Applications");
  ProgramFolder = ProgramFolderOf(CString(m_pszHelpFilePath ? m_pszHelpFilePath : u""));
  LoadBrandingConfig();
  ShellState.languageName = BrandLanguage;
  LoadLanguageStrings();
  app_name_storage = LookupString(u"IDS_CAPTION").str();
  m_pszAppName = app_name_storage.c_str();
  CPellimorDlg dialog(nullptr);
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

// ---- welcome page ----

BEGIN_MESSAGE_MAP(CPellimorDlg, CDialog)
  ON_BN_CLICKED(1007, &CPellimorDlg::OnNext)
  ON_BN_CLICKED(9, &CPellimorDlg::OnHelp)
  ON_EN_SETFOCUS(1003, &CPellimorDlg::OnTextFocus)
  ON_EN_SETFOCUS(1004, &CPellimorDlg::OnTextFocus)
  ON_EN_SETFOCUS(1005, &CPellimorDlg::OnTextFocus)
  ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

CPellimorDlg::CPellimorDlg(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CPellimorDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetPageIcon(this);
  CString about = LookupString(u"IDS_ABOUTBOX");
  if (CMenu* menu = GetSystemMenu(FALSE); menu && !about.IsEmpty()) {
    menu->AppendMenu(MF_SEPARATOR);
    menu->AppendMenu(MF_STRING, kAboutCommand, about);
  }
  titleFont_.CreateFont(18, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, kFontFace);
  textFont_.CreateFont(15, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, kFontFace);
  if (CWnd* title = GetDlgItem(1003)) title->SetFont(&titleFont_);
  for (int id : {1004, 1005}) {
    if (CWnd* text = GetDlgItem(id)) text->SetFont(&textFont_);
  }
  SetWindowText(LookupString(u"IDS_CAPTION"));
  CString welcome = LookupString(u"IDS_WELCOME");
  welcome.Replace(u"%ProductName", BrandProduct);
  SetDlgItemText(1003, welcome);
  CString body = LookupString(u"IDS_WELCOME_DET1");
  body.Replace(u"%ProductName", BrandProduct);
  body.Replace(u"%CompanyName", BrandCompany);
  body += LookupString(u"IDS_Period");
  body += LookupString(u"IDS_WELCOME_DET2");
  SetDlgItemText(1005, body);
  SetDlgItemText(1007, LookupString(u"IDS_NXT"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_CANCEL"));
  SetDlgItemText(9, LookupString(u"IDS_Help"));
  HelpFilePath = ProgramFolder + u"\\Help\\index.html";
  return TRUE;
}

void CPellimorDlg::OnNext() {
  if (!ChooseIsoFile()) return;
  EndDialog(IDCANCEL);
  CThird destination(nullptr);
  destination.DoModal();
}

void CPellimorDlg::OnCancel() {
  EndDialog(IDCANCEL);
  EndProcess();
}

void CPellimorDlg::OnHelp() { ShellExecuteW(nullptr, u"open", HelpFilePath, nullptr, nullptr, SW_HIDE); }

void CPellimorDlg::OnTextFocus() {
  if (CWnd* next = GetDlgItem(1007)) next->SetFocus();
}

void CPellimorDlg::OnSysCommand(UINT id, LPARAM lparam) {
  if ((id & 0xFFF0) == kAboutCommand) {
    pellimor::CAboutDlg about;
    about.DoModal();
    return;
  }
  CDialog::OnSysCommand(id, lparam);
}

pellimor::CAboutDlg::CAboutDlg() : CDialog(IDD, nullptr) {}

BOOL pellimor::CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetPageIcon(this);
  SetWindowText(LookupString(u"IDS_AboutBoxCAP"));
  SetDlgItemText(1006, LookupString(u"IDS_AboutBoxH1"));
  SetDlgItemText(1002, LookupString(u"IDS_CopyRight"));
  return TRUE;
}

// ---- destination page ----

BEGIN_MESSAGE_MAP(CThird, CDialog)
  ON_CBN_SELCHANGE(CThird::kUsbCombo, &CThird::OnSelectDisk)
  ON_BN_CLICKED(1003, &CThird::OnBack)
  ON_WM_DEVICECHANGE()
  ON_WM_WINDOWPOSCHANGED()
END_MESSAGE_MAP()

CThird::CThird(CWnd* parent) : CDialog(IDD, parent), position_(HKEY_CURRENT_USER, u"software\\WndPos") {}

void CThird::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kUsbCombo, disks_);
  DDX_Control(dx, kFileSystemCombo, fileSystems_);
}

CString UsbDiskRowText(int disk) {
  const DiskTableEntry& entry = DiskTable.disks[disk];
  return entry.model + u":   " + FormatDiskSizeText(entry.sectors) + u"   (S/N: " + entry.serial + u")";
}

void CThird::FillUsbDiskList() {
  disks_.ResetContent();
  UsbComboMap = UsbComboMapRecord{};
  FillDiskTable();
  disks_.AddString(LookupString(u"IDS_SELECTUSB"));
  for (int n = 0; n < kUsbDiskSlots; ++n) {
    if (DiskTable.disks[n].sectors == 0 || DiskTable.disks[n].busName != u"USB") continue;
    disks_.AddString(UsbDiskRowText(n));
    UsbComboMap.disks[UsbComboMap.count++] = n;
  }
  if (UsbComboMap.count == 0) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_INVALID"), LookupString(u"IDS_PRODNAME"), MB_OK);
    EndProcess();
  }
  disks_.SetCurSel(0);
  if (CWnd* next = GetDlgItem(IDOK)) next->EnableWindow(FALSE);
}

BOOL CThird::OnInitDialog() {
  initialised_ = false;
  CDialog::OnInitDialog();
  SetPageIcon(this);
  SetWindowText(LookupString(u"IDS_CAPTION"));
  SetDlgItemText(1020, LookupString(u"IDS_Destination"));
  SetHeadingFonts(this, &titleFont_, &textFont_);
  SetDlgItemText(1357, LookupString(u"IDS_SELECTDEST"));
  SetDlgItemText(1359, LookupString(u"IDS_SELECTDEST1"));
  SetDlgItemText(1109, LookupString(u"IDS_SELECTDEST2"));
  SetDlgItemText(1012, LookupString(u"IDS_SELECTED"));
  SetDlgItemText(IDOK, LookupString(u"IDS_NXT"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_CANCEL"));
  SetDlgItemText(1003, LookupString(u"IDS_BK"));
  FillUsbDiskList();
  SetDlgItemText(1013, LookupString(u"IDS_SelectFormatType"));
  fileSystems_.AddString(u"FAT32");
  fileSystems_.AddString(u"NTFS");
  fileSystems_.SetCurSel(ChosenFileSystem == kFileSystemNtfs ? 1 : 0);
  initialised_ = true;
  return TRUE;
}

void CThird::OnSelectDisk() {
  if (!initialised_) return;
  int row = disks_.GetCurSel();
  CWnd* next = GetDlgItem(IDOK);
  if (row - 1 < 0 || row - 1 >= UsbComboMap.count) {
    if (next) next->EnableWindow(FALSE);
    return;
  }
  disks_.SetCurSel(row);
  disks_.GetLBText(row, SelectedDriveText);
  SetDlgItemText(1390, SelectedDriveText);
  if (next) next->EnableWindow(TRUE);
}

void CThird::OnOK() {
  int row = disks_.GetCurSel();
  if (row < 1 || row - 1 >= UsbComboMap.count) return;
  SelectedUsbDisk = UsbComboMap.disks[row - 1];
  DescribeIso();
  // Whole megabytes of the stick against the image, its boot area and the
  // volume's own structures.
  uint64_t sectors = DiskTable.disks[SelectedUsbDisk].sectors / 2048ull * 2048ull;
  if (!StickCanHold(SelectedUsbDisk, sectors)) {
    MessageBoxW(GetSafeHwnd(), LookupString(u"IDS_WRONGSIZE"), LookupString(u"IDS_PRODNAME"), MB_OK);
    return;
  }
  CString fileSystem;
  fileSystems_.GetLBText(fileSystems_.GetCurSel(), fileSystem);
  ChosenFileSystem = fileSystem == u"NTFS" ? kFileSystemNtfs : kFileSystemFat32;
  EndDialog(IDOK);
  CConfirm1 confirm(nullptr);
  confirm.DoModal();
}

void CThird::OnBack() {
  EndDialog(IDCANCEL);
  CPellimorDlg welcome(nullptr);
  welcome.DoModal();
}

void CThird::OnCancel() {
  EndDialog(IDCANCEL);
  EndProcess();
}

BOOL CThird::OnDeviceChange(UINT event, DWORD_PTR) {
  if (event == kDeviceArrival || event == kDeviceRemoveComplete) FillUsbDiskList();
  return TRUE;
}

void CThird::OnWindowPosChanged(WINDOWPOS* position) {
  CDialog::OnWindowPosChanged(position);
  if (!position) return;
  position_.SetRect(*position);
  position_.Save();
}

// ---- confirmation page ----

BEGIN_MESSAGE_MAP(CConfirm1, CDialog)
  ON_BN_CLICKED(CConfirm1::kStart, &CConfirm1::OnStartBurning)
  ON_BN_CLICKED(CConfirm1::kBack, &CConfirm1::OnBack)
  ON_EN_SETFOCUS(1015, &CConfirm1::OnTextFocus)
END_MESSAGE_MAP()

CConfirm1::CConfirm1(CWnd* parent) : CDialog(IDD, parent) {}

void CConfirm1::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kProgress, progress_);
}

BOOL CConfirm1::OnInitDialog() {
  CDialog::OnInitDialog();
  SetPageIcon(this);
  pauseSpan_ = 0;
  SetWindowText(LookupString(u"IDS_CAPTION"));
  SetDlgItemText(1109, LookupString(u"IDS_CONFIRMMESSAGE"));
  SetDlgItemText(IDCANCEL, LookupString(u"IDS_CANCEL"));
  SetDlgItemText(kBack, LookupString(u"IDS_BK"));
  SetDlgItemText(1016, LookupString(u"IDS_CONFIRM"));
  SetDlgItemText(1327, LookupString(u"IDS_SELSRC"));
  SetDlgItemText(1013, LookupString(u"IDS_SELDEST"));
  SetDlgItemText(1014, LookupString(u"IDS_PROGRESS"));
  SetDlgItemText(kSetupText, LookupString(u"IDS_FORMATWAIT"));
  SetDlgItemText(1019, LookupString(u"IDS_ELAPSED"));
  SetDlgItemText(1017, LookupString(u"IDS_REMAINING"));
  SetDlgItemText(kStart, LookupString(u"IDS_START"));
  SetHeadingFonts(this, &titleFont_, &textFont_);
  SetDlgItemText(1357, LookupString(u"IDS_CONFIRM1"));
  SetDlgItemText(1359, LookupString(u"IDS_CONFIRM2"));
  SetDlgItemText(1015, DescribeIso());
  SetDlgItemText(1454, SelectedDriveText);
  SetDlgItemText(1138, SourceIsoPath);
  burningActive_ = false;
  cancelRequested_ = false;
  CenterWindow();
  return TRUE;
}

void CConfirm1::OnTextFocus() {
  if (CWnd* cancel = GetDlgItem(IDCANCEL)) cancel->SetFocus();
}

void CConfirm1::OnStartBurning() {
  if (MessageBoxW(nullptr, LookupString(u"IDS_ENQ1"), LookupString(u"IDS_CAPTION"),
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES) {
    return;
  }
  if (CWnd* bar = GetDlgItem(kProgress)) bar->ShowWindow(SW_SHOW);
  burningActive_ = true;
  for (int id : {kBack, kStart}) {
    if (CWnd* button = GetDlgItem(id)) button->EnableWindow(FALSE);
  }
  log_ = LookupString(u"IDS_BURNING");
  SetDlgItemText(kLog, log_);
  startTick_ = GetTickCount();
  PumpMessages(GetSafeHwnd());
  RunUsbWrite(this, SelectedUsbDisk, SourceIsoPath);
  burningActive_ = false;
  CString captionText = LookupString(u"IDS_PRODNAME");
  constexpr UINT kResultStyle = MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL;
  if (CopyErrorCount != 0) {
    // The failure that already named its cause (an unreadable image, a stick
    // too small, a file that cannot be written) is not told twice, nor
    // turned into a write failure.
    if (!ShownCopyErrorKey) MessageBoxW(nullptr, LookupString(u"IDS_WRITEERROR"), captionText, MB_OK);
    MessageBoxW(nullptr, LookupString(u"IDS_FAIL"), captionText, MB_OK);
  } else if (cancelRequested_) {
    MessageBoxW(nullptr, LookupString(u"IDS_ABORTED"), captionText, kResultStyle);
  } else {
    MessageBoxW(nullptr, LookupString(u"IDS_COMPLETE"), captionText, kResultStyle);
  }
  EndDialog(IDOK);
  EndProcess();
}

void CConfirm1::OnCancelButton() {
  DWORD pauseStart = GetTickCount();
  int answer = MessageBoxW(nullptr, LookupString(u"IDS_ISOCANCEL"), LookupString(u"IDS_PRODNAME"),
                           MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL);
  pauseSpan_ += GetTickCount() - pauseStart;
  cancelRequested_ = answer == IDYES;
  if (burningActive_) return;
  if (!cancelRequested_ && CopyErrorCount == 0) return;
  EndDialog(IDCANCEL);
  CPellimorDlg welcome(nullptr);
  welcome.DoModal();
}

void CConfirm1::OnBack() {
  EndDialog(IDCANCEL);
  CThird destination(nullptr);
  destination.DoModal();
}

void CConfirm1::SetProgressRange(int64_t maximum) {
  range_ = maximum;
  if (progress_.GetSafeHwnd()) progress_.SetRange32(0, static_cast<int>(std::min<int64_t>(maximum, INT32_MAX)));
}

void CConfirm1::UpdateProgress(int64_t position) {
  position_ = position;
  if (progress_.GetSafeHwnd()) progress_.SetPos(static_cast<int>(std::min<int64_t>(position, INT32_MAX)));
  DWORD elapsed = (GetTickCount() - startTick_ - pauseSpan_) / 1000;
  SetDlgItemText(1133, HoursMinutesSeconds(elapsed));
  if (position != 0) {
    int64_t estimate = static_cast<int64_t>(elapsed) * ProgressMaximum / position;
    SetDlgItemText(1131, HoursMinutesSeconds(static_cast<DWORD>(std::max<int64_t>(estimate - elapsed, 0))));
    PumpMessages(GetSafeHwnd());
  }
}

void CConfirm1::ShowFormatBusy(bool busy) {
  if (CWnd* text = GetDlgItem(kSetupText)) text->ShowWindow(busy ? SW_SHOW : SW_HIDE);
}

void CConfirm1::AppendLog(LPCWSTR text) {
  log_ += text;
  SetDlgItemText(kLog, log_);
  UpdateWindow();
}
