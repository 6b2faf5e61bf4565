// Yarv, the restore program: the application and its hidden host dialog
// (102), whose start-up loads the settings, chooses the mode from the
// command tail (the boot.ini hand-off "/b" or "/r", "Uninstall", already
// installed, or the restore wizard) and ends the process itself.
#pragma once

#include "platform/ui/dialog.h"

class CYarvApp : public CWinApp {
 public:
  CYarvApp();
  BOOL InitInstance() override;
};

class CYarvDlg : public CDialog {
 public:
  static constexpr UINT IDD = 102;
  explicit CYarvDlg(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnCancel() override;
  BOOL OnQueryEndSession();
  void OnHelpCommand();
  void OnExitCommand();
  void OnUpdateCommand();
  void OnNothing() {}

 private:
  DECLARE_MESSAGE_MAP()
};

// Answers a log-off or shut-down of the machine: true lets it go ahead. While
// a restore runs the user is asked first (the host and the progress page
// both answer this way).
bool AllowEndSession(HWND owner);

// The archive listing of the catalogue appended to the program's file: one
// line per file, folder or partition entry and disk item, each ended by
// "\r\n"; sets ContentsItems and CatalogResult.
CString ReadSelfExtractCatalog();

// Deletes the files (not the folders) directly inside `folder`; refuses an
// empty folder or a drive's root, which are no installation folder.
bool DeleteInstalledFiles(const CString& folder);
