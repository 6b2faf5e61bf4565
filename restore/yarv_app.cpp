#include "restore/yarv_app.h"

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/ini_profile.h"
#include "platform/process/process.h"
#include "platform/process/system_info.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_map.h"
#include "program_support/boot_ini_fix.h"
#include "program_support/registry_readers.h"
#include "program_support/shell_state.h"
#include "restore/archive_format.h"
#include "restore/yarv_pages.h"
#include "restore/yarv_settings.h"
#include "restore/yarv_state.h"

namespace {

constexpr char16_t kYarvKey[] = u"Software\\Corvelware\\Yarv";
// The program file's first bytes hold the self-extract marker; no further
// than this is searched, whatever is appended.
constexpr DWORD kMarkerSearchBytes = 1u << 20;

void DeleteValue(HKEY root, LPCWSTR path, LPCWSTR name) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, name);
  RegCloseKey(key);
}

// The offset the marker in the program's file names, -1 when it has none.
int64_t MarkerOffset(const CString& path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  std::vector<uint8_t> head(kMarkerSearchBytes);
  DWORD got = 0;
  const BOOL ok = ReadFile(file, head.data(), kMarkerSearchBytes, &got, nullptr);
  CloseHandle(file);
  if (!ok) return -1;
  head.resize(got);
  const size_t at = restore::FindMarker(head);
  if (at == std::string::npos) return -1;
  const size_t end = std::min(head.size(), at + restore::kMarkerSlotSize);
  return restore::ParseMarkerOffset(std::string_view(reinterpret_cast<const char*>(head.data()) + at, end - at));
}

}  // namespace

// ---- application ----

CYarvApp::CYarvApp() : CWinApp(u"Yarv") {}

BOOL CYarvApp::InitInstance() {
  ResetYarvState();
  AfxEnableControlContainer();
  AfxInitRichEdit2();
  CommandTail = m_lpCmdLine ? CString(m_lpCmdLine) : CString();
  InitCommonControls();
  CWinApp::InitInstance();
  CYarvDlg host(nullptr);
  m_pMainWnd = &host;
  host.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

// ---- host dialog ----

BEGIN_MESSAGE_MAP(CYarvDlg, CDialog)
  ON_WM_QUERYENDSESSION()
  ON_COMMAND(32789, &CYarvDlg::OnHelpCommand)
  ON_COMMAND(32792, &CYarvDlg::OnExitCommand)
  ON_COMMAND(32797, &CYarvDlg::OnUpdateCommand)
END_MESSAGE_MAP()

CYarvDlg::CYarvDlg(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CYarvDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // 1-3: the program's file, the system's version, the restore flag.
  const CString help = AfxGetApp() && AfxGetApp()->m_pszHelpFilePath ? AfxGetApp()->m_pszHelpFilePath : u"";
  ProgramPath = help.GetLength() >= 4 ? help.Left(help.GetLength() - 4) + u".EXE" : help;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version)) OsMajorVersion = version.dwMajorVersion;
  RestoreRunning = false;
  OwnModule = AfxGetInstanceHandle();
  // 4: the locale of the product's texts in the program's own profile.
  WritePrivateProfileStringW(u"Locale", u"Locale", u"1041", u"Yarv.INI");
  // 5-8: language library, settings, folders and disk tables.
  LoadLanguageLibrary(GetParentPath(ProgramPath));
  UseLanguageLibrary();
  ShellState.messageCaption = kYarvCaption;
  RegistryErrorText = YarvText(478);
  InitAppData();
  UseLanguageLibrary();

  // 9: the mode.
  if (CommandTail.Find(u"/b") >= 0 || CommandTail.Find(u"/r") >= 0) {
    const bool clone = CommandTail.Find(u"/b") >= 0;
    if (!FixBootIni(CommandTail)) EndYarv(1);
    YarvMessage(nullptr, YarvText(clone ? 802 : 808));
    if (WinPeMode) EndYarv(0);
    ShutDownMachine(false);
    EndYarv(0);
  }
  if (CommandTail == u"Uninstall" &&
      YarvMessage(nullptr, YarvText(690), MB_YESNO | MB_ICONINFORMATION) == IDYES) {
    DeleteValue(HKEY_LOCAL_MACHINE, kYarvKey, u"InstallationDirectory");
    DeleteValue(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"YarvRUN");
    DeleteValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvel Yarv",
                u"DisplayName");
    DeleteValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvel Yarv",
                u"UninstallString");
    const CString desktop = ReadRegistryString(
        HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Desktop");
    if (!desktop.IsEmpty()) DeleteFileW(desktop + u"\\Yarv.LNK");
    DeleteInstalledFiles(InstallationDirectoryValue);
    EndYarv(0);
  }
  // 10: an installed product's own copy does not run from here.
  if (ReadInstallationDirectory().Find(u"Yarv.EXE") >= 0) {
    YarvMessage(nullptr, YarvText(691));
    EndYarv(0);
  }
  // 11-15: the restore wizard.
  TitleFontHeight = WinPeMode ? 13 : 15;
  SubtitleFontHeight = 13;
  UseOwnModule();
  ArchiveContentsText = ReadSelfExtractCatalog();
  if (CatalogResult != restore::ArchiveResult::Ok && CatalogResult != restore::ArchiveResult::NoArchive) {
    // A damaged archive: say what is wrong; the wizard then lists nothing.
    UseLanguageLibrary();
    CString message;
    message.Format(YarvText(901).GetString(), platform::to_utf16(Archive().error_detail()).c_str());
    YarvMessage(nullptr, message, MB_OK | MB_ICONEXCLAMATION);
    UseOwnModule();
  }
  {
    CRestore1 selection(nullptr);
    selection.DoModal();
  }
  UseLanguageLibrary();
  EndYarv(0);
}

