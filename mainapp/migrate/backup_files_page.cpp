#include "mainapp/migrate/backup_files_page.h"

#include "program_support/language_table.h"
#include "program_support/path_helpers.h"
#include "program_support/registry_readers.h"
#include "program_support/shell_state.h"
#include "mainapp/migrate/migration_copy_page.h"
#include "mainapp/migrate/migration_state.h"
#include "mainapp/migrate/page_texts.h"
#include "mainapp/migrate/shell_folder_names.h"
#include "platform/registry/registry.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"

BEGIN_MESSAGE_MAP(CBackupFiles, CDialog)
  ON_BN_CLICKED(kNext, &CBackupFiles::BuildMigrationItems)
  ON_BN_CLICKED(kBack, &CBackupFiles::OnCancel)
  ON_BN_CLICKED(kBrowse, &CBackupFiles::OnBrowseDestination)
  ON_BN_CLICKED(kGetFiles, &CBackupFiles::ListSelectedItems)
  ON_BN_CLICKED(kGetFolders, &CBackupFiles::ListSelectedFolders)
  ON_EN_KILLFOCUS(kDestination, &CBackupFiles::OnDestinationLeave)
  ON_EN_SETFOCUS(1003, &CBackupFiles::OnHeadingFocus)
  ON_EN_SETFOCUS(1004, &CBackupFiles::OnHeadingFocus)
  ON_NOTIFY(NM_CLICK, kTree, &CBackupFiles::OnTreeClick)
  ON_NOTIFY(TVN_SELCHANGED, kTree, &CBackupFiles::OnTreeSelectionChanged)
  ON_NOTIFY(TVN_ITEMEXPANDED, kTree, &CBackupFiles::OnTreeExpanded)
END_MESSAGE_MAP()

namespace {

constexpr UINT kAboutCommand = 16;
constexpr int kEditLimit = 512;
// Folder dialog flags: file-system folders and their ancestors only; outside
// WinPE also the newer dialog with an edit box.
constexpr UINT kBifReturnFsAncestors = 0x8;
constexpr UINT kBrowseFlagsWinPe = BIF_RETURNONLYFSDIRS | kBifReturnFsAncestors;
constexpr UINT kBrowseFlags = kBrowseFlagsWinPe | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;

const char16_t kShellFoldersKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char16_t kWinPeProfile[] = u"X:\\WINDOWS\\SYSTEM32\\CONFIG\\SYSTEMPROFILE";

int BrowseCallback(HWND dialog, UINT message, LPARAM data, LPARAM) {
  if (message != BFFM_SELCHANGED) return 0;
  WCHAR path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(data), path))
    SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
  return 0;
}

}  // namespace

CString NetworkPlaceLine(const CString& line) {
  const int p = line.Find(u"\\NetHood\\");
  if (p <= 0) return line;
  const int nameStart = p + 9;
  const int a = line.Find(u' ', nameStart);
  if (a < 0) return line;
  CString end = line;
  if (end.Right(2) == CString(u"\r\n")) end = end.Left(end.GetLength() - 2);
  const CString share = CString(u"\\") + line.Mid(nameStart, a - nameStart);
  CString host;
  const int open = line.Find(u'(', a);
  if (open == a + 1) {
    const int close = line.Find(u')', open + 1);
    if (close < 0) return line;
    host = line.Mid(open + 1, close - open - 1);
  } else {
    const int b = line.Find(u' ', a + 1);
    if (b < 0) return line;
    const int c = end.Find(u' ', b + 1);
    host = c < 0 ? end.Mid(b + 1) : end.Mid(b + 1, c - b - 1);
  }
  if (host.IsEmpty() || share.GetLength() < 2) return line;
  return CString(u"Folder:\\\\") + host + share + u"\r\n";
}

CBackupFiles::CBackupFiles(CWnd* parent) : CDialog(IDD, parent) {}

void CBackupFiles::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kTree, tree);
  DDX_Text(dx, kDestination, destinationText);
}

