// CBackupFiles: the first page of the file and folder migration (dialog
// 205). The user ticks files and folders in the shell tree, chooses a
// destination folder ("..." or typed), and Next turns the ticks into
// MigrationState's items and runs the copy page (CClone1), which comes back
// here on Back or closes both pages.
#pragma once

#include "mainapp/migrate/file_tree_ctrl.h"
#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/dialog.h"

class CBackupFiles : public CDialog {
 public:
  static constexpr UINT IDD = 205;
  static constexpr int kTree = 1172;
  static constexpr int kDestination = 1017;
  static constexpr int kBrowse = 1026;
  static constexpr int kNext = 1007;
  static constexpr int kBack = 4;
  static constexpr int kGetFiles = 1098;
  static constexpr int kGetFolders = 1099;

  explicit CBackupFiles(CWnd* parent = nullptr);
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;

  // Rebuilds selectionText and MigrationState.lineCount from the tree.
  void ListSelectedItems();
  void ListSelectedFolders();
  // Next: the copy list, then the copy page.
  void BuildMigrationItems();
  void OnBrowseDestination();
  void OnDestinationLeave();
  // The folder dialog; MigrationState.destination keeps its value when cancelled.
  void BrowseForDestination(HWND owner);

  CFileTreeCtrl tree;
  CString destinationText;
  CString selectionText;

 protected:
  void OnTreeClick(NMHDR* header, LRESULT* result);
  void OnTreeSelectionChanged(NMHDR* header, LRESULT* result);
  void OnTreeExpanded(NMHDR* header, LRESULT* result);
  void OnHeadingFocus();

 private:
  PageHeaderFonts fonts_;
  DECLARE_MESSAGE_MAP()
};

// The line a ticked network place gives: "Folder:\\host\share\r\n" for a
// line whose path holds "\NetHood\" followed by "share on host" or
// "share (host)"; the line itself when it does not have that form.
CString NetworkPlaceLine(const CString& line);
