// Menus: menu bars, pop-ups, items by command and by position, relabelling,
// enabling and checking, owner-drawn items, the system menu and
// TrackPopupMenu (a modal pick that the headless driver answers with `menu`).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <QImage>

#include "platform/core/cstring.h"
#include "platform/ui/winuser.h"

class CWnd;
class CDC;

constexpr UINT MF_BYCOMMAND = 0x0;
constexpr UINT MF_STRING = 0x0;
constexpr UINT MF_ENABLED = 0x0;
constexpr UINT MF_UNCHECKED = 0x0;
constexpr UINT MF_GRAYED = 0x1;
constexpr UINT MF_DISABLED = 0x2;
constexpr UINT MF_BITMAP = 0x4;
constexpr UINT MF_CHECKED = 0x8;
constexpr UINT MF_POPUP = 0x10;
constexpr UINT MF_OWNERDRAW = 0x100;
constexpr UINT MF_BYPOSITION = 0x400;
constexpr UINT MF_SEPARATOR = 0x800;
constexpr UINT MFS_GRAYED = 0x3;
constexpr UINT ODS_CHECKED = 0x8;  // DRAWITEMSTRUCT itemState of a checked menu item
constexpr UINT TPM_LEFTALIGN = 0x0;
constexpr UINT TPM_RIGHTBUTTON = 0x2;
constexpr UINT TPM_NONOTIFY = 0x80;
constexpr UINT TPM_RETURNCMD = 0x100;

// Menu styles (SetMenuInfo with MIM_STYLE).
constexpr UINT MIM_STYLE = 0x10;
constexpr DWORD MNS_AUTODISMISS = 0x10000000;
constexpr DWORD MNS_CHECKORBMP = 0x04000000;
// Which fields of MENUITEMINFOW are read or written.
constexpr UINT MIIM_STATE = 0x1;
constexpr UINT MIIM_ID = 0x2;
constexpr UINT MIIM_SUBMENU = 0x4;
constexpr UINT MIIM_DATA = 0x20;
constexpr UINT MIIM_STRING = 0x40;
constexpr UINT MIIM_BITMAP = 0x80;
constexpr UINT MIIM_FTYPE = 0x100;
constexpr UINT MFT_STRING = 0x0;
constexpr UINT MFT_OWNERDRAW = 0x100;
constexpr UINT MFT_SEPARATOR = 0x800;
// An item picture that the menu's owner measures and draws (WM_MEASUREITEM
// and WM_DRAWITEM with ODT_MENU and the item's command), beside the text.
inline HBITMAP const HBMMENU_CALLBACK = reinterpret_cast<HBITMAP>(static_cast<intptr_t>(-1));

struct MENUINFO {
  DWORD cbSize;            // +0x00
  DWORD fMask;             // +0x04 MIM_*
  DWORD dwStyle;           // +0x08 MNS_*
  UINT cyMax;              // +0x0c
  HBRUSH hbrBack;          // +0x10
  DWORD dwContextHelpID;   // +0x18
  ULONG_PTR dwMenuData;    // +0x20
};                         // 0x28 bytes
static_assert(sizeof(void*) != 8 || sizeof(MENUINFO) == 0x28);
static_assert(offsetof(MENUINFO, dwStyle) == 8);

struct MENUITEMINFOW {
  UINT cbSize;             // +0x00
  UINT fMask;              // +0x04 MIIM_*
  UINT fType;              // +0x08 MFT_*
  UINT fState;             // +0x0c MF_GRAYED, MF_CHECKED ...
  UINT wID;                // +0x10
  HMENU hSubMenu;          // +0x18
  HBITMAP hbmpChecked;     // +0x20
  HBITMAP hbmpUnchecked;   // +0x28
  ULONG_PTR dwItemData;    // +0x30
  LPWSTR dwTypeData;       // +0x38 the text buffer (MIIM_STRING)
  UINT cch;                // +0x40 its size in units, without the terminator
  HBITMAP hbmpItem;        // +0x48
};                         // 0x50 bytes
static_assert(sizeof(void*) != 8 || (sizeof(MENUITEMINFOW) == 0x50 && offsetof(MENUITEMINFOW, hSubMenu) == 0x18 &&
                                     offsetof(MENUITEMINFOW, hbmpItem) == 0x48));

