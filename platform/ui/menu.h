// Menus: menu bars, pop-ups, items by command and by position, relabelling,
// enabling and checking, owner-drawn items, the system menu and
// TrackPopupMenu (a modal pick that the headless driver answers with `menu`).
#pragma once

#include <memory>
#include <string>
#include <vector>

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
constexpr UINT TPM_LEFTALIGN = 0x0;
constexpr UINT TPM_RIGHTBUTTON = 0x2;
constexpr UINT TPM_NONOTIFY = 0x80;
constexpr UINT TPM_RETURNCMD = 0x100;

namespace platform::ui {

struct Window;

struct MenuItem {
  UINT id = 0;
  std::u16string text;
  UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_SEPARATOR, MF_POPUP, MF_OWNERDRAW
  HMENU submenu = nullptr;
  ULONG_PTR data = 0;  // owner-drawn items: the application's value
};

class Menu {
 public:
  HMENU handle = nullptr;
  bool popup = false;
  std::vector<MenuItem> items;
  // Item by command (searching sub-menus) or by position; null when absent.
  MenuItem* find(UINT item, UINT flags, Menu** owner = nullptr);
};

Menu* FindMenu(HMENU menu);
HMENU LoadMenuFromTable(int id);
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
};
TrackedMenu* CurrentTrackedMenu();

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
