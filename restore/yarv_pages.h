// Yarv's restore wizard: the selection page CRestore1 (236) with the disk
// and partition chooser CDiskSelect (575) and the folder chooser CBit1
// (234); the overwrite prompt CBit (233); the passkey dialog CEncryption
// (237); the progress page CRestoreProgress (185), which runs the restore,
// and the summary CRestoreProgressSummary (184). Pages talk through the
// process-wide values of restore/yarv_state.h.
#pragma once

#include <string>
#include <vector>

#include "mainapp/migrate/file_tree_ctrl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "restore/restore_engine.h"
#include "restore/yarv_disks.h"

// Sets the page's title (1007, bold) and subtitle (1008) in the pages' font
// at TitleFontHeight and SubtitleFontHeight; the fonts live in the page.
void SetTitleFonts(CDialog& page, CFont& title, CFont& subtitle);

class CRestore1 : public CDialog {
 public:
  static constexpr UINT IDD = 236;
  static constexpr int kList = 1100;
  static constexpr int kStart = 1060;
  static constexpr int kBack = 1056;
  static constexpr int kChoose = 1116;
  static constexpr int kOriginal = 1036;
  static constexpr int kNewPlace = 1037;
  static constexpr int kDestination = 1014;
  explicit CRestore1(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnCancel() override;
  void OnStartRestore();
  void ChooseDestination();
  void OnSelectAll();
  void OnDeselectAll();
  void OnOriginal();
  void OnNewPlace();
  void OnTitleFocus();
  void OnNothing() {}
  void FillContentsList();

 private:
  // The destination checks of Start for the disk items; false keeps the page.
  bool CheckDiskDestinations();
  CListCtrl contents_;
  CFont titleFont_, subtitleFont_;
  DECLARE_MESSAGE_MAP()
};

// The next "\r\n"-ended line of ArchiveContentsText from `position` into
// CurrentContentsLine; returns the position after it, -1 when there is none.
int NextContentsLine(int position);
// The description as the destination edit shows it: for a partition the
// disk word and number of its letter first ("Disk1" + description).
CString DestinationLabelText(const CString& description);

class CDiskSelect : public CDialog {
 public:
  static constexpr UINT IDD = 575;
  static constexpr int kList = 1100;
  explicit CDiskSelect(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnOK() override;
  void OnCancel() override;
  void OnItemChanged(NMHDR* header, LRESULT* result);

 private:
  struct Row {
    int marker = 0;  // disk row: -(listed number); partition row: index of its disk row
    RestorePartitionEntry partition;
  };
  CListCtrl list_;
  std::vector<Row> rows_;
  bool filled_ = false;
  bool adjusting_ = false;
  DECLARE_MESSAGE_MAP()
};

class CBit : public CDialog {
 public:
  static constexpr UINT IDD = 233;
  explicit CBit(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnYes();
  void OnYesToAll();
  void OnNo();
  void OnCancel() override;

 private:
  DECLARE_MESSAGE_MAP()
};

class CBit1 : public CDialog {
 public:
  static constexpr UINT IDD = 234;
  static constexpr int kTree = 1053;
  static constexpr int kPath = 1153;
  explicit CBit1(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnOK() override;
  void OnCancel() override;
  void OnSelectionChanged(NMHDR* header, LRESULT* result);

 private:
  CFileTreeCtrl tree_;
  DECLARE_MESSAGE_MAP()
};

// The shell's own folders and the words the tree shows for them.
struct ShellPlaceNames {
  CString personal;        // the user's documents folder
  CString desktop;         // the user's desktop folder
  CString documentsWords;  // the localized "Desktop\My Documents"
  CString desktopWord;     // the localized "Desktop"
};

// The folder a tree's display path names: a drive item's letter and the
// rest ("...\Local Disk (C:)\Windows" gives "C:\Windows"); the documents
// and desktop items as their folders; a share under the network places as
// "\\server\share" with the rest below it. Other paths come back as they
// are (the caller then finds that no such folder exists).
CString FolderOfDisplayPath(const CString& display_path, const ShellPlaceNames& names);
// "\\server\share[\rest]" of a network place's display path ("...\My
// Network Places\data on server (SERVER)\sub"); empty when the path names
// no share.
CString NetworkPlaceOfDisplayPath(const CString& display_path);

class CEncryption : public CDialog {
 public:
  static constexpr UINT IDD = 237;
  static constexpr int kPasskey = 1014;
  static constexpr int kMessage = 1033;
  explicit CEncryption(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnPasskeyOk();
  void OnPasskeyCancel();
  void OnOK() override { OnPasskeyOk(); }
  void OnCancel() override { OnPasskeyCancel(); }

 private:
  CString wrongText_, cancelledText_;
  DECLARE_MESSAGE_MAP()
};

class CRestoreProgress : public CDialog {
 public:
  static constexpr UINT IDD = 185;
  static constexpr int kRestoreNow = 1060;
  static constexpr int kBack = 1056;
  static constexpr int kContents = 1014;
  static constexpr int kBar = 1018;
  explicit CRestoreProgress(CWnd* parent = nullptr);
  ~CRestoreProgress() override;
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnRestoreNow();
  void OnBack();
  void OnCancel() override;
  BOOL OnQueryEndSession();
  void OnTitleFocus();
  // Before each block: bar, sizes, times and the message pump; true when
  // the run is to stop.
  bool UpdateRestoreProgress(int64_t done_sectors);

 private:
  void RunRestore();
  CProgressCtrl bar_;
  CFont titleFont_, subtitleFont_;
  bool progressStarted_ = false;
  DECLARE_MESSAGE_MAP()
};

class CRestoreProgressSummary : public CDialog {
 public:
  static constexpr UINT IDD = 184;
  static constexpr int kFinish = 1057;
  explicit CRestoreProgressSummary(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnFinish();

 private:
  CFont titleFont_, subtitleFont_;
  DECLARE_MESSAGE_MAP()
};

// The run's outcome, kept for the summary.
struct RestoreRunRecord {
  restore::RestoreReport report;
  bool cancelled = false;      // Cancel during the run, or a volume not supplied
  bool diskRestored = false;   // a disk or partition item was written
  int outcome = 10;            // 8 shut down, 9 boot.ini hand-off registered, else restart
  int64_t startTime = 0;
  CString destinationText;
  CString itemLine;
};
extern RestoreRunRecord RestoreRun;
// True while a progress page exists: it answers a log-off for the program,
// so that the user is asked once.
extern bool ProgressPageOpen;
// The contents text of the progress page.
CString RestoreContentsText();