namespace platform::ui {

struct Window;

struct MenuItem {
  UINT id = 0;
  std::u16string text;
  UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_SEPARATOR, MF_POPUP, MF_OWNERDRAW
  HMENU submenu = nullptr;
  ULONG_PTR data = 0;  // the application's value (owner-drawn items: from AppendMenu's text)
  HBITMAP bitmap = nullptr;  // the picture beside the text: a bitmap, HBMMENU_CALLBACK or none
};

// Items whose owner measures and draws them: owner-drawn items whole,
// callback-bitmap items their picture.
bool DrawnByOwner(const MenuItem& item);

class Menu {
 public:
  HMENU handle = nullptr;
  bool popup = false;
  DWORD style = 0;  // MNS_*
  std::vector<MenuItem> items;
  // Item by command (searching sub-menus) or by position; null when absent.
  MenuItem* find(UINT item, UINT flags, Menu** owner = nullptr);
};

Menu* FindMenu(HMENU menu);
HMENU LoadMenuFromTable(int id);
struct MenuTemplate;
HMENU LoadMenuFromTemplate(const MenuTemplate* t);  // null for null
// The window's system menu (made on first use; `revert` restores the defaults).
HMENU SystemMenuOf(Window& window, bool revert);
// The command under `id` in the window's menu bar or system menu: 1 menu
// bar, 2 system menu, 0 none.
int MenuOwningCommand(Window& window, UINT id, HMENU* popup);

// The popup menu being tracked on this thread (for the headless driver).
struct TrackedMenu {
  HMENU menu = nullptr;
  HWND owner = nullptr;
  UINT chosen = 0;
  QImage picture;  // the pop-up as drawn when it opened (DrawPopupMenu)
};
TrackedMenu* CurrentTrackedMenu();

// The picture of an item its owner draws (DrawnByOwner): measured with
// WM_MEASUREITEM (clamped to 1..2048 x 1..512) and drawn with WM_DRAWITEM
// onto the menu colour. Null when the item is not drawn by its owner or the
// owner is gone.
QImage OwnerDrawnPicture(HWND owner, HMENU menu, const MenuItem& item);
// The pop-up as it opens: each item's picture (a bitmap, or the owner's for
// owner-drawn and callback items) with its text beside it, one row per item;
// when any item with text is checked, a column at the left holds the ticks
// of checked items, in the item's text colour. TrackPopupMenu and the headless `menu` verb draw every pop-up this way.
QImage DrawPopupMenu(HWND owner, HMENU menu);

}  // namespace platform::ui

HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);
HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
UINT EnableMenuItem(HMENU menu, UINT item, UINT enable);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuStringW(HMENU menu, UINT item, LPWSTR buffer, int size, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
HMENU GetMenu(HWND hwnd);
BOOL SetMenu(HWND hwnd, HMENU menu);
HMENU GetSystemMenu(HWND hwnd, BOOL revert);
BOOL DrawMenuBar(HWND hwnd);
// The menu's style (MIM_STYLE). FALSE with ERROR_INVALID_PARAMETER for a
// null pointer or a wrong cbSize, ERROR_INVALID_HANDLE for an unknown menu.
BOOL GetMenuInfo(HMENU menu, MENUINFO* info);
BOOL SetMenuInfo(HMENU menu, const MENUINFO* info);
// An item's type, state, command, sub-menu, data, text and picture as the
// mask asks. Errors as for GetMenuInfo, and ERROR_MENU_ITEM_NOT_FOUND (1456)
// for an absent item; a picture that is neither a bitmap nor
// HBMMENU_CALLBACK, or an unknown type bit, is ERROR_INVALID_PARAMETER.
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL by_position, MENUITEMINFOW* info);
BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL by_position, const MENUITEMINFOW* info);

class CMenu {
 public:
  HMENU m_hMenu = nullptr;
  CMenu() = default;
  virtual ~CMenu();
  static CMenu* FromHandle(HMENU menu);
  operator HMENU() const { return m_hMenu; }
  HMENU GetSafeHmenu() const { return m_hMenu; }
  BOOL CreateMenu();
  BOOL CreatePopupMenu();
  BOOL LoadMenu(UINT id);
  BOOL DestroyMenu();
  BOOL Attach(HMENU menu);
  HMENU Detach();
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCWSTR text = nullptr);
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR id = 0, LPCWSTR text = nullptr);
  BOOL ModifyMenu(UINT position, UINT flags, UINT_PTR id = 0, LPCWSTR text = nullptr);
  BOOL DeleteMenu(UINT position, UINT flags);
  BOOL RemoveMenu(UINT position, UINT flags);
  UINT EnableMenuItem(UINT item, UINT enable);
  UINT CheckMenuItem(UINT item, UINT check);
  int GetMenuItemCount() const;
  UINT GetMenuItemID(int position) const;
  CMenu* GetSubMenu(int position) const;
  int GetMenuString(UINT item, std::u16string& text, UINT flags) const;
  int GetMenuString(UINT item, CString& text, UINT flags) const;
  UINT GetMenuState(UINT item, UINT flags) const;
  BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, LPCRECT rect = nullptr);
  virtual void DrawItem(LPDRAWITEMSTRUCT) {}
  virtual void MeasureItem(LPMEASUREITEMSTRUCT) {}

 private:
  bool owns_ = false;
};
