#include "platform/fs/shell_namespace.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/path_name.h"
#include "platform/fs/shell_folders.h"
#include "platform/machine/machine.h"
#include "platform/storage/volume_table.h"

const GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IEnumIDList = {0x000214F2, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct HIMAGELIST__;
namespace platform::ui {
// The UI library's system image list, when the program carries it (it lives
// above this layer, so it is only looked for, never pulled in).
[[gnu::weak]] HIMAGELIST__* SystemImageList();
}  // namespace platform::ui

constexpr int kCsidlDrives = 0x0011;
constexpr int kCsidlNetwork = 0x0012;

namespace platform::fs {

namespace {

// ---- Item encoding ----------------------------------------------------------------
// abID[0] is the kind: 'V' a virtual or user folder (abID[1] = which), 'D' a
// drive (abID[1] = letter), 'F' a file-system entry (abID[1] = flags, then the
// name as UTF-16).
constexpr BYTE kVirtual = 'V', kDrive = 'D', kEntry = 'F';
enum Virtual : BYTE { kComputer = 1, kNetwork = 2, kLibraries = 3, kControlPanel = 4, kRecycleBin = 5, kDocuments = 6 };
constexpr BYTE kIsFolder = 1, kIsZip = 2, kIsHidden = 4;
constexpr size_t kMaxItems = 512;  // a list longer than this is refused as damaged

using ItemBytes = std::vector<BYTE>;

struct Item {
  BYTE kind = 0;
  BYTE arg = 0;
  std::u16string name;
};

ItemBytes encode(const Item& item) {
  ItemBytes b{item.kind, item.arg};
  for (char16_t c : item.name) {
    b.push_back(static_cast<BYTE>(c & 0xFF));
    b.push_back(static_cast<BYTE>(c >> 8));
  }
  return b;
}

// Splits an id list into items; nullopt for a damaged one.
std::optional<std::vector<Item>> decode(const ITEMIDLIST* list) {
  std::vector<Item> items;
  if (!list) return items;
  auto* p = reinterpret_cast<const BYTE*>(list);
  for (size_t n = 0; n < kMaxItems; ++n) {
    USHORT cb = static_cast<USHORT>(p[0] | (p[1] << 8));
    if (cb == 0) return items;
    if (cb < 4 || (cb - 4) % 2) return std::nullopt;
    Item item{p[2], p[3], {}};
    for (size_t i = 4; i + 1 < cb; i += 2) item.name += static_cast<char16_t>(p[i] | (p[i + 1] << 8));
    items.push_back(std::move(item));
    p += cb;
  }
  return std::nullopt;
}

ITEMIDLIST* make_list(const std::vector<Item>& items) {
  std::vector<BYTE> all;
  for (auto& item : items) {
    ItemBytes b = encode(item);
    USHORT cb = static_cast<USHORT>(b.size() + 2);
    all.push_back(static_cast<BYTE>(cb & 0xFF));
    all.push_back(static_cast<BYTE>(cb >> 8));
    all.insert(all.end(), b.begin(), b.end());
  }
  all.push_back(0);
  all.push_back(0);
  auto* out = static_cast<BYTE*>(CoTaskMemAlloc(all.size()));
  if (!out) return nullptr;
  std::memcpy(out, all.data(), all.size());
  return reinterpret_cast<ITEMIDLIST*>(out);
}

machine::OsFacts os() {
  auto m = machine::CurrentIfOpen();
  return m ? m->os() : machine::OsFacts{};
}

std::u16string virtual_name(BYTE which) {
  auto f = os();
  bool xp = f.major <= 5, ten = f.major >= 10;
  switch (which) {
    case kComputer: return xp ? u"My Computer" : ten ? u"This PC" : u"Computer";
    case kNetwork: return xp ? u"My Network Places" : u"Network";
    case kLibraries: return u"Libraries";
    case kControlPanel: return u"Control Panel";
    case kRecycleBin: return u"Recycle Bin";
    case kDocuments: return xp ? u"My Documents" : u"Documents";
    default: return u"";
  }
}

std::u16string virtual_parsing_name(BYTE which) {
  switch (which) {
    case kComputer: return u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
    case kNetwork: return u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}";
    case kLibraries: return u"::{031E4825-7B94-4DC3-B131-E946B44C8DD5}";
    case kControlPanel: return u"::{26EE0668-A00A-44D7-9371-BEB064C98683}";
    case kRecycleBin: return u"::{645FF040-5081-101B-9F08-00AA002F954E}";
    case kDocuments: return SpecialFolder(CSIDL_PERSONAL);
    default: return u"";
  }
}

int virtual_icon(BYTE which) {
  switch (which) {
    case kComputer: return kIconComputer;
    case kNetwork: return kIconNetwork;
    case kLibraries: return kIconLibraries;
    case kControlPanel: return kIconControlPanel;
    case kRecycleBin: return kIconRecycleBin;
    case kDocuments: return kIconDocuments;
    default: return kIconFolder;
  }
}

// The file-system folder behind a list of items, or nullopt for virtual places.
std::optional<std::u16string> fs_path(const std::vector<Item>& items) {
  std::optional<std::u16string> base = SpecialFolder(CSIDL_DESKTOPDIRECTORY);  // the Desktop's own files
  for (auto& item : items) {
    if (item.kind == kVirtual) {
      base = item.arg == kDocuments ? std::optional<std::u16string>(SpecialFolder(CSIDL_PERSONAL)) : std::nullopt;
    } else if (item.kind == kDrive) {
      base = std::u16string(1, item.arg) + u":\\";
    } else if (item.kind == kEntry) {
      if (!base) return std::nullopt;
      if (base->back() != u'\\') *base += u'\\';
      *base += item.name;
    } else {
      return std::nullopt;
    }
  }
  return base;
}

bool is_zip(const std::u16string& name) { return name.size() >= 4 && EqualNoCase(name.substr(name.size() - 4), u".zip"); }

Item entry_item(const WIN32_FIND_DATAW& data) {
  Item item{kEntry, 0, data.cFileName};
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) item.arg |= kIsFolder;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && is_zip(item.name)) item.arg |= kIsZip;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) item.arg |= kIsHidden;
  return item;
}

