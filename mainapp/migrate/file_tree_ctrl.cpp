#include "mainapp/migrate/file_tree_ctrl.h"

#include <algorithm>
#include <cstring>

#include "disk/volume_space.h"
#include "platform/core/ascii_case.h"
#include "program_support/wait_cursor.h"
#include "mainapp/migrate/shell_folder_names.h"
#include "platform/fs/file_api.h"
#include "platform/core/clock.h"
#include "platform/fs/shell_folders.h"
#include "platform/ui/message_map.h"

FileTreeGlobalsRecord FileTreeGlobals;

BEGIN_MESSAGE_MAP(CFileTreeCtrl, CTreeCtrl)
  ON_WM_CREATE()
  ON_WM_DESTROY()
  ON_WM_LBUTTONDOWN()
  ON_WM_KEYDOWN()
  ON_WM_RBUTTONDOWN()
  ON_NOTIFY_REFLECT(TVN_ITEMEXPANDING, &CFileTreeCtrl::OnItemExpanding)
  ON_NOTIFY_REFLECT(TVN_DELETEITEM, &CFileTreeCtrl::OnDeleteItem)
END_MESSAGE_MAP()

namespace {

constexpr int kNameBuffer = MAX_PATH;
constexpr DWORD kChildSearchLimitMs = 500;

bool EndsWithNoCase(const CString& text, const char16_t* tail) {
  const int n = static_cast<int>(std::char_traits<char16_t>::length(tail));
  return text.GetLength() >= n && text.Right(n).CompareNoCase(tail) == 0;
}

bool IsAcceptedState(int state) {
  return state == kRecompute || (state >= 0 && state <= 9) || state == 12 || state == 14 || state == 15;
}

// Comparison for SortChildrenCB: folders before files, else the Desktop
// folder's order of the two absolute ids.
int CompareItems(LPARAM first, LPARAM second, LPARAM) {
  auto* a = reinterpret_cast<ShellItemRecord*>(first);
  auto* b = reinterpret_cast<ShellItemRecord*>(second);
  if (!a || !b) return 0;
  if (a->isFolder != b->isFolder) return a->isFolder ? -1 : 1;
  IShellFolder* desktop = FileTreeGlobals.desktopFolder;
  if (!desktop) return 0;
  const HRESULT r = desktop->CompareIDs(0, a->absoluteId, b->absoluteId);
  return static_cast<int16_t>(static_cast<uint16_t>(r & 0xFFFF));
}

CString NameOf(IShellFolder* folder, PCUITEMID_CHILD child, SHGDNF flags, bool* ok) {
  STRRET ret{};
  WCHAR buffer[kNameBuffer] = {};
  *ok = SUCCEEDED(folder->GetDisplayNameOf(child, flags, &ret)) &&
        SUCCEEDED(StrRetToBufW(&ret, child, buffer, kNameBuffer));
  return CString(buffer);
}

int IconOf(const ITEMIDLIST* absolute, bool open) {
  SHFILEINFOW info{};
  UINT flags = SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
  if (open) flags |= SHGFI_OPENICON;
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(absolute), 0, &info, sizeof(info), flags);
  return info.iIcon;
}

}  // namespace

bool IsFullyTicked(int state, const ShellItemRecord* record) {
  return state == kAllTicked || (state == kAllFiles && record && record->subfolderCount == 0);
}

int Derive(const ShellItemRecord& r) {
  int state = 0;
  if (r.fileCount != 0)
    state = r.tickedFileCount == r.fileCount ? 3 : r.tickedFileCount != 0 ? 2 : 0;
  else
    state = r.fullSubfolders == r.subfolderCount ? 3 : 0;
  if (r.fullSubfolders != 0 || r.partialSubfolders != 0) state |= r.fullSubfolders == r.subfolderCount ? 12 : 4;
  return state;
}

CFileTreeCtrl::CFileTreeCtrl() {
  if (!FileTreeGlobals.desktopFolder) SHGetDesktopFolder(&FileTreeGlobals.desktopFolder);
}

CFileTreeCtrl::~CFileTreeCtrl() {
  systemImages.Detach();
  if (allocator) allocator->Release();
}

bool CFileTreeCtrl::AcceptItemName(CString) { return true; }

ShellItemRecord* CFileTreeCtrl::RecordOf(HTREEITEM item) const {
  return item ? reinterpret_cast<ShellItemRecord*>(GetItemData(item)) : nullptr;
}

