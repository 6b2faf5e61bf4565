// CFileTreeCtrl: the shell namespace from the Desktop down, in a tree whose
// check boxes say how much of each folder is chosen (some or all of its
// files, some or all of its subfolders). Children are listed when a folder
// is first expanded. Two maps hold what is ticked: files (item -> path) and
// folders whose contents were never listed (item -> scope mark "f" files
// only, "F" subfolders only, "A" everything, followed by the path); the
// owner turns them into the list of paths to copy (GetCheckedPaths).
//
// Two modes, chosen by FileTreeGlobals.showFilesMode before PopulateTree:
// file mode (1) lists files, folders and hidden items and lets them be
// ticked; folder mode (0) lists folders only, each with an expand button,
// and never changes a check state.
//
// The owner hands the tree its browse and Next buttons; they follow the
// ticks: enabled while something is ticked (Next only once the owner set
// destinationChosen), disabled when nothing is. What is ticked is read from
// the items themselves after every action, so Shift-clicks and partial
// states cannot leave the buttons out of step.
//
// Subclasses may override AcceptItemName, the filter of the listing.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/fs/shell_namespace.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"

// The state image of an item (its TickState). For folders the low two bits
// tell the files, the high two the subfolders.
enum TickState : int {
  kRecompute = -1,
  kUnticked = 0,    // drawn as image 1
  kSomeFiles = 2,
  kAllFiles = 3,    // for a folder without counted subfolders: everything
  kSomeFolders = 4,
  kFileTicked = 5,  // files only
  kEmpty = 8,       // nothing countable inside; cannot be ticked
  kNoBox = 9,       // no state image (image 0): the Desktop item
  kAllFolders = 12,
  kAllTicked = 15,
};

// Notification code sent to the parent after every click on a check box.
constexpr UINT TreeCheckChanged = 1034;

// State image bitmaps (16 images of 16 x 15, white mask).
constexpr UINT kFileModeStateBitmap = 573;
constexpr UINT kFolderModeStateBitmap = 227;

// What each inserted item (but the Desktop) carries as its item data.
struct ShellItemRecord {
  IShellFolder* parentFolder;  // the folder that listed it (one reference)
  ITEMIDLIST* relativeId;      // own copy, relative to parentFolder
  ITEMIDLIST* absoluteId;      // own copy
  uint8_t isFolder;
  int32_t subfolderCount;      // -1 not counted
  int32_t fileCount;           // -1 the folder was never listed
  int32_t tickedFileCount;
  int32_t fullSubfolders;
  int32_t partialSubfolders;
  uint8_t spare;
  WCHAR* displayName;
  WCHAR* path;  // parsing name when it is "X:\...", else the display name
};

struct FileTreeGlobalsRecord {
  IShellFolder* desktopFolder = nullptr;
  ITEMIDLIST* desktopId = nullptr;
  uint8_t showFilesMode = 1;
  int32_t tickCount = 0;  // items holding a tick; never below 0
  uint8_t browseEnabled = 0;
  uint8_t nextEnabled = 0;
  uint8_t destinationChosen = 0;
  CString lastDisplayName;
};
extern FileTreeGlobalsRecord FileTreeGlobals;

// Whether a state with its record means "everything ticked".
bool IsFullyTicked(int state, const ShellItemRecord* record);
// The state a folder's counters give.
int Derive(const ShellItemRecord& record);

class CFileTreeCtrl : public CTreeCtrl {
 public:
  CFileTreeCtrl();
  ~CFileTreeCtrl() override;

  // The filter of the listing: asked for each file (with its path) before it
  // is inserted, and by HasChildItems for each entry of a folder (its name).
  virtual bool AcceptItemName(CString name);

  bool PopulateTree();
  bool InsertChildItems(IShellFolder* folder, const ITEMIDLIST* parentAbsoluteId, HTREEITEM parentItem);
  bool HasChildItems(const CString& path);
  bool IsExcludedPath(const CString& path) const;
  int GetItemState(HTREEITEM item, ShellItemRecord** record);
  bool SetItemState(HTREEITEM item, int state, int mode);
  bool ToggleItemCheck(HTREEITEM item);
  bool TickItem(HTREEITEM item);
  bool UntickItem(HTREEITEM item);
  bool ShiftToggleItem(HTREEITEM item);
  // Sorted (A-Z folded) map values; the caller's array is replaced.
  int GetCheckedFilePaths(std::vector<CString>& paths) const;
  int GetCheckedFolderPaths(std::vector<CString>& paths) const;
  void RecomputeTreeStates() { SetItemState(rootItem, kRecompute, 3); }
  // Counts the items that hold a tick, sets tickCount and the owner's buttons.
  void RecountTicks();

  // The restore program's folder chooser: always folder mode, every item
  // with its attributes as the shell gives them (no ".zip" handling, no
  // test of display names for "\\"), paths always the parsing names, and
  // a folder with nothing below it shown as empty (state image 8, counters
  // 0). Set before PopulateTree.
  bool restoreVariant = false;

  CWnd* browseButton = nullptr;
  CWnd* nextButton = nullptr;
  CString lastError;
  std::vector<CString> excludedFolders;
  HTREEITEM rootItem = nullptr;

  BOOL PreTranslateMessage(MSG* msg) override;

 protected:
  int OnCreate(void* create);
  void OnDestroy();
  void OnLButtonDown(UINT flags, CPoint point);
  void OnKeyDown(UINT key, UINT repeat, UINT flags);
  void OnRButtonDown(UINT flags, CPoint point);
  void OnItemExpanding(NMHDR* header, LRESULT* result);
  void OnDeleteItem(NMHDR* header, LRESULT* result);

 private:
  // Ordered maps stand in for the hash maps; both are keyed by item handle.
  struct TickEntry {
    HTREEITEM item;
    CString value;
  };
  std::vector<TickEntry> tickedFiles;
  std::vector<TickEntry> tickedFolders;
  static void Store(std::vector<TickEntry>& map, HTREEITEM item, const CString& value);
  static void Remove(std::vector<TickEntry>& map, HTREEITEM item);
  static int SortedValues(const std::vector<TickEntry>& map, std::vector<CString>& out);

  void TickCountUp();
  void TickCountDown();
  void DisableOwnerButtons();
  bool IsTickableOnDisk(const ShellItemRecord* record) const;
  bool PassesNameTest(HTREEITEM item);
  void FreeRecord(ShellItemRecord* record);
  ShellItemRecord* RecordOf(HTREEITEM item) const;
  WCHAR* AllocTaskText(const CString& text);

  CImageList systemImages;
  CImageList stateImages;
  IMalloc* allocator = nullptr;
  DECLARE_MESSAGE_MAP()
};