std::vector<Item> list_fs(const std::u16string& folder, SHCONTF flags) {
  std::vector<Item> out;
  std::u16string pattern = folder + (folder.back() == u'\\' ? u"*" : u"\\*");
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    std::u16string name = data.cFileName;
    if (name == u"." || name == u"..") continue;
    Item item = entry_item(data);
    if ((item.arg & kIsHidden) && !(flags & SHCONTF_INCLUDEHIDDEN)) continue;
    bool folderish = item.arg & (kIsFolder | kIsZip);
    if (folderish ? !(flags & SHCONTF_FOLDERS) : !(flags & SHCONTF_NONFOLDERS)) continue;
    out.push_back(std::move(item));
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return out;
}

std::vector<WCHAR> drive_letters() {
  std::vector<WCHAR> letters;
  for (auto& v : storage::MountedVolumes())
    if (v.letter) letters.push_back(FoldCase(v.letter));
  if (auto m = machine::CurrentIfOpen())
    for (auto& mount : m->mounts())
      if (mount.is_whole_drive()) letters.push_back(FoldCase(static_cast<char16_t>(mount.path[0])));
  std::sort(letters.begin(), letters.end());
  letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
  return letters;
}

bool removable(WCHAR letter) {
  for (auto& v : storage::MountedVolumes())
    if (v.letter && FoldCase(v.letter) == letter) return v.removable;
  return false;
}

std::u16string drive_display_name(WCHAR letter) {
  std::u16string root = std::u16string(1, letter) + u":\\";
  WCHAR label[64] = {};
  std::u16string name;
  if (GetVolumeInformationW(root.c_str(), label, 64, nullptr, nullptr, nullptr, nullptr, 0) && label[0]) name = label;
  if (name.empty()) name = removable(letter) ? u"Removable Disk" : u"Local Disk";
  return name + u" (" + std::u16string(1, letter) + u":)";
}