// ---- the tick maps ----

void CFileTreeCtrl::Store(std::vector<TickEntry>& map, HTREEITEM item, const CString& value) {
  for (TickEntry& e : map)
    if (e.item == item) {
      e.value = value;
      return;
    }
  map.push_back({item, value});
}

void CFileTreeCtrl::Remove(std::vector<TickEntry>& map, HTREEITEM item) {
  map.erase(std::remove_if(map.begin(), map.end(), [&](const TickEntry& e) { return e.item == item; }), map.end());
}

int CFileTreeCtrl::SortedValues(const std::vector<TickEntry>& map, std::vector<CString>& out) {
  out.clear();
  for (const TickEntry& e : map) out.push_back(e.value);
  // Only A-Z fold; other characters compare by code.
  std::stable_sort(out.begin(), out.end(), [&](const CString& a, const CString& b) {
    const int n = std::min(a.GetLength(), b.GetLength());
    for (int i = 0; i < n; ++i) {
      const char16_t x = platform::AsciiLower(a[i]), y = platform::AsciiLower(b[i]);
      if (x != y) return x < y;
    }
    return a.GetLength() < b.GetLength();
  });
  return static_cast<int>(out.size());
}

int CFileTreeCtrl::GetCheckedFilePaths(std::vector<CString>& paths) const { return SortedValues(tickedFiles, paths); }
int CFileTreeCtrl::GetCheckedFolderPaths(std::vector<CString>& paths) const {
  return SortedValues(tickedFolders, paths);
}

// ---- the owner's buttons ----

void CFileTreeCtrl::TickCountUp() {
  ++FileTreeGlobals.tickCount;
  if (FileTreeGlobals.tickCount == 0) return;
  if (browseButton) browseButton->EnableWindow(TRUE);
  FileTreeGlobals.browseEnabled = 1;
  if (FileTreeGlobals.destinationChosen) {
    if (nextButton) nextButton->EnableWindow(TRUE);
    FileTreeGlobals.nextEnabled = 1;
  }
}

void CFileTreeCtrl::DisableOwnerButtons() {
  if (browseButton) browseButton->EnableWindow(FALSE);
  if (nextButton) nextButton->EnableWindow(FALSE);
  FileTreeGlobals.browseEnabled = 0;
  FileTreeGlobals.nextEnabled = 0;
}

void CFileTreeCtrl::TickCountDown() {
  if (FileTreeGlobals.tickCount > 0) --FileTreeGlobals.tickCount;
  if (FileTreeGlobals.tickCount == 0) DisableOwnerButtons();
}

void CFileTreeCtrl::RecountTicks() {
  if (!m_hWnd) return;
  // Every folder's state against its listed children, bottom up, then the
  // number of items that hold a tick.
  int32_t ticked = 0;
  struct Frame {
    HTREEITEM item;
    bool childrenDone;
  };
  std::vector<Frame> stack;
  for (HTREEITEM top = GetChildItem(TVI_ROOT); top; top = GetNextSiblingItem(top)) stack.push_back({top, false});
  const size_t limit = static_cast<size_t>(GetCount()) * 2 + 2;
  size_t steps = 0;
  while (!stack.empty() && steps++ < limit) {
    Frame& f = stack.back();
    if (!f.childrenDone) {
      f.childrenDone = true;
      const HTREEITEM item = f.item;
      for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) stack.push_back({c, false});
      continue;
    }
    const HTREEITEM item = f.item;
    stack.pop_back();
    ShellItemRecord* rec = nullptr;
    int state = GetItemState(item, &rec);
    if (FileTreeGlobals.showFilesMode && rec && rec->isFolder && rec->fileCount != -1) {
      rec->fileCount = rec->tickedFileCount = rec->fullSubfolders = rec->partialSubfolders = 0;
      rec->subfolderCount = 0;
      for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) {
        ShellItemRecord* crec = nullptr;
        const int cs = GetItemState(c, &crec);
        if (!crec || cs == kEmpty || cs == kNoBox) continue;
        if (crec->isFolder) {
          ++rec->subfolderCount;
          if (IsFullyTicked(cs, crec))
            ++rec->fullSubfolders;
          else if (cs != kUnticked)
            ++rec->partialSubfolders;
        } else {
          ++rec->fileCount;
          if (cs == kFileTicked) ++rec->tickedFileCount;
        }
      }
      const int derived = rec->fileCount == 0 && rec->subfolderCount == 0 ? kEmpty : Derive(*rec);
      if (derived != state) {
        SetItemState(item, derived, 0);
        state = derived;
      }
    }
    if (state != kUnticked && state != kEmpty && state != kNoBox && state >= 0) ++ticked;
  }
  FileTreeGlobals.tickCount = ticked;
  if (ticked == 0) {
    DisableOwnerButtons();
  } else {
    --FileTreeGlobals.tickCount;
    TickCountUp();
  }
}

