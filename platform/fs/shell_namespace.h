// The shell namespace as the programs' shell trees and folder choosers see
// it: a Desktop root holding the user's documents folder, Computer (one item
// per drive letter, "Local Disk (C:)"), Network, Libraries (from 6.1 on),
// Control Panel and Recycle Bin (virtual items), then what lies in the user's
// Desktop folder. Below a drive every folder and file of the volume appears;
// a ".zip" file is reported as a folder (with the stream attribute) and lists
// nothing. Names follow the simulated Windows version ("My Computer",
// "My Documents" on 5.x; "Computer", "Documents" on 6.x; "This PC" on 10).
//
// Item id lists are our own encoding inside the platform's framing (a 16-bit
// size before each item, a zero size at the end); programs only copy, join
// and hand them back. They are allocated with CoTaskMemAlloc.
#pragma once

#include <functional>
#include <string>

#include "platform/core/types.h"

// ---- Item id lists -------------------------------------------------------------

#pragma pack(push, 1)
struct SHITEMID {
  USHORT cb;     // +0 size of this item including cb
  BYTE abID[1];  // +2 item data
};
#pragma pack(pop)
static_assert(sizeof(SHITEMID) == 3);
struct ITEMIDLIST {
  SHITEMID mkid;
};
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;
using PIDLIST_RELATIVE = ITEMIDLIST*;
using PCUIDLIST_RELATIVE = const ITEMIDLIST*;
using PITEMID_CHILD = ITEMIDLIST*;
using PCUITEMID_CHILD = const ITEMIDLIST*;
using PCUITEMID_CHILD_ARRAY = const PCUITEMID_CHILD*;

// ---- Interfaces ------------------------------------------------------------------

using REFIID = const GUID&;
using SFGAOF = ULONG;
using SHCONTF = DWORD;
using SHGDNF = DWORD;

extern const GUID IID_IUnknown;
extern const GUID IID_IMalloc;
extern const GUID IID_IShellFolder;
extern const GUID IID_IEnumIDList;

constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT HRESULT_FROM_WIN32(DWORD e) {
  return e == 0 ? S_OK : static_cast<HRESULT>((e & 0xFFFF) | 0x80070000);
}

constexpr SHCONTF SHCONTF_FOLDERS = 0x0020;
constexpr SHCONTF SHCONTF_NONFOLDERS = 0x0040;
constexpr SHCONTF SHCONTF_INCLUDEHIDDEN = 0x0080;

constexpr SHGDNF SHGDN_NORMAL = 0x0000;
constexpr SHGDNF SHGDN_INFOLDER = 0x0001;
constexpr SHGDNF SHGDN_FOREDITING = 0x1000;
constexpr SHGDNF SHGDN_FORADDRESSBAR = 0x4000;
constexpr SHGDNF SHGDN_FORPARSING = 0x8000;

constexpr SFGAOF SFGAO_CANCOPY = 0x00000001;
constexpr SFGAOF SFGAO_LINK = 0x00010000;
constexpr SFGAOF SFGAO_READONLY = 0x00040000;
constexpr SFGAOF SFGAO_HIDDEN = 0x00080000;
constexpr SFGAOF SFGAO_STREAM = 0x00400000;
constexpr SFGAOF SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr SFGAOF SFGAO_FOLDER = 0x20000000;
constexpr SFGAOF SFGAO_FILESYSTEM = 0x40000000;
constexpr SFGAOF SFGAO_HASSUBFOLDER = 0x80000000;

constexpr UINT STRRET_WSTR = 0;
constexpr UINT STRRET_OFFSET = 1;
constexpr UINT STRRET_CSTR = 2;
struct STRRET {
  UINT uType;
  union {
    LPWSTR pOleStr;  // CoTaskMemAlloc'd
    UINT uOffset;
    char cStr[260];
  };
};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

class IMalloc : public IUnknown {
 public:
  virtual void* Alloc(SIZE_T size) = 0;
  virtual void* Realloc(void* p, SIZE_T size) = 0;
  virtual void Free(void* p) = 0;
  virtual SIZE_T GetSize(void* p) = 0;
  virtual int DidAlloc(void* p) = 0;
  virtual void HeapMinimize() = 0;
};

class IEnumIDList : public IUnknown {
 public:
  // Hands out up to `count` child ids (the caller frees them); S_FALSE when fewer were left.
  virtual HRESULT Next(ULONG count, PITEMID_CHILD* items, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumIDList** out) = 0;
};