// Children of a place in the namespace.
std::vector<Item> children(const std::vector<Item>& where, SHCONTF flags) {
  std::vector<Item> out;
  if (where.empty()) {
    if (flags & SHCONTF_FOLDERS) {
      auto f = os();
      if (f.major > 6 || (f.major == 6 && f.minor >= 1)) out.push_back({kVirtual, kLibraries, {}});
      for (BYTE v : {kDocuments, kComputer, kNetwork, kControlPanel, kRecycleBin}) out.push_back({kVirtual, v, {}});
    }
    std::u16string desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    if (GetFileAttributesW(desktop.c_str()) != INVALID_FILE_ATTRIBUTES) {
      auto files = list_fs(desktop, flags);
      out.insert(out.end(), files.begin(), files.end());
    }
    return out;
  }
  const Item& last = where.back();
  if (last.kind == kVirtual && last.arg == kComputer) {
    if (flags & SHCONTF_FOLDERS)
      for (WCHAR letter : drive_letters()) out.push_back({kDrive, static_cast<BYTE>(letter), {}});
    return out;
  }
  if (last.kind == kEntry && (last.arg & kIsZip)) return out;  // an archive lists nothing here
  if (auto path = fs_path(where)) return list_fs(*path, flags);
  return out;
}

SFGAOF attributes_of(const std::vector<Item>& parent, const Item& item) {
  switch (item.kind) {
    case kVirtual:
      if (item.arg == kDocuments) return SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
      return SFGAO_FOLDER | (item.arg == kComputer ? SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR : 0);
    case kDrive:
      return SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
    case kEntry: {
      SFGAOF a = SFGAO_FILESYSTEM | SFGAO_CANCOPY;
      if (item.arg & kIsHidden) a |= SFGAO_HIDDEN;
      if (item.arg & kIsZip) a |= SFGAO_FOLDER | SFGAO_STREAM;
      if (item.arg & kIsFolder) {
        a |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR;
        std::vector<Item> self = parent;
        self.push_back(item);
        if (!children(self, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN).empty()) a |= SFGAO_HASSUBFOLDER;
      } else if (!(item.arg & kIsZip)) {
        a |= SFGAO_STREAM;
      }
      return a;
    }
    default:
      return 0;
  }
}

std::u16string display_name(const std::vector<Item>& parent, const Item& item, SHGDNF flags) {
  bool parsing = flags & SHGDN_FORPARSING;
  switch (item.kind) {
    case kVirtual:
      return parsing ? virtual_parsing_name(item.arg) : virtual_name(item.arg);
    case kDrive:
      return parsing ? std::u16string(1, item.arg) + u":\\" : drive_display_name(item.arg);
    case kEntry: {
      if (!parsing || (flags & SHGDN_INFOLDER)) return item.name;
      std::vector<Item> self = parent;
      self.push_back(item);
      auto path = fs_path(self);
      return path ? *path : item.name;
    }
    default:
      return u"";
  }
}

int icon_of(const Item& item, bool open) {
  switch (item.kind) {
    case kVirtual: return virtual_icon(item.arg);
    case kDrive: return removable(item.arg) ? kIconRemovableDrive : kIconFixedDrive;
    case kEntry:
      if (item.arg & kIsZip) return kIconZip;
      if (item.arg & kIsFolder) return open ? kIconFolderOpen : kIconFolder;
      return kIconFile;
    default: return kIconFile;
  }
}

// Orders items as the shell lists them: virtual places, drives, folders, files; names without case.
int rank(const Item& item) {
  if (item.kind == kVirtual) return item.arg;
  if (item.kind == kDrive) return 10;
  return (item.arg & (kIsFolder | kIsZip)) ? 20 : 30;
}

int compare_items(const Item& a, const Item& b) {
  int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (a.kind == kDrive) return a.arg == b.arg ? 0 : a.arg < b.arg ? -1 : 1;
  size_t n = std::min(a.name.size(), b.name.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldCase(a.name[i]), y = FoldCase(b.name[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.name.size() == b.name.size() ? 0 : a.name.size() < b.name.size() ? -1 : 1;
}

std::function<void*()>& image_list_source() {
  static auto* s = new std::function<void*()>;
  return *s;
}

// ---- Objects ------------------------------------------------------------------------

// The IUnknown part of an object `Derived` that answers one interface
// (`Interface`, whose id is `iid_of`): counted references, one at creation,
// and the object deleted at the last Release.
template <typename Derived, typename Interface, const GUID& iid_of>
class ComObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == iid_of) {
      AddRef();
      *out = static_cast<Interface*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG r = --refs_;
    if (!r) delete static_cast<Derived*>(this);
    return r;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class TaskAllocator final : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMalloc) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }  // one allocator for the process
  ULONG Release() override { return 1; }
  void* Alloc(SIZE_T size) override { return CoTaskMemAlloc(size); }
  void* Realloc(void* p, SIZE_T size) override { return std::realloc(p, size ? size : 1); }
  void Free(void* p) override { CoTaskMemFree(p); }
  SIZE_T GetSize(void*) override { return static_cast<SIZE_T>(-1); }
  int DidAlloc(void*) override { return -1; }
  void HeapMinimize() override {}
};