// ---- filling ----

bool CFileTreeCtrl::PopulateTree() {
  if (restoreVariant) FileTreeGlobals.showFilesMode = 0;
  if (systemImages.GetSafeHandle()) systemImages.Detach();
  SHFILEINFOW info{};
  auto list = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(u"C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  if (!list) {
    lastError = u"Cannot retrieve the Handle of SystemImageList!";
    return false;
  }
  systemImages.Attach(list);
  SetImageList(&systemImages, TVSIL_NORMAL);

  stateImages.DeleteImageList();
  stateImages.Create(16, 15, ILC_COLOR24 | ILC_MASK, 16, 1);
  CBitmap strip;
  if (strip.LoadBitmap(FileTreeGlobals.showFilesMode ? kFileModeStateBitmap : kFolderModeStateBitmap))
    stateImages.Add(&strip, RGB(255, 255, 255));
  SetImageList(&stateImages, TVSIL_STATE);
  // What a script's tick and untick aim for: the boxes that show a tick.
  platform::ui::SetTreeTickImages(m_hWnd, {kAllFiles, kFileTicked, kAllTicked}, {0, 1});

  if (!allocator && FAILED(SHGetMalloc(&allocator))) return false;
  if (GetStyle() & TVS_EDITLABELS) ModifyStyle(TVS_EDITLABELS, 0);
  DeleteAllItems();

  SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &FileTreeGlobals.desktopId);
  SHGetFileInfoW(reinterpret_cast<LPCWSTR>(FileTreeGlobals.desktopId), 0, &info, sizeof(info),
                 SHGFI_PIDL | SHGFI_DISPLAYNAME);
  TVINSERTSTRUCTW in{};
  in.hParent = TVI_ROOT;
  in.hInsertAfter = TVI_LAST;
  in.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  in.item.pszText = info.szDisplayName;
  in.item.iImage = IconOf(FileTreeGlobals.desktopId, false);
  in.item.iSelectedImage = IconOf(FileTreeGlobals.desktopId, true);
  rootItem = InsertItem(&in);

  SetWaitCursor();
  if (FileTreeGlobals.desktopFolder) InsertChildItems(FileTreeGlobals.desktopFolder, nullptr, rootItem);
  RestoreCursor();
  SetItemState(rootItem, kNoBox, 0);
  Expand(rootItem, TVE_EXPAND);
  ILFree(FileTreeGlobals.desktopId);
  FileTreeGlobals.desktopId = nullptr;
  return true;
}