class IBindCtx;

class IShellFolder : public IUnknown {
 public:
  virtual HRESULT ParseDisplayName(HWND owner, IBindCtx* bind, LPWSTR name, ULONG* eaten, PIDLIST_RELATIVE* out,
                                   ULONG* attributes) = 0;
  virtual HRESULT EnumObjects(HWND owner, SHCONTF flags, IEnumIDList** out) = 0;
  virtual HRESULT BindToObject(PCUIDLIST_RELATIVE item, IBindCtx* bind, REFIID iid, void** out) = 0;
  virtual HRESULT BindToStorage(PCUIDLIST_RELATIVE item, IBindCtx* bind, REFIID iid, void** out) = 0;
  // Low 16 bits of the result: 0 equal, 1 (a after b) or 0xFFFF (a before b).
  virtual HRESULT CompareIDs(LPARAM column, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) = 0;
  virtual HRESULT CreateViewObject(HWND owner, REFIID iid, void** out) = 0;
  virtual HRESULT GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* in_out) = 0;
  virtual HRESULT GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID iid, UINT* reserved,
                                void** out) = 0;
  virtual HRESULT GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* name) = 0;
  virtual HRESULT SetNameOf(HWND owner, PCUITEMID_CHILD item, LPCWSTR name, SHGDNF flags, PITEMID_CHILD* out) = 0;
};

// ---- Calls ------------------------------------------------------------------------

void* CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(void* p);
HRESULT SHGetMalloc(IMalloc** out);
HRESULT SHGetDesktopFolder(IShellFolder** out);
HRESULT SHGetSpecialFolderLocation(HWND owner, int csidl, PIDLIST_ABSOLUTE* out);
BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path);
HRESULT StrRetToBufW(STRRET* str, PCUITEMID_CHILD item, LPWSTR buffer, UINT size);
UINT ILGetSize(PCUIDLIST_RELATIVE list);
PIDLIST_RELATIVE ILClone(PCUIDLIST_RELATIVE list);
PIDLIST_ABSOLUTE ILCombine(PCIDLIST_ABSOLUTE a, PCUIDLIST_RELATIVE b);
PITEMID_CHILD ILFindLastID(PCUIDLIST_RELATIVE list);
void ILFree(PIDLIST_RELATIVE list);

struct SHFILEINFOW {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
};
constexpr UINT SHGFI_ICON = 0x000000100;
constexpr UINT SHGFI_DISPLAYNAME = 0x000000200;
constexpr UINT SHGFI_TYPENAME = 0x000000400;
constexpr UINT SHGFI_ATTRIBUTES = 0x000000800;
constexpr UINT SHGFI_SYSICONINDEX = 0x000004000;
constexpr UINT SHGFI_OPENICON = 0x000000002;
constexpr UINT SHGFI_SMALLICON = 0x000000001;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x000000010;
constexpr UINT SHGFI_PIDL = 0x000000008;
// `path` is a path, or an ITEMIDLIST* with SHGFI_PIDL. With SHGFI_SYSICONINDEX
// returns the system image list (see SetSystemImageListSource), else nonzero on success.
DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD file_attributes, SHFILEINFOW* info, UINT size, UINT flags);

namespace platform::fs {

// Indexes into the system image list that SHGetFileInfoW hands out; the UI
// layer's system image list holds these pictures at these places.
enum ShellIcon : int {
  kIconFile = 0,
  kIconFolder = 3,
  kIconFolderOpen = 4,
  kIconRemovableDrive = 7,
  kIconFixedDrive = 8,
  kIconComputer = 15,
  kIconNetwork = 17,
  kIconRecycleBin = 31,
  kIconDesktop = 34,
  kIconControlPanel = 35,
  kIconDocuments = 126,
  kIconLibraries = 127,
  kIconZip = 128,
};

// Where SHGetFileInfoW finds the system image list handle (the UI layer installs it).
void SetSystemImageListSource(std::function<void*()> source);

// An absolute id list for a file-system path ("C:\a\b"), or null when the
// path does not exist; and the path of an id list (empty for virtual items).
PIDLIST_ABSOLUTE ItemListFromPath(const std::u16string& path);
std::u16string PathFromItemList(PCIDLIST_ABSOLUTE list);

}  // namespace platform::fs