void CYarvDlg::OnCancel() {
  UseOwnModule();
  EndDialog(IDCANCEL);
}

BOOL CYarvDlg::OnQueryEndSession() {
  if (ProgressPageOpen) return TRUE;  // the page asks
  return AllowEndSession(GetSafeHwnd()) ? TRUE : FALSE;
}

void CYarvDlg::OnHelpCommand() {
  const CString help = InstallationDirectory + u"\\Help\\Japanese\\Yarv.chm";
  ShellExecuteW(nullptr, u"open", u"hh.exe", help, nullptr, SW_SHOW);
}

void CYarvDlg::OnExitCommand() { EndDialog(IDCANCEL); }

void CYarvDlg::OnUpdateCommand() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  WCHAR empty[1] = {0};
  const CString updater = InstallationDirectory + u"\\YarvAutoUpdate.exe";
  if (!CreateProcessW(updater, empty, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, u"C:\\", &startup,
                      &process))
    return;
  DWORD code = STILL_ACTIVE;
  while (GetExitCodeProcess(process.hProcess, &code) && code == STILL_ACTIVE) Sleep(500);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

bool AllowEndSession(HWND owner) {
  if (!RestoreRunning) return true;
  return YarvMessage(owner, YarvText(762), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool DeleteInstalledFiles(const CString& folder) {
  CString base = folder;
  while (!base.IsEmpty() && (base[base.GetLength() - 1] == u'\\' || base[base.GetLength() - 1] == u' '))
    base = base.Left(base.GetLength() - 1);
  // An empty value or a bare drive would name a drive's root: nothing there
  // belongs to the installation.
  if (base.IsEmpty() || (base.GetLength() <= 2 && base.Find(u':') >= 0)) return false;
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(base + u"\\*.*", &found);
  if (find == INVALID_HANDLE_VALUE) return true;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    DeleteFileW(base + u"\\" + found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

CString ReadSelfExtractCatalog() {
  ContentsItems.clear();
  const int64_t offset = MarkerOffset(ProgramPath);
  if (offset < 0) {
    CatalogResult = restore::ArchiveResult::NoArchive;
    return CString();
  }
  CatalogResult = Archive().ReadCatalog(ProgramPath.GetString(), offset);
  if (CatalogResult != restore::ArchiveResult::Ok) return CString();
  StoredFileSelection.clear();
  for (const auto& r : Archive().file_records()) StoredFileSelection.push_back(r.selection);
  StoredFolderKinds.clear();
  for (const auto& r : Archive().folder_records()) StoredFolderKinds.push_back(r.kind);
  StoredDiskKinds.clear();
  for (const auto& r : Archive().disk_records()) StoredDiskKinds.push_back(r.kind);
  CString listing;
  const auto& files = Archive().file_records();
  for (int k = 1; k < static_cast<int>(files.size()); ++k) {
    CString size;
    if (files[k].size < 1024) size.Format(u"%lld Bytes", static_cast<long long>(files[k].size));
    else size = FormatSizeText(files[k].size / 512);
    listing += CString(u"File: ") + Archive().FilePath(k).c_str() + u"," + size + u"\r\n";
    ContentsItems.push_back({ContentsItem::File, k});
  }
  const auto& folders = Archive().folder_records();
  for (int i = 1; i < static_cast<int>(folders.size()); ++i) {
    if (!folders[i].is_folder_entry()) continue;
    if (folders[i].is_partition()) {
      listing += CString(u"Partition: ") + Archive().FolderPath(i).c_str() + u" \r\n";
      ContentsItems.push_back({ContentsItem::Partition, i});
      return listing;  // a file-level partition is the archive's only item
    }
    listing += CString(u"Folder: ") + Archive().FolderPath(i).c_str() + u" \r\n";
    ContentsItems.push_back({ContentsItem::Folder, i});
  }
  const auto& disks = Archive().disk_records();
  for (int j = 1; j < static_cast<int>(disks.size()); ++j) {
    const CString size = FormatSizeText(disks[j].extent_sectors());
    CString line;
    if (disks[j].is_whole_disk()) {
      line.Format(u"Drive%d %s", disks[j].disk_number, size.GetString());
    } else {
      line.Format(u"Partition %s %s", disks[j].drive_text.c_str(), size.GetString());
    }
    listing += line + u"\r\n";
    ContentsItems.push_back({ContentsItem::Disk, j});
  }
  return listing;
}