bool CFileTreeCtrl::InsertChildItems(IShellFolder* folder, const ITEMIDLIST* parentAbsoluteId,
                                     HTREEITEM parentItem) {
  if (!allocator && FAILED(SHGetMalloc(&allocator))) return false;
  if (!folder) return false;
  ShellItemRecord* parent = RecordOf(parentItem);
  if (!restoreVariant && parent && parent->path && EndsWithNoCase(CString(parent->path), u".zip")) return false;
  const bool fileMode = FileTreeGlobals.showFilesMode != 0;
  IEnumIDList* children = nullptr;
  const SHCONTF what = fileMode ? (SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN) : SHCONTF_FOLDERS;
  if (FAILED(folder->EnumObjects(m_hWnd, what, &children)) || !children) return false;

  const bool relist = parentItem == rootItem || (parent && parent->fileCount != -1);
  if (relist)
    for (HTREEITEM c = GetChildItem(parentItem); c; c = GetNextSiblingItem(c))
      if (ShellItemRecord* r = RecordOf(c)) r->spare = 0;
  if (parent)
    parent->subfolderCount = parent->fileCount = parent->tickedFileCount = parent->fullSubfolders =
        parent->partialSubfolders = 0;

  bool accepted = false;
  bool reachedEnd = true;
  for (;;) {
    PITEMID_CHILD child = nullptr;
    ULONG fetched = 0;
    if (children->Next(1, &child, &fetched) != S_OK || fetched != 1 || !child) break;
    bool okName = false, okPath = false;
    const CString name = NameOf(folder, child, SHGDN_NORMAL, &okName);
    const CString path = NameOf(folder, child, SHGDN_FORPARSING, &okPath);
    FileTreeGlobals.lastDisplayName = name;
    if (!okName || !okPath) {
      ILFree(child);
      reachedEnd = false;
      break;
    }
    const SFGAOF asked =
        restoreVariant ? SFGAO_FOLDER | SFGAO_HASSUBFOLDER : SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_HASSUBFOLDER;
    SFGAOF attributes = asked;
    PCUITEMID_CHILD one[] = {child};
    if (FAILED(folder->GetAttributesOf(1, one, &attributes))) attributes = 0;
    attributes &= asked;
    const bool link = path.GetLength() >= 4 && path.Right(4) == CString(u".lnk");
    const bool networkName = !restoreVariant && name.Find(u"\\\\", 1) >= 1;
    if (link || !attributes || networkName) {
      ILFree(child);
      continue;
    }
    if (!restoreVariant && EndsWithNoCase(path, u".zip")) attributes = 0;
    const bool isFolder = (attributes & SFGAO_FOLDER) != 0;
    bool hasChildren = false;
    bool emptyFolder = false;
    if (isFolder) {
      if (IsExcludedPath(path)) {
        ILFree(child);
        continue;
      }
      hasChildren = (attributes & SFGAO_HASSUBFOLDER) ? true : HasChildItems(path);
      emptyFolder = restoreVariant && !hasChildren;
      if (!fileMode) hasChildren = true;
    } else if (!AcceptItemName(path)) {
      ILFree(child);
      continue;
    }
    accepted = true;

    auto* record = static_cast<ShellItemRecord*>(allocator->Alloc(sizeof(ShellItemRecord)));
    if (!record) {
      ILFree(child);
      reachedEnd = false;
      break;
    }
    const bool fsPath = path.GetLength() >= 3 && path[1] == u':' && path[2] == u'\\';
    record->displayName = AllocTaskText(name);
    record->path = AllocTaskText(fsPath || restoreVariant ? path : name);
    record->parentFolder = folder;
    folder->AddRef();
    record->relativeId = ILClone(child);
    record->absoluteId = ILCombine(parentAbsoluteId, child);
    record->isFolder = isFolder ? 1 : 0;
    const int32_t counters = emptyFolder ? 0 : -1;
    record->subfolderCount = record->fileCount = record->tickedFileCount = record->fullSubfolders =
        record->partialSubfolders = counters;
    record->spare = 0;
    if (isFolder) {
      if (hasChildren && parent) ++parent->subfolderCount;
    } else if (parent) {
      ++parent->fileCount;
    }

    if (!HasExcludedFolderPrefix(name)) {
      TVINSERTSTRUCTW in{};
      in.hParent = parentItem;
      in.hInsertAfter = TVI_FIRST;
      in.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
      WCHAR text[kNameBuffer] = {};
      std::char_traits<char16_t>::copy(text, name.GetString(),
                                       std::min<size_t>(static_cast<size_t>(name.GetLength()), kNameBuffer - 1));
      in.item.pszText = text;
      in.item.iImage = IconOf(record->absoluteId, false);
      in.item.iSelectedImage = IconOf(record->absoluteId, true);
      in.item.lParam = reinterpret_cast<LPARAM>(record);
      in.item.cChildren = hasChildren ? 1 : 0;
      if (emptyFolder) {
        in.item.mask |= TVIF_STATE;
        in.item.state = INDEXTOSTATEIMAGEMASK(kEmpty);
        in.item.stateMask = TVIS_STATEIMAGEMASK;
      }
      if (!InsertItem(&in)) FreeRecord(record);
    } else {
      // Not shown; its count stays with the parent.
      FreeRecord(record);
    }
    ILFree(child);
  }
  children->Release();
  if (!reachedEnd) return accepted;

  if (parent && parent->fileCount == 0 && parent->subfolderCount == 0) SetItemState(parentItem, kEmpty, 2);
  TVSORTCB sort{parentItem, &CompareItems, 0};
  SortChildrenCB(&sort);
  SetItemState(parentItem, kRecompute, relist ? 3 : 1);
  return accepted;
}