BOOL CBackupFiles::OnInitDialog() {
  FileTreeGlobals.nextEnabled = FileTreeGlobals.browseEnabled = FileTreeGlobals.destinationChosen = 0;
  CDialog::OnInitDialog();
  ShowMigrationPageTexts(*this, fonts_, u"IDS_FileFolderFileCAP", u"IDS_FileFolderFileH1", u"IDS_FileFolderFileH2",
                         {{1001, u"IDS_FileFolderFiles1"}, {1014, u"IDS_FileFolderFiles2"},
                          {1191, u"IDS_FileFolderFileH4"}, {1100, u"IDS_FileFolderFileH3"},
                          {kGetFiles, u"IDS_GetSelectedFiles"}, {kGetFolders, u"IDS_GetSelectedFolders"},
                          {kBack, u"IDS_Back"}, {kNext, u"IDS_Next"}, {IDCANCEL, u"IDS_Cancel"}});
  LoadShellFolderNames();
  if (CWnd* browse = GetDlgItem(kBrowse)) browse->EnableWindow(FALSE);
  const CString about = LookupString(u"IDS_ABOUTBOX");
  if (!about.IsEmpty() && about != CString(u"IDS_ABOUTBOX"))
    if (CMenu* menu = GetSystemMenu(FALSE)) {
      menu->AppendMenu(MF_SEPARATOR);
      menu->AppendMenu(MF_STRING, kAboutCommand, about);
    }
  if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
  FileTreeGlobals.showFilesMode = 1;
  tree.browseButton = GetDlgItem(kBrowse);
  tree.nextButton = GetDlgItem(kNext);
  FileTreeGlobals.tickCount = 0;
  tree.PopulateTree();
  if (!MigrationEntryFlag) EndDialog(IDCANCEL);
  return TRUE;
}

void CBackupFiles::OnHeadingFocus() {
  if (CWnd* group = GetDlgItem(1001)) group->SetFocus();
}

void CBackupFiles::OnTreeClick(NMHDR*, LRESULT* result) {
  ListSelectedItems();
  *result = 0;
}

// The selection moving in the tree leaves the destination as it is (it used
// to write the never-filled destinationText over the edit).
void CBackupFiles::OnTreeSelectionChanged(NMHDR*, LRESULT* result) { *result = 0; }

void CBackupFiles::OnTreeExpanded(NMHDR*, LRESULT* result) { *result = 0; }

void CBackupFiles::ListSelectedItems() {
  const CString profileFolder =
      GetParentPath(ReadRegistryString(HKEY_CURRENT_USER, kShellFoldersKey, u"Desktop"));
  std::vector<CString> files, folders;
  tree.GetCheckedFilePaths(files);
  tree.GetCheckedFolderPaths(folders);
  CString fileText, folderText;
  for (const CString& path : files) fileText += CString(u"File:") + path + u"\r\n";
  const CString library = LookupString(u"IDS_Library");
  for (const CString& value : folders) {
    CString name = value.Mid(1);
    if (name == library) {
      name = profileFolder;
    } else {
      for (const char16_t* known : {u"Music", u"Documents", u"Pictures", u"Videos"})
        if (name == CString(known)) {
          name = profileFolder + u"\\" + name;
          break;
        }
    }
    CString upper = name;
    upper.MakeUpper();
    const CString line = CString(upper.Find(u".ZIP") > 0 ? u"File:" : u"Folder:") + name + u"\r\n";
    folderText += NetworkPlaceLine(line);
  }
  selectionText = folderText + fileText;
  MigrationState.lineCount = static_cast<int32_t>(files.size() + folders.size());
}

void CBackupFiles::ListSelectedFolders() {
  std::vector<CString> folders;
  tree.GetCheckedFolderPaths(folders);
  selectionText.Empty();
  for (const CString& value : folders) selectionText += value + u"\r\n";
  if (folders.empty()) selectionText = LookupString(u"IDS_None");
  UpdateData(FALSE);
}

