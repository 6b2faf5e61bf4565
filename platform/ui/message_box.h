// Message boxes and the common file and folder dialogs. Each runs a modal
// loop on a window of its own role, so the headless driver answers them
// (`answer`, `choose`) and the log records them.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/cwnd.h"
#include "platform/ui/winuser.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0xF0;
constexpr UINT MB_DEFBUTTON1 = 0x0;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;
constexpr UINT MB_APPLMODAL = 0x0;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// Captioned with the application's name.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT help_id = 0);
int AfxMessageBox(const std::u16string& text, UINT type = MB_OK, UINT help_id = 0);

constexpr DWORD OFN_READONLY = 0x1;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;
constexpr DWORD OFN_HIDEREADONLY = 0x4;
constexpr DWORD OFN_NOCHANGEDIR = 0x8;
constexpr DWORD OFN_PATHMUSTEXIST = 0x800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;
constexpr DWORD OFN_EXPLORER = 0x80000;

struct OPENFILENAMEW {
  DWORD lStructSize;
  HWND hwndOwner;
  LPCWSTR lpstrFilter;
  DWORD nFilterIndex;
  LPWSTR lpstrFile;
  DWORD nMaxFile;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  LPCWSTR lpstrDefExt;
};

class CFileDialog : public CWnd {
 public:
  // `filter` in the framework's "Name|*.ext|Name|*.a;*.b||" form.
  CFileDialog(BOOL open, LPCWSTR default_ext = nullptr, LPCWSTR file_name = nullptr,
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR filter = nullptr,
              CWnd* parent = nullptr);
  OPENFILENAMEW m_ofn{};
  virtual INT_PTR DoModal();
  CString GetPathName() const { return CString(path_); }
  CString GetFileName() const;
  CString GetFileExt() const;
  CString GetFileTitle() const;
  CString GetFolderPath() const;
  // Filter pairs (name, patterns) parsed from the constructor's text.
  const std::vector<std::pair<std::u16string, std::u16string>>& filters() const { return filters_; }

 private:
  bool open_;
  std::u16string default_ext_;
  std::u16string path_;
  std::u16string initial_name_;
  std::u16string filter_storage_;
  std::u16string file_buffer_;
  std::vector<std::pair<std::u16string, std::u16string>> filters_;
  CWnd* parent_;
};

// The folder dialog. The item list type belongs to the shell namespace; this
// side only moves pointers to it.
struct ITEMIDLIST;
using LPITEMIDLIST = ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;
using BFFCALLBACK = int (*)(HWND, UINT, LPARAM, LPARAM);
struct BROWSEINFOW {
  HWND hwndOwner;
  PCIDLIST_ABSOLUTE pidlRoot;
  LPWSTR pszDisplayName;
  LPCWSTR lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
};
constexpr UINT BIF_RETURNONLYFSDIRS = 0x1;
// Network folders below the domain level are not offered (the simulated PC
// has none, so the flag changes nothing there).
constexpr UINT BIF_DONTGOBELOWDOMAIN = 0x2;
// The dialog shows a status line that the callback fills with
// BFFM_SETSTATUSTEXTW; without the flag the text is kept but not shown.
constexpr UINT BIF_STATUSTEXT = 0x4;
constexpr UINT BIF_EDITBOX = 0x10;
constexpr UINT BIF_NEWDIALOGSTYLE = 0x40;
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SELCHANGED = 2;
constexpr UINT BFFM_VALIDATEFAILEDW = 4;
constexpr UINT BFFM_ENABLEOK = WM_USER + 101;
constexpr UINT BFFM_SETSELECTIONW = WM_USER + 103;
constexpr UINT BFFM_SETSTATUSTEXTW = WM_USER + 104;
constexpr UINT BFFM_SETSELECTION = BFFM_SETSELECTIONW;

PIDLIST_ABSOLUTE SHBrowseForFolderW(BROWSEINFOW* info);

namespace platform::ui {

// How the dialogs see the simulated PC's files. The file-system layer
// installs these; until then nothing exists and no item lists can be made.
struct ShellSeam {
  std::function<bool(const std::u16string& path)> exists;
  std::function<ITEMIDLIST*(const std::u16string& path)> make_item_list;
  std::function<std::u16string(PCIDLIST_ABSOLUTE)> path_of_item_list;
  // Frees a list make_item_list gave (the folder dialog's selection lists).
  std::function<void(ITEMIDLIST*)> free_item_list;
};
void set_shell_seam(ShellSeam seam);
const ShellSeam& shell_seam();

// Parts of a message box the driver and the log need.
struct MessageBoxInfo {
  std::u16string caption;
  std::u16string text;
  UINT type = 0;
  std::vector<int> buttons;  // command ids in display order
};
// The message box behind a message-box window, or null.
const MessageBoxInfo* MessageBoxFor(HWND hwnd);

// State of an open file or folder dialog, for the driver's `choose`.
struct PickerState {
  std::u16string path;         // what `choose` set
  std::u16string selection;    // folder dialogs: the current selection
  bool ok_enabled = true;
  std::u16string status;
  bool shows_status = false;  // folder dialogs asked with BIF_STATUSTEXT
  // File dialogs: the filters ("Images", "*.img;*.vhd") in order, the one
  // shown first (0-based), and the folder the dialog opens in.
  std::vector<std::pair<std::u16string, std::u16string>> filters;
  size_t filter_index = 0;
  std::u16string folder;
};
PickerState* PickerFor(HWND hwnd);
// Picks `path` in an open file or folder dialog: the choice is posted and,
// when its loop runs it, ends the dialog with IDOK (or keeps it open when the
// program refuses). False when `hwnd` is no picker.
bool ChooseInPicker(HWND hwnd, const std::u16string& path);
// Ends an open picker or message box with `result`.
bool EndPickerOrBox(HWND hwnd, int result);

}  // namespace platform::ui