WCHAR* CFileTreeCtrl::AllocTaskText(const CString& text) {
  const size_t n = static_cast<size_t>(text.GetLength());
  auto* copy = static_cast<WCHAR*>(allocator->Alloc((n + 1) * sizeof(WCHAR)));
  if (!copy) return nullptr;
  std::char_traits<char16_t>::copy(copy, text.GetString(), n);
  copy[n] = 0;
  return copy;
}

bool CFileTreeCtrl::HasChildItems(const CString& path) {
  const DWORD start = GetTickCount();
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW(path + u"\\*.*", &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    const CString name(entry.cFileName);
    if (name != CString(u".") && name != CString(u"..") && AcceptItemName(name)) {
      found = true;
      break;
    }
    if (GetTickCount() - start > kChildSearchLimitMs) {
      found = true;
      break;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return found;
}

bool CFileTreeCtrl::IsExcludedPath(const CString& path) const {
  if (excludedFolders.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  return std::find(excludedFolders.begin(), excludedFolders.end(), path) != excludedFolders.end();
}

void CFileTreeCtrl::FreeRecord(ShellItemRecord* record) {
  if (!record || !allocator) return;
  allocator->Free(record->path);
  allocator->Free(record->displayName);
  if (record->parentFolder) record->parentFolder->Release();
  ILFree(record->relativeId);
  ILFree(record->absoluteId);
  allocator->Free(record);
}

// ---- states ----

int CFileTreeCtrl::GetItemState(HTREEITEM item, ShellItemRecord** record) {
  if (!item) {
    lastError = u"NULL item in CFileTreeCtrl::GetItemState!";
    return kRecompute;
  }
  if (record) *record = RecordOf(item);
  const UINT image = CTreeCtrl::GetItemState(item, TVIS_STATEIMAGEMASK) >> 12;
  if (image == 0) return kNoBox;
  if (image == 1) return kUnticked;
  return static_cast<int>(image);
}

bool CFileTreeCtrl::SetItemState(HTREEITEM item, int s, int mode) {
  if (!FileTreeGlobals.showFilesMode) return true;
  if (!item) {
    lastError = u"NULL item in CFileTreeCtrl::SetItemState!";
    return false;
  }
  if (!IsAcceptedState(s)) return false;
  ShellItemRecord* rec = nullptr;
  const int cur = GetItemState(item, &rec);
  if (cur == s) return false;
  if (rec && rec->isFolder && s == kFileTicked) return false;
  if (rec && !rec->isFolder && s != kUnticked && s != kFileTicked && s != kEmpty && s != kRecompute) return false;

  if (rec && rec->isFolder && rec->subfolderCount == -1) {
    if (s == kUnticked) Remove(tickedFolders, item);
    const char16_t* mark = s == kAllFiles ? u"f" : s == kAllFolders ? u"F" : s == kAllTicked ? u"A" : nullptr;
    if (mark) Store(tickedFolders, item, CString(mark) + rec->path);
  } else if (rec && !rec->isFolder) {
    if (s == kFileTicked) Store(tickedFiles, item, CString(rec->path));
    if (s == kUnticked) Remove(tickedFiles, item);
  }

  if (s != kRecompute) {
    const UINT image = s == kNoBox ? 0 : s == kUnticked ? 1 : static_cast<UINT>(s);
    if (!CTreeCtrl::SetItemState(item, INDEXTOSTATEIMAGEMASK(image), TVIS_STATEIMAGEMASK)) return false;
  } else if (mode == 1 && cur != kUnticked) {
    s = cur;
  } else if (mode == 3) {
    if (rec && rec->fileCount != -1)
      rec->subfolderCount = rec->fileCount = rec->tickedFileCount = rec->fullSubfolders = rec->partialSubfolders = 0;
  } else {
    return false;
  }
  if (mode == 0) return true;

  const bool down = s == kUnticked || s == kAllFiles || s == kEmpty || s == kNoBox || s == kAllFolders ||
                    s == kAllTicked || s == kRecompute;
  if ((mode == 1 || mode == 3) && down) {
    for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) {
      ShellItemRecord* crec = nullptr;
      const int cs = GetItemState(c, &crec);
      const bool childFolder = crec && crec->isFolder;
      if (s == kRecompute) {
        if (childFolder) {
          SetItemState(c, kRecompute, 3);
          const int cs2 = GetItemState(c, nullptr);
          if (rec && cs2 != kEmpty) {
            ++rec->subfolderCount;
            if (IsFullyTicked(cs2, crec))
              ++rec->fullSubfolders;
            else if (cs2 != kUnticked)
              ++rec->partialSubfolders;
          }
        } else if (rec && cs != kEmpty) {
          ++rec->fileCount;
          if (cs == kFileTicked) ++rec->tickedFileCount;
        }
        continue;
      }
      if (cs == kEmpty || cs == kNoBox) continue;
      switch (s) {
        case kUnticked:
          TickCountDown();
          SetItemState(c, kUnticked, 3);
          break;
        case kAllFiles:
          SetItemState(c, childFolder ? kUnticked : kFileTicked, 3);
          break;
        case kEmpty:
        case kNoBox:
          SetItemState(c, s, 3);
          break;
        case kAllFolders:
          if (childFolder)
            SetItemState(c, crec->subfolderCount != 0 ? kAllTicked : kAllFiles, 3);
          else
            SetItemState(c, kUnticked, 3);
          break;
        case kAllTicked:
          TickCountUp();
          SetItemState(c, childFolder ? kAllTicked : kFileTicked, 3);
          break;
      }
    }
    if (rec && s == kRecompute) {
      int next = cur;
      if (rec->subfolderCount == 0 && rec->fileCount == 0) {
        next = kEmpty;
      } else if (rec->fileCount == -1) {
        if (rec->isFolder && cur != kUnticked && cur != kAllFiles && cur != kAllFolders && cur != kAllTicked)
          return ToggleItemCheck(item);
        return true;
      } else {
        next = Derive(*rec);
      }
      if (next != cur) SetItemState(item, next, 0);
      return true;
    }
  }
  if (mode == 1) return true;
  if (s == kRecompute && rec) return true;

  // Upwards.
  const HTREEITEM parentItem = GetParentItem(item);
  if (!parentItem) return false;
  if (parentItem == rootItem) return true;
  ShellItemRecord* prec = nullptr;
  const int ps = GetItemState(parentItem, &prec);
  if (ps == kNoBox || !prec) return false;
  int next = 0;
  const bool folder = rec && rec->isFolder;
  if (s == kEmpty) {
    if (!folder) {
      --prec->fileCount;
      if (cur == kFileTicked) --prec->tickedFileCount;
    } else {
      --prec->subfolderCount;
      if (IsFullyTicked(cur, rec))
        --prec->fullSubfolders;
      else if (cur != kUnticked)
        --prec->partialSubfolders;
    }
    next = ps;
  } else if (cur == kUnticked && s == kFileTicked) {
    ++prec->tickedFileCount;
  } else if (cur == kUnticked && folder) {
    if (IsFullyTicked(s, rec))
      ++prec->fullSubfolders;
    else
      ++prec->partialSubfolders;
  } else if (cur == kFileTicked) {
    --prec->tickedFileCount;
  } else if (folder) {
    const bool wasFull = IsFullyTicked(cur, rec);
    const bool isFull = IsFullyTicked(s, rec);
    if (s == kUnticked) {
      if (wasFull)
        --prec->fullSubfolders;
      else
        --prec->partialSubfolders;
    } else if (!wasFull && isFull) {
      --prec->partialSubfolders;
      ++prec->fullSubfolders;
    } else if (wasFull && !isFull) {
      ++prec->partialSubfolders;
      --prec->fullSubfolders;
    }
  }
  if (s == kEmpty && prec->subfolderCount == 0 && prec->fileCount == 0)
    next = kEmpty;
  else
    next |= Derive(*prec);
  if (next != ps) {
    SetItemState(parentItem, next, 2);
    if (next == kUnticked) TickCountDown();
  }
  if (FileTreeGlobals.tickCount == 0) DisableOwnerButtons();
  return true;
}

// ---- the click and key actions ----

bool CFileTreeCtrl::IsTickableOnDisk(const ShellItemRecord* record) const {
  if (!record || !record->path) return false;
  const DWORD attributes = GetFileAttributesW(record->path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  constexpr DWORD kKnown = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
  return (attributes & kKnown) != 0;
}

bool CFileTreeCtrl::PassesNameTest(HTREEITEM item) {
  CString chain;
  int hops = 0;
  for (HTREEITEM at = item; at && hops++ < 1024; at = GetParentItem(at)) chain = GetItemText(at) + u"\\" + chain;
  const int colon = chain.Find(u':');
  CString rest = colon >= 0 ? chain.Mid(colon + 1) : chain;
  if (!rest.IsEmpty()) rest = rest.Left(rest.GetLength() - 1);
  if (rest == CString(u")")) return true;  // a drive
  const CString label = GetItemText(item);
  return !(rest.Find(label) < 0 && IsExcludedFolderName(label));
}

bool CFileTreeCtrl::ToggleItemCheck(HTREEITEM item) {
  // Folder mode changes no box, and so no count either.
  if (!FileTreeGlobals.showFilesMode) return true;
  if (!item) return false;
  ShellItemRecord* rec = nullptr;
  const int state = GetItemState(item, &rec);
  if (!IsTickableOnDisk(rec)) return false;
  if (!PassesNameTest(item)) return false;
  if (state == kNoBox || state == kEmpty) return false;
  if (state == kFileTicked) return UntickItem(item);
  int next = 0;
  // A listed folder shows what its children hold: a click on a partly
  // ticked one ticks all of it (a partial state written on its own would be
  // recomputed from the unchanged children at once).
  if (rec->isFolder && rec->fileCount != -1 && state != kUnticked && state != kAllFiles && state != kAllFolders &&
      state != kAllTicked) {
    TickCountUp();
    SetItemState(item, kAllTicked, 3);
    return true;
  }
  if (rec->isFolder) {
    switch (state) {
      case kUnticked:
        TickCountUp();
        next = kAllTicked;
        break;
      case kAllFiles:
        next = rec->subfolderCount != 0 ? kAllTicked : kUnticked;
        break;
      case kAllFolders:
        next = kUnticked;
        break;
      case kAllTicked:
        TickCountDown();
        next = kUnticked;
        break;
      default:
        return TickItem(item);
    }
  } else {
    return TickItem(item);
  }
  SetItemState(item, next, 3);
  return true;
}

bool CFileTreeCtrl::TickItem(HTREEITEM item) {
  // Folder mode changes no box, and so no count either.
  if (!FileTreeGlobals.showFilesMode) return true;
  ShellItemRecord* rec = nullptr;
  const int state = GetItemState(item, &rec);
  if (state == kEmpty || state == kNoBox || state < 0) return false;
  if (state == kFileTicked || state == kAllTicked) return true;
  int next = 0;
  switch (state) {
    case kUnticked: next = rec && rec->isFolder ? kAllFiles : kFileTicked; break;
    case 2: case 6: case 14: next = state + 1; break;
    case 3: case 7: next = kAllTicked; break;
    case 4: case 12: next = state + 3; break;
    default: next = 0;
  }
  TickCountUp();
  SetItemState(item, next, 3);
  return true;
}

bool CFileTreeCtrl::UntickItem(HTREEITEM item) {
  // Folder mode changes no box, and so no count either.
  if (!FileTreeGlobals.showFilesMode) return true;
  const int state = GetItemState(item, nullptr);
  if (state == kEmpty || state == kNoBox || state < 0) return false;
  if (state == kUnticked) return true;
  int next = 0;
  switch (state) {
    case 2: case 6: case 14: next = state - 2; break;
    case 3: case 7: case 15: next = state - 3; break;
    default: next = 0;
  }
  TickCountDown();
  SetItemState(item, next, 3);
  return true;
}

bool CFileTreeCtrl::ShiftToggleItem(HTREEITEM item) {
  // Folder mode changes no box, and so no count either.
  if (!FileTreeGlobals.showFilesMode) return true;
  ShellItemRecord* rec = nullptr;
  const int state = GetItemState(item, &rec);
  if (state == kEmpty || state == kNoBox || state < 0) return false;
  const bool folder = rec && rec->isFolder;
  if (!folder && state == kUnticked) return TickItem(item);
  int next = 0;
  // A listed folder in a partial state is cleared with its children (see
  // ToggleItemCheck).
  const bool partial = state != kUnticked && state != kAllFiles && state != kAllFolders && state != kAllTicked;
  if (folder && rec->fileCount != -1 && partial) {
    TickCountDown();
    SetItemState(item, kUnticked, 3);
    return true;
  }
  if (folder && state == kUnticked)
    next = rec->subfolderCount != 0 ? kAllFolders : kAllTicked;
  else if (state == kAllFolders)
    next = kAllTicked;
  else if (state == kAllFiles || state == kAllTicked)
    next = kUnticked;
  else
    return UntickItem(item);
  SetItemState(item, next, 3);
  return true;
}

// ---- messages ----

BOOL CFileTreeCtrl::PreTranslateMessage(MSG* msg) {
  // Double clicks neither expand nor toggle.
  if (msg && msg->message == WM_LBUTTONDBLCLK && msg->hwnd == m_hWnd) msg->message = WM_NULL;
  return CTreeCtrl::PreTranslateMessage(msg);
}

int CFileTreeCtrl::OnCreate(void* create) {
  const int result = CTreeCtrl::OnCreate(create);
  PopulateTree();
  return result;
}

void CFileTreeCtrl::OnDestroy() {
  // Every item's record (names, item lists, its folder) goes with it
  // (OnDeleteItem): the control's own end announces none of them.
  DeleteAllItems();
  excludedFolders.clear();
  if (FileTreeGlobals.desktopFolder) {
    FileTreeGlobals.desktopFolder->Release();
    FileTreeGlobals.desktopFolder = nullptr;
  }
  CTreeCtrl::OnDestroy();
}

void CFileTreeCtrl::OnLButtonDown(UINT flags, CPoint point) {
  UINT where = 0;
  const HTREEITEM item = HitTest(point, &where);
  if (!item || !(where & TVHT_ONITEMSTATEICON)) {
    CTreeCtrl::OnLButtonDown(flags, point);
    return;
  }
  if (flags & MK_SHIFT)
    ShiftToggleItem(item);
  else
    ToggleItemCheck(item);
  RecountTicks();
  if (CWnd* parent = GetParent()) {
    NMTREEVIEWW nm{};
    nm.hdr.hwndFrom = m_hWnd;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID());
    nm.hdr.code = TreeCheckChanged;
    parent->SendMessage(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }
}

void CFileTreeCtrl::OnKeyDown(UINT key, UINT repeat, UINT flags) {
  if (key != VK_SPACE) {
    CTreeCtrl::OnKeyDown(key, repeat, flags);
    return;
  }
  ToggleItemCheck(GetSelectedItem());
  RecountTicks();
}

void CFileTreeCtrl::OnRButtonDown(UINT, CPoint) {}

void CFileTreeCtrl::OnItemExpanding(NMHDR* header, LRESULT* result) {
  *result = 0;
  auto* nm = reinterpret_cast<NMTREEVIEWW*>(header);
  const HTREEITEM item = nm->itemNew.hItem;
  if ((nm->action & 0x3) == TVE_COLLAPSE) {
    if (item == rootItem) *result = 1;
    return;
  }
  if (CTreeCtrl::GetItemState(item, TVIS_EXPANDEDONCE) & TVIS_EXPANDEDONCE) return;
  ShellItemRecord* rec = RecordOf(item);
  if (!rec || !rec->parentFolder) return;
  IShellFolder* sub = nullptr;
  if (FAILED(rec->parentFolder->BindToObject(rec->relativeId, nullptr, IID_IShellFolder,
                                             reinterpret_cast<void**>(&sub))) ||
      !sub)
    return;
  SetWaitCursor();
  if (InsertChildItems(sub, rec->absoluteId, item)) {
    Remove(tickedFolders, item);
  } else {
    TVITEMW it{};
    it.mask = TVIF_CHILDREN;
    it.hItem = item;
    it.cChildren = 0;
    SetItem(&it);
  }
  sub->Release();
  RestoreCursor();
  RecountTicks();
}

void CFileTreeCtrl::OnDeleteItem(NMHDR* header, LRESULT* result) {
  *result = 0;
  auto* nm = reinterpret_cast<NMTREEVIEWW*>(header);
  auto* record = reinterpret_cast<ShellItemRecord*>(nm->itemOld.lParam);
  Remove(tickedFiles, nm->itemOld.hItem);
  Remove(tickedFolders, nm->itemOld.hItem);
  FreeRecord(record);
}