class ItemEnumerator final : public ComObject<ItemEnumerator, IEnumIDList, IID_IEnumIDList> {
 public:
  explicit ItemEnumerator(std::vector<Item> items) : items_(std::move(items)) {}
  HRESULT Next(ULONG count, PITEMID_CHILD* out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG n = 0;
    while (n < count && index_ < items_.size()) out[n++] = make_list({items_[index_++]});
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    index_ = std::min(items_.size(), index_ + count);
    return index_ < items_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    index_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumIDList** out) override {
    if (!out) return E_POINTER;
    auto* copy = new ItemEnumerator(items_);
    copy->index_ = index_;
    *out = copy;
    return S_OK;
  }

 private:
  std::vector<Item> items_;
  size_t index_ = 0;
};

class Folder final : public ComObject<Folder, IShellFolder, IID_IShellFolder> {
 public:
  explicit Folder(std::vector<Item> where) : where_(std::move(where)) {}

  HRESULT ParseDisplayName(HWND, IBindCtx*, LPWSTR name, ULONG* eaten, PIDLIST_RELATIVE* out,
                           ULONG* attributes) override {
    if (!name || !out) return E_INVALIDARG;
    *out = nullptr;
    std::u16string text(name);
    std::vector<Item> items;
    if (!parse(text, &items)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    // Relative to this folder: the parsed absolute list must start with where we are.
    if (items.size() < where_.size()) return E_INVALIDARG;
    for (size_t i = 0; i < where_.size(); ++i)
      if (compare_items(items[i], where_[i]) != 0) return E_INVALIDARG;
    std::vector<Item> rel(items.begin() + static_cast<std::ptrdiff_t>(where_.size()), items.end());
    if (eaten) *eaten = static_cast<ULONG>(text.size());
    if (attributes && !rel.empty()) {
      std::vector<Item> parent(items.begin(), items.end() - 1);
      *attributes &= attributes_of(parent, items.back());
    }
    *out = make_list(rel);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT EnumObjects(HWND, SHCONTF flags, IEnumIDList** out) override {
    if (!out) return E_POINTER;
    *out = new ItemEnumerator(children(where_, flags));
    return S_OK;
  }

  HRESULT BindToObject(PCUIDLIST_RELATIVE item, IBindCtx*, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto rel = decode(item);
    if (!rel || rel->empty()) return E_INVALIDARG;
    if (!(iid == IID_IShellFolder)) return E_NOINTERFACE;
    std::vector<Item> target = where_;
    for (auto& i : *rel) {
      if (!(attributes_of(target, i) & SFGAO_FOLDER)) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
      target.push_back(i);
    }
    *out = static_cast<IShellFolder*>(new Folder(std::move(target)));
    return S_OK;
  }
  HRESULT BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT CompareIDs(LPARAM, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override {
    auto x = decode(a), y = decode(b);
    if (!x || !y) return E_INVALIDARG;
    int r = 0;
    for (size_t i = 0; i < std::min(x->size(), y->size()) && !r; ++i) r = compare_items((*x)[i], (*y)[i]);
    if (!r && x->size() != y->size()) r = x->size() < y->size() ? -1 : 1;
    return static_cast<HRESULT>(static_cast<USHORT>(static_cast<short>(r)));
  }

  HRESULT CreateViewObject(HWND, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* in_out) override {
    if (!in_out || (count && !items)) return E_INVALIDARG;
    SFGAOF all = ~SFGAOF{0};
    for (UINT i = 0; i < count; ++i) {
      auto rel = decode(items[i]);
      if (!rel || rel->size() != 1) return E_INVALIDARG;
      all &= attributes_of(where_, (*rel)[0]);
    }
    *in_out &= all;
    return S_OK;
  }

  HRESULT GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* name) override {
    if (!name) return E_POINTER;
    auto rel = decode(item);
    if (!rel) return E_INVALIDARG;
    std::u16string text;
    if (rel->empty()) {
      text = (flags & SHGDN_FORPARSING) ? SpecialFolder(CSIDL_DESKTOPDIRECTORY) : u"Desktop";
    } else {
      std::vector<Item> parent = where_;
      parent.insert(parent.end(), rel->begin(), rel->end() - 1);
      text = display_name(parent, rel->back(), flags);
    }
    name->uType = STRRET_WSTR;
    name->pOleStr = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!name->pOleStr) return E_OUTOFMEMORY;
    std::memcpy(name->pOleStr, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return S_OK;
  }

  HRESULT SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  // Absolute items for a parsing name: "::{...}" places or file-system paths that exist.
  static bool parse(const std::u16string& text, std::vector<Item>* items) {
    for (BYTE v : {kComputer, kNetwork, kLibraries, kControlPanel, kRecycleBin}) {
      if (EqualNoCase(text, virtual_parsing_name(v))) {
        items->push_back({kVirtual, v, {}});
        return true;
      }
    }
    ParsedName parsed;
    if (ParseName(text, u"", &parsed) || parsed.kind != NameKind::File || parsed.root != RootKind::DriveLetter)
      return false;
    items->push_back({kVirtual, kComputer, {}});
    items->push_back({kDrive, static_cast<BYTE>(parsed.letter), {}});
    std::u16string path = std::u16string(1, parsed.letter) + u":";
    if (GetFileAttributesW((path + u"\\").c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    for (auto& c : parsed.components) {
      path += u"\\" + c;
      WIN32_FIND_DATAW data;
      HANDLE h = FindFirstFileW(path.c_str(), &data);
      if (h == INVALID_HANDLE_VALUE) return false;
      FindClose(h);
      items->push_back(entry_item(data));
    }
    return true;
  }

 private:
  std::vector<Item> where_;
};

}  // namespace

void SetSystemImageListSource(std::function<void*()> source) { image_list_source() = std::move(source); }

PIDLIST_ABSOLUTE ItemListFromPath(const std::u16string& path) {
  std::vector<Item> items;
  if (!Folder::parse(path, &items)) return nullptr;
  return make_list(items);
}

std::u16string PathFromItemList(PCIDLIST_ABSOLUTE list) {
  auto items = decode(list);
  if (!items || items->empty()) return {};
  auto path = fs_path(*items);
  return path ? *path : std::u16string();
}

}  // namespace platform::fs

using namespace platform::fs;

void* CoTaskMemAlloc(SIZE_T size) { return std::malloc(size ? size : 1); }
void CoTaskMemFree(void* p) { std::free(p); }

HRESULT SHGetMalloc(IMalloc** out) {
  static TaskAllocator allocator;
  if (!out) return E_POINTER;
  *out = &allocator;
  return S_OK;
}

HRESULT SHGetDesktopFolder(IShellFolder** out) {
  if (!out) return E_POINTER;
  *out = new Folder({});
  return S_OK;
}

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, PIDLIST_ABSOLUTE* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::vector<Item> items;
  switch (csidl & ~CSIDL_FLAG_CREATE) {
    case CSIDL_DESKTOP: break;
    case kCsidlDrives: items.push_back({kVirtual, kComputer, {}}); break;
    case kCsidlNetwork: items.push_back({kVirtual, kNetwork, {}}); break;
    case CSIDL_PERSONAL: items.push_back({kVirtual, kDocuments, {}}); break;
    default: {
      std::u16string path = SpecialFolder(csidl);
      if (path.empty()) return E_INVALIDARG;
      *out = ItemListFromPath(path);
      return *out ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
  }
  *out = make_list(items);
  return *out ? S_OK : E_OUTOFMEMORY;
}

BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path) {
  if (!path) return FALSE;
  path[0] = 0;
  auto items = decode(list);
  if (!items) return FALSE;
  auto fs = fs_path(*items);
  if (!fs || fs->size() >= MAX_PATH) return FALSE;
  std::memcpy(path, fs->c_str(), (fs->size() + 1) * sizeof(WCHAR));
  return TRUE;
}

HRESULT StrRetToBufW(STRRET* str, PCUITEMID_CHILD, LPWSTR buffer, UINT size) {
  if (!str || !buffer || !size) return E_INVALIDARG;
  std::u16string text;
  if (str->uType == STRRET_WSTR) {
    if (str->pOleStr) text = str->pOleStr;
    CoTaskMemFree(str->pOleStr);
    str->pOleStr = nullptr;
  } else if (str->uType == STRRET_CSTR) {
    text = platform::to_utf16(std::string(str->cStr, strnlen(str->cStr, sizeof str->cStr)));
  } else {
    return E_INVALIDARG;
  }
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return S_OK;
}

UINT ILGetSize(PCUIDLIST_RELATIVE list) {
  if (!list) return 0;
  auto* p = reinterpret_cast<const BYTE*>(list);
  UINT total = 0;
  for (size_t n = 0; n < kMaxItems; ++n) {
    USHORT cb = static_cast<USHORT>(p[total] | (p[total + 1] << 8));
    if (!cb) return total + 2;
    total += cb;
  }
  return 0;
}

PIDLIST_RELATIVE ILClone(PCUIDLIST_RELATIVE list) {
  UINT size = ILGetSize(list);
  if (!size) return nullptr;
  auto* out = static_cast<ITEMIDLIST*>(CoTaskMemAlloc(size));
  if (out) std::memcpy(out, list, size);
  return out;
}

PIDLIST_ABSOLUTE ILCombine(PCIDLIST_ABSOLUTE a, PCUIDLIST_RELATIVE b) {
  if (!a) return ILClone(b);
  if (!b) return ILClone(a);
  UINT sa = ILGetSize(a), sb = ILGetSize(b);
  if (!sa || !sb) return nullptr;
  auto* out = static_cast<BYTE*>(CoTaskMemAlloc(sa - 2 + sb));
  if (!out) return nullptr;
  std::memcpy(out, a, sa - 2);
  std::memcpy(out + sa - 2, b, sb);
  return reinterpret_cast<ITEMIDLIST*>(out);
}

PITEMID_CHILD ILFindLastID(PCUIDLIST_RELATIVE list) {
  if (!list) return nullptr;
  auto* p = reinterpret_cast<const BYTE*>(list);
  const BYTE* last = p;
  for (size_t n = 0; n < kMaxItems; ++n) {
    USHORT cb = static_cast<USHORT>(p[0] | (p[1] << 8));
    if (!cb) break;
    last = p;
    p += cb;
  }
  return reinterpret_cast<PITEMID_CHILD>(const_cast<BYTE*>(last));
}

void ILFree(PIDLIST_RELATIVE list) { CoTaskMemFree(list); }

DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD file_attributes, SHFILEINFOW* info, UINT size, UINT flags) {
  if (!path || (info && size < sizeof(SHFILEINFOW))) return 0;
  Item item;
  std::vector<Item> parent;
  if (flags & SHGFI_PIDL) {
    auto items = decode(reinterpret_cast<const ITEMIDLIST*>(path));
    if (!items) return 0;
    if (items->empty()) {
      item = {0, 0, {}};  // the Desktop
    } else {
      item = items->back();
      parent.assign(items->begin(), items->end() - 1);
    }
  } else {
    std::vector<Item> items;
    if (flags & SHGFI_USEFILEATTRIBUTES) {
      std::u16string name(path);
      size_t cut = name.find_last_of(u"\\/");
      item = {kEntry, static_cast<BYTE>((file_attributes & FILE_ATTRIBUTE_DIRECTORY) ? kIsFolder : 0),
              cut == std::u16string::npos ? name : name.substr(cut + 1)};
      if (!(item.arg & kIsFolder) && is_zip(item.name)) item.arg |= kIsZip;
    } else {
      if (!Folder::parse(path, &items) || items.empty()) return 0;
      item = items.back();
      parent.assign(items.begin(), items.end() - 1);
    }
  }
  if (info) {
    std::memset(info, 0, sizeof *info);
    info->iIcon = item.kind ? icon_of(item, flags & SHGFI_OPENICON) : kIconDesktop;
    if (flags & SHGFI_DISPLAYNAME) {
      std::u16string name = item.kind ? display_name(parent, item, SHGDN_NORMAL) : u"Desktop";
      size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
      std::memcpy(info->szDisplayName, name.data(), n * sizeof(WCHAR));
    }
    if (flags & SHGFI_ATTRIBUTES) info->dwAttributes = item.kind ? attributes_of(parent, item) : SFGAO_FOLDER;
  }
  if (flags & SHGFI_SYSICONINDEX) {
    auto& source = image_list_source();
    if (source) return reinterpret_cast<DWORD_PTR>(source());
    if (&platform::ui::SystemImageList) return reinterpret_cast<DWORD_PTR>(platform::ui::SystemImageList());
    return 0;
  }
  return 1;
}