void CBackupFiles::BuildMigrationItems() {
  MigrationState.itemCount = 0;
  CString typed;
  GetDlgItemText(kDestination, typed);
  MigrationState.destination = typed;
  if (typed.IsEmpty()) return;
  ListSelectedItems();
  MigrationState.items.assign(1, MigrationItem{});
  int offset = 0;
  for (int32_t line = 0; line < MigrationState.lineCount && offset < selectionText.GetLength(); ++line) {
    MigrationItem item;
    if (selectionText.Mid(offset, 4) == CString(u"File")) {
      item.kind = 0;
      offset += 5;
    } else {
      item.kind = 1;
      offset += 7;
    }
    const int end = selectionText.Find(u"\r\n", offset);
    item.path = end < 0 ? selectionText.Mid(offset) : selectionText.Mid(offset, end - offset);
    ++MigrationState.itemCount;
    if (MigrationState.itemCount > 1) MigrationState.items.back().next = MigrationState.itemCount;
    MigrationState.items.push_back(item);
    offset = end < 0 ? selectionText.GetLength() : end + 2;
  }
  if (MigrationState.itemCount == 0) {
    ShowDebugMessage(0, LookupString(u"IDS_nothing"));
    return;
  }
  MigrationState.backRequested = 0;
  MigrationState.destination = typed;
  ShowWindow(SW_HIDE);
  UpdateWindow();
  CClone1 copyPage(nullptr);
  copyPage.DoModal();
  FileTreeGlobals.showFilesMode = 1;
  if (MigrationState.backRequested == 1)
    ShowWindow(SW_SHOW);
  else
    EndDialog(IDCANCEL);
}

void CBackupFiles::BrowseForDestination(HWND owner) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  const CString title = LookupString(u"IDS_ChooseFolder");
  info.lpszTitle = title;
  info.ulFlags = ShellState.winPEMode ? kBrowseFlagsWinPe : kBrowseFlags;
  info.lpfn = &BrowseCallback;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return;
  WCHAR path[MAX_PATH] = {};
  SHGetPathFromIDListW(chosen, path);
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(chosen);
    allocator->Release();
  }
  MigrationState.destination = CString(path);
}

void CBackupFiles::OnBrowseDestination() {
  MigrationState.destination.Empty();
  BrowseForDestination(m_hWnd);
  CString& chosen = MigrationState.destination;
  if (chosen.Left(2) == CString(u"::")) chosen.Empty();
  chosen.MakeUpper();
  if (chosen.Left(static_cast<int>(std::char_traits<char16_t>::length(kWinPeProfile))) == CString(kWinPeProfile))
    chosen.Empty();
  SetDlgItemText(kDestination, chosen);
  destinationText = chosen;
  CWnd* next = GetDlgItem(kNext);
  if (chosen.IsEmpty()) {
    FileTreeGlobals.destinationChosen = 0;
    if (next) next->EnableWindow(FALSE);
  } else {
    if (next) next->EnableWindow(FileTreeGlobals.tickCount > 0);
    FileTreeGlobals.destinationChosen = 1;
    FileTreeGlobals.nextEnabled = FileTreeGlobals.tickCount > 0;
  }
}

void CBackupFiles::OnDestinationLeave() {
  CString typed;
  GetDlgItemText(kDestination, typed);
  if (typed.GetLength() > kEditLimit) typed = typed.Left(kEditLimit);
  const bool exists = !typed.IsEmpty() && !FindFirstName(typed + u"\\*.*").IsEmpty();
  CloseFind();
  if (!exists) {
    SetDlgItemText(kDestination, u"");
    if (CWnd* next = GetDlgItem(kNext)) next->EnableWindow(FALSE);
    FileTreeGlobals.nextEnabled = 0;
    FileTreeGlobals.destinationChosen = 0;
    return;
  }
  FileTreeGlobals.destinationChosen = 1;
  destinationText = typed;
  // A tick already there enables Next now rather than at the next tick.
  if (FileTreeGlobals.tickCount > 0)
    if (CWnd* next = GetDlgItem(kNext)) {
      next->EnableWindow(TRUE);
      FileTreeGlobals.nextEnabled = 1;
    }
}
