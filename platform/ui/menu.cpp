#include "platform/ui/menu.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <unordered_map>

#include "platform/core/error.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

constexpr DWORD ERROR_MENU_ITEM_NOT_FOUND_VALUE = 1456;

struct MenuTable {
  std::unordered_map<HMENU, std::unique_ptr<Menu>> menus;
  std::unordered_map<HMENU, std::unique_ptr<CMenu>> wrappers;
  uintptr_t next = 0;
};
MenuTable& table() {
  static MenuTable* t = new MenuTable;
  return *t;
}

HMENU new_menu(bool popup) {
  auto m = std::make_unique<Menu>();
  m->handle = reinterpret_cast<HMENU>(0x20000 + 4 * (++table().next));
  m->popup = popup;
  HMENU h = m->handle;
  table().menus[h] = std::move(m);
  return h;
}

thread_local std::vector<TrackedMenu*> tracked;

// Sub-menus nest at most this deep; deeper links are ignored.
constexpr int kMaxMenuDepth = 16;

MenuItem* find_by_command(Menu& m, UINT id, Menu** owner, int depth) {
  if (depth > kMaxMenuDepth) return nullptr;
  for (auto& item : m.items) {
    if (!(item.flags & MF_POPUP) && !(item.flags & MF_SEPARATOR) && item.id == id) {
      if (owner) *owner = &m;
      return &item;
    }
    if (item.flags & MF_POPUP)
      if (Menu* sub = FindMenu(item.submenu))
        if (MenuItem* found = find_by_command(*sub, id, owner, depth + 1)) return found;
  }
  return nullptr;
}

}  // namespace

MenuItem* Menu::find(UINT item, UINT flags, Menu** owner) {
  if (flags & MF_BYPOSITION) {
    if (item >= items.size()) return nullptr;
    if (owner) *owner = this;
    return &items[item];
  }
  return find_by_command(*this, item, owner, 0);
}

Menu* FindMenu(HMENU h) {
  auto it = table().menus.find(h);
  return it == table().menus.end() ? nullptr : it->second.get();
}

HMENU LoadMenuFromTable(int id) { return LoadMenuFromTemplate(FindMenuTemplate(id)); }

HMENU LoadMenuFromTemplate(const MenuTemplate* t) {
  if (!t) return nullptr;
  HMENU root = new_menu(false);
  std::vector<HMENU> stack{root};
  for (size_t i = 0; i < t->item_count; ++i) {
    const MenuItemTemplate& it = t->items[i];
    size_t depth = static_cast<size_t>(std::max(it.depth, 0));
    if (depth >= stack.size()) continue;  // malformed nesting: skip the item
    stack.resize(depth + 1);
    if (it.flags & MF_POPUP) {
      HMENU sub = new_menu(true);
      AppendMenuW(stack.back(), it.flags, reinterpret_cast<UINT_PTR>(sub), it.text);
      stack.push_back(sub);
    } else {
      AppendMenuW(stack.back(), it.flags, static_cast<UINT_PTR>(it.id), it.text);
    }
  }
  return root;
}

HMENU SystemMenuOf(Window& w, bool revert) {
  if (revert && w.system_menu) {
    DestroyMenu(w.system_menu);
    w.system_menu = nullptr;
  }
  if (!w.system_menu || !FindMenu(w.system_menu)) {
    w.system_menu = new_menu(true);
    FindMenu(w.system_menu)->items = {{SC_RESTORE, u"&Restore", MF_GRAYED, nullptr, 0},
                                      {SC_MOVE, u"&Move", 0, nullptr, 0},
                                      {SC_SIZE, u"&Size", MF_GRAYED, nullptr, 0},
                                      {SC_MINIMIZE, u"Mi&nimize", 0, nullptr, 0},
                                      {SC_MAXIMIZE, u"Ma&ximize", MF_GRAYED, nullptr, 0},
                                      {0, u"", MF_SEPARATOR, nullptr, 0},
                                      {SC_CLOSE, u"&Close\tAlt+F4", 0, nullptr, 0}};
  }
  return w.system_menu;
}

int MenuOwningCommand(Window& w, UINT id, HMENU* popup) {
  if (Menu* bar = FindMenu(w.menu)) {
    Menu* owner = nullptr;
    if (bar->find(id, MF_BYCOMMAND, &owner)) {
      if (popup) *popup = owner ? owner->handle : nullptr;
      return 1;
    }
  }
  if (w.system_menu)
    if (Menu* sys = FindMenu(w.system_menu))
      if (sys->find(id, MF_BYCOMMAND)) {
        if (popup) *popup = sys->handle;
        return 2;
      }
  return 0;
}

TrackedMenu* CurrentTrackedMenu() { return tracked.empty() ? nullptr : tracked.back(); }

bool DrawnByOwner(const MenuItem& item) {
  return !(item.flags & (MF_SEPARATOR | MF_POPUP)) &&
         ((item.flags & MF_OWNERDRAW) || item.bitmap == HBMMENU_CALLBACK);
}

QImage OwnerDrawnPicture(HWND owner, HMENU menu, const MenuItem& item) {
  if (!DrawnByOwner(item) || !FindWindowModel(owner)) return QImage();
  MEASUREITEMSTRUCT mi{ODT_MENU, 0, item.id, 0, 0, item.data};
  SendMessageW(owner, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mi));
  const int width = static_cast<int>(std::clamp<UINT>(mi.itemWidth, 1, 2048));
  const int height = static_cast<int>(std::clamp<UINT>(mi.itemHeight, 1, 512));
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, width, height};
  FillRect(dc, &all, GetSysColorBrush(COLOR_MENU));
  DRAWITEMSTRUCT di{ODT_MENU, 0, item.id, ODA_DRAWENTIRE,
                    ((item.flags & MF_GRAYED) ? ODS_GRAYED : 0u) | ((item.flags & MF_CHECKED) ? ODS_CHECKED : 0u),
                    reinterpret_cast<HWND>(menu), dc, all, item.data};
  SendMessageW(owner, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&di));
  QImage picture;
  if (const QImage* drawn = DcImage(dc)) picture = drawn->copy();
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return picture;
}

// A tick in `box` (its left part, centred down): a short stroke down to the
// right, then a long one up to the right.
void DrawCheckMark(QPainter& p, const QRect& box, QColor colour) {
  const int x = box.left(), c = box.top() + box.height() / 2;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  const QPoint points[] = {{x + 3, c}, {x + 6, c + 3}, {x + 12, c - 3}};
  p.drawPolyline(points, 3);
  p.restore();
}

QImage DrawPopupMenu(HWND owner, HMENU handle) {
  constexpr int kRow = 20, kSeparator = 8, kGap = 4, kTextWidth = 200, kMaxItems = 512, kCheck = 16;
  Menu* m = FindMenu(handle);
  if (!m) return QImage();
  // Each item's picture first: the owner may change the menu while it draws.
  std::vector<MenuItem> items(m->items.begin(), m->items.begin() + std::min<size_t>(m->items.size(), kMaxItems));
  std::vector<QImage> pictures;
  int picture_width = 0, height = 0;
  for (const MenuItem& item : items) {
    QImage picture;
    if (DrawnByOwner(item))
      picture = OwnerDrawnPicture(owner, handle, item);
    else if (const QImage* bitmap = item.bitmap ? BitmapImage(item.bitmap) : nullptr)
      picture = *bitmap;
    picture_width = std::max(picture_width, picture.width());
    height += (item.flags & MF_SEPARATOR) ? kSeparator : std::max(kRow, picture.height());
    pictures.push_back(std::move(picture));
  }
  // Checked items with the platform's text have their tick in a column of
  // its own at the left, there only when some item is checked; an item the
  // owner draws whole draws its own (ODS_CHECKED tells it).
  auto ticked = [](const MenuItem& item) {
    return (item.flags & MF_CHECKED) && !(item.flags & (MF_OWNERDRAW | MF_SEPARATOR));
  };
  const int check_width = std::any_of(items.begin(), items.end(), ticked) ? kCheck : 0;
  const int picture_x = kGap + check_width;
  QImage out(std::max(1, picture_x + picture_width + kGap + kTextWidth), std::max(1, height), QImage::Format_RGB32);
  out.fill(ToQRgb(GetSysColor(COLOR_MENU)));
  QPainter p(&out);
  p.setFont(QtFontFor(nullptr));
  int y = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem& item = items[i];
    if (item.flags & MF_SEPARATOR) {
      p.setPen(QColor(ToQRgb(GetSysColor(COLOR_GRAYTEXT))));
      p.drawLine(kGap, y + kSeparator / 2, out.width() - kGap, y + kSeparator / 2);
      y += kSeparator;
      continue;
    }
    const QImage& picture = pictures[i];
    const int row = std::max(kRow, picture.height());
    // An owner-drawn item is its picture alone; others have their text beside it.
    // A whole owner-drawn item starts at the row's left, past no tick column.
    const int x = (item.flags & MF_OWNERDRAW) ? kGap : picture_x;
    if (!picture.isNull()) p.drawImage(x, y + (row - picture.height()) / 2, picture);
    if (!(item.flags & MF_OWNERDRAW)) {
      const bool grey = item.flags & (MF_GRAYED | MF_DISABLED);
      const QColor colour(ToQRgb(GetSysColor(grey ? COLOR_GRAYTEXT : COLOR_MENUTEXT)));
      if (ticked(item)) DrawCheckMark(p, QRect(kGap, y, kCheck, row), colour);
      p.setPen(colour);
      std::u16string text = item.text.substr(0, item.text.find(u'\t'));
      std::erase(text, u'&');
      p.drawText(QRect(picture_x + picture_width + kGap, y, kTextWidth, row), Qt::AlignLeft | Qt::AlignVCenter,
                 QString::fromStdU16String(text));
    }
    y += row;
  }
  return out;
}

}  // namespace platform::ui

using platform::ui::FindMenu;
using platform::ui::Menu;
using platform::ui::MenuItem;

HMENU CreateMenu() { return platform::ui::new_menu(false); }
HMENU CreatePopupMenu() { return platform::ui::new_menu(true); }

BOOL DestroyMenu(HMENU h) {
  auto& menus = platform::ui::table().menus;
  auto it = menus.find(h);
  if (it == menus.end()) return platform::fail(ERROR_INVALID_HANDLE);
  std::vector<HMENU> subs;
  for (auto& item : it->second->items)
    if (item.flags & MF_POPUP) subs.push_back(item.submenu);
  menus.erase(it);
  platform::ui::table().wrappers.erase(h);
  for (HMENU s : subs) DestroyMenu(s);
  return TRUE;
}

HMENU LoadMenuW(HINSTANCE, LPCWSTR name) {
  const platform::ui::MenuTemplate* t = platform::ui::FindMenuTemplate(platform::ui::ParseResourceRef(name));
  if (!t) {
    SetLastError(platform::ui::ERROR_RESOURCE_NAME_NOT_FOUND_VALUE);
    return nullptr;
  }
  return platform::ui::LoadMenuFromTemplate(t);
}

static MenuItem make_item(UINT flags, UINT_PTR id, LPCWSTR text) {
  MenuItem item;
  item.flags = flags & ~MF_BYPOSITION;
  if (flags & MF_POPUP)
    item.submenu = reinterpret_cast<HMENU>(id);
  else
    item.id = static_cast<UINT>(id);
  if (flags & MF_OWNERDRAW)
    item.data = reinterpret_cast<ULONG_PTR>(text);
  else if (flags & MF_BITMAP)
    item.bitmap = reinterpret_cast<HBITMAP>(const_cast<LPWSTR>(text));
  else if (text && !(flags & (MF_SEPARATOR | MF_BITMAP)))
    item.text = text;
  return item;
}

BOOL AppendMenuW(HMENU h, UINT flags, UINT_PTR id, LPCWSTR text) {
  Menu* m = FindMenu(h);
  if (!m) return platform::fail(ERROR_INVALID_HANDLE);
  m->items.push_back(make_item(flags, id, text));
  return TRUE;
}

BOOL InsertMenuW(HMENU h, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  Menu* m = FindMenu(h);
  if (!m) return platform::fail(ERROR_INVALID_HANDLE);
  size_t at = m->items.size();
  if (flags & MF_BYPOSITION) {
    if (position < m->items.size()) at = position;
  } else {
    for (size_t i = 0; i < m->items.size(); ++i)
      if (m->items[i].id == position) at = i;
  }
  m->items.insert(m->items.begin() + static_cast<long>(at), make_item(flags, id, text));
  return TRUE;
}

BOOL ModifyMenuW(HMENU h, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  Menu* m = FindMenu(h);
  if (!m) return platform::fail(ERROR_INVALID_HANDLE);
  MenuItem* item = m->find(position, flags);
  if (!item) return platform::fail(platform::ui::ERROR_MENU_ITEM_NOT_FOUND_VALUE);
  // A new label keeps the picture set beside it (SetMenuItemInfoW).
  HBITMAP picture = item->bitmap;
  *item = make_item(flags, id, text);
  if (!(flags & (MF_BITMAP | MF_OWNERDRAW | MF_SEPARATOR))) item->bitmap = picture;
  return TRUE;
}

static BOOL remove_item(HMENU h, UINT position, UINT flags, bool destroy) {
  Menu* m = FindMenu(h);
  if (!m) return platform::fail(ERROR_INVALID_HANDLE);
  Menu* owner = nullptr;
  MenuItem* item = m->find(position, flags, &owner);
  if (!item || !owner) return FALSE;
  HMENU sub = (item->flags & MF_POPUP) ? item->submenu : nullptr;
  owner->items.erase(owner->items.begin() + (item - owner->items.data()));
  if (destroy && sub) DestroyMenu(sub);
  return TRUE;
}

BOOL DeleteMenu(HMENU h, UINT position, UINT flags) { return remove_item(h, position, flags, true); }
BOOL RemoveMenu(HMENU h, UINT position, UINT flags) { return remove_item(h, position, flags, false); }

UINT EnableMenuItem(HMENU h, UINT id, UINT enable) {
  Menu* m = FindMenu(h);
  MenuItem* item = m ? m->find(id, enable) : nullptr;
  if (!item) return static_cast<UINT>(-1);
  UINT old = item->flags & (MF_GRAYED | MF_DISABLED);
  item->flags = (item->flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return old;
}

DWORD CheckMenuItem(HMENU h, UINT id, UINT check) {
  Menu* m = FindMenu(h);
  MenuItem* item = m ? m->find(id, check) : nullptr;
  if (!item) return static_cast<DWORD>(-1);
  DWORD old = item->flags & MF_CHECKED;
  item->flags = (item->flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return old;
}

int GetMenuItemCount(HMENU h) {
  Menu* m = FindMenu(h);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU h, int position) {
  Menu* m = FindMenu(h);
  if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return static_cast<UINT>(-1);
  const MenuItem& item = m->items[static_cast<size_t>(position)];
  return (item.flags & MF_POPUP) ? static_cast<UINT>(-1) : item.id;
}

HMENU GetSubMenu(HMENU h, int position) {
  Menu* m = FindMenu(h);
  if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return nullptr;
  const MenuItem& item = m->items[static_cast<size_t>(position)];
  return (item.flags & MF_POPUP) ? item.submenu : nullptr;
}

int GetMenuStringW(HMENU h, UINT id, LPWSTR buffer, int size, UINT flags) {
  Menu* m = FindMenu(h);
  MenuItem* item = m ? m->find(id, flags) : nullptr;
  if (!item) return 0;
  int n = static_cast<int>(item->text.size());
  if (!buffer || size <= 0) return n;
  int copy = std::min(n, size - 1);
  std::copy(item->text.begin(), item->text.begin() + copy, buffer);
  buffer[copy] = 0;
  return copy;
}

UINT GetMenuState(HMENU h, UINT id, UINT flags) {
  Menu* m = FindMenu(h);
  MenuItem* item = m ? m->find(id, flags) : nullptr;
  if (!item) return static_cast<UINT>(-1);
  UINT state = item->flags & ~MF_POPUP;
  if (item->flags & MF_POPUP) {
    int count = GetMenuItemCount(item->submenu);
    state |= MF_POPUP | (static_cast<UINT>(std::max(count, 0)) << 8);
  }
  return state;
}

BOOL TrackPopupMenu(HMENU h, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  Menu* m = FindMenu(h);
  platform::ui::Window* ow = platform::ui::FindWindowModel(owner);
  if (!m || !ow) return FALSE;
  SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), MAKELONG(0, FALSE));
  // The menu opens: owner-drawn and callback pictures are measured and drawn.
  QImage picture = platform::ui::DrawPopupMenu(owner, h);
  m = FindMenu(h);
  if (!m) return FALSE;
  // The pick is a modal loop on a pop-up window standing for the menu.
  platform::ui::CreateParams p;
  p.class_name = u"#32768";
  p.style = WS_POPUP | WS_VISIBLE;
  p.rect = {x, y, x + picture.width(), y + picture.height()};
  p.owner = ow;
  platform::ui::Window* popup = platform::ui::CreateWindowModel(p);
  platform::ui::TrackedMenu track{h, owner, 0, picture};
  platform::ui::tracked.push_back(&track);
  platform::ui::ModalLoop loop;
  loop.window = popup;
  struct Cleanup {
    platform::ui::Window* popup;
    ~Cleanup() {
      platform::ui::tracked.pop_back();
      platform::ui::DestroyWindowModel(popup);
    }
  } cleanup{popup};
  popup->user_data = reinterpret_cast<LONG_PTR>(&loop);
  platform::ui::RunModalLoop(loop);
  UINT chosen = track.chosen;
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  if (chosen && !(flags & TPM_NONOTIFY)) PostMessageW(owner, WM_COMMAND, chosen, 0);
  return chosen ? TRUE : FALSE;
}

HMENU GetMenu(HWND hwnd) {
  platform::ui::Window* w = platform::ui::FindWindowModel(hwnd);
  return w ? w->menu : nullptr;
}
BOOL SetMenu(HWND hwnd, HMENU menu) {
  platform::ui::Window* w = platform::ui::FindWindowModel(hwnd);
  if (!w) return FALSE;
  w->menu = menu;
  return TRUE;
}
HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
  platform::ui::Window* w = platform::ui::FindWindowModel(hwnd);
  return w ? platform::ui::SystemMenuOf(*w, revert != FALSE) : nullptr;
}
BOOL DrawMenuBar(HWND hwnd) { return IsWindow(hwnd); }

// ---- CMenu ----

CMenu::~CMenu() {
  if (owns_ && m_hMenu) ::DestroyMenu(m_hMenu);
}
CMenu* CMenu::FromHandle(HMENU h) {
  if (!h || !FindMenu(h)) return nullptr;
  auto& w = platform::ui::table().wrappers;
  auto it = w.find(h);
  if (it != w.end()) return it->second.get();
  auto m = std::make_unique<CMenu>();
  m->m_hMenu = h;
  CMenu* raw = m.get();
  w[h] = std::move(m);
  return raw;
}
BOOL CMenu::CreateMenu() { owns_ = true; return Attach(::CreateMenu()); }
BOOL CMenu::CreatePopupMenu() { owns_ = true; return Attach(::CreatePopupMenu()); }
BOOL CMenu::LoadMenu(UINT id) { owns_ = true; return Attach(::LoadMenuW(nullptr, MAKEINTRESOURCEW(id))); }
BOOL CMenu::DestroyMenu() {
  if (!m_hMenu) return FALSE;
  BOOL ok = ::DestroyMenu(m_hMenu);
  m_hMenu = nullptr;
  return ok;
}
BOOL CMenu::Attach(HMENU menu) {
  m_hMenu = menu;
  return menu != nullptr;
}
HMENU CMenu::Detach() {
  HMENU h = m_hMenu;
  m_hMenu = nullptr;
  owns_ = false;
  return h;
}
BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, LPCWSTR text) { return ::AppendMenuW(m_hMenu, flags, id, text); }
BOOL CMenu::InsertMenu(UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  return ::InsertMenuW(m_hMenu, position, flags, id, text);
}
BOOL CMenu::ModifyMenu(UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  return ::ModifyMenuW(m_hMenu, position, flags, id, text);
}
BOOL CMenu::DeleteMenu(UINT position, UINT flags) { return ::DeleteMenu(m_hMenu, position, flags); }
BOOL CMenu::RemoveMenu(UINT position, UINT flags) { return ::RemoveMenu(m_hMenu, position, flags); }
UINT CMenu::EnableMenuItem(UINT item, UINT enable) { return ::EnableMenuItem(m_hMenu, item, enable); }
UINT CMenu::CheckMenuItem(UINT item, UINT check) { return ::CheckMenuItem(m_hMenu, item, check); }
int CMenu::GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }
UINT CMenu::GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
CMenu* CMenu::GetSubMenu(int position) const { return FromHandle(::GetSubMenu(m_hMenu, position)); }
int CMenu::GetMenuString(UINT item, std::u16string& text, UINT flags) const {
  Menu* m = FindMenu(m_hMenu);
  MenuItem* it = m ? m->find(item, flags) : nullptr;
  text = it ? it->text : u"";
  return static_cast<int>(text.size());
}
int CMenu::GetMenuString(UINT item, CString& text, UINT flags) const {
  std::u16string t;
  int n = GetMenuString(item, t, flags);
  text = CString(t);
  return n;
}
UINT CMenu::GetMenuState(UINT item, UINT flags) const { return ::GetMenuState(m_hMenu, item, flags); }
BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, LPCRECT rect) {
  return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner ? owner->m_hWnd : nullptr, rect);
}

// ---- item information ----

namespace {

MenuItem* find_info_item(HMENU menu, UINT item, BOOL by_position) {
  Menu* m = FindMenu(menu);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  MenuItem* found = m->find(item, by_position ? MF_BYPOSITION : MF_BYCOMMAND);
  if (!found) SetLastError(platform::ui::ERROR_MENU_ITEM_NOT_FOUND_VALUE);
  return found;
}

constexpr UINT kStateFlags = MF_GRAYED | MF_DISABLED | MF_CHECKED;
constexpr UINT kTypeFlags = MFT_OWNERDRAW | MFT_SEPARATOR;

}  // namespace

BOOL GetMenuInfo(HMENU menu, MENUINFO* info) {
  if (!info || info->cbSize != sizeof(MENUINFO)) return platform::fail(ERROR_INVALID_PARAMETER);
  Menu* m = FindMenu(menu);
  if (!m) return platform::fail(ERROR_INVALID_HANDLE);
  if (info->fMask & MIM_STYLE) info->dwStyle = m->style;
  return TRUE;
}

BOOL SetMenuInfo(HMENU menu, const MENUINFO* info) {
  if (!info || info->cbSize != sizeof(MENUINFO)) return platform::fail(ERROR_INVALID_PARAMETER);
  Menu* m = FindMenu(menu);
  if (!m) return platform::fail(ERROR_INVALID_HANDLE);
  if (info->fMask & MIM_STYLE) m->style = info->dwStyle;
  return TRUE;
}

BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL by_position, MENUITEMINFOW* info) {
  if (!info || info->cbSize != sizeof(MENUITEMINFOW)) return platform::fail(ERROR_INVALID_PARAMETER);
  MenuItem* it = find_info_item(menu, item, by_position);
  if (!it) return FALSE;
  if (info->fMask & MIIM_FTYPE) info->fType = it->flags & kTypeFlags;
  if (info->fMask & MIIM_STATE) info->fState = it->flags & kStateFlags;
  if (info->fMask & MIIM_ID) info->wID = (it->flags & MF_POPUP) ? 0 : it->id;
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = (it->flags & MF_POPUP) ? it->submenu : nullptr;
  if (info->fMask & MIIM_DATA) info->dwItemData = it->data;
  if (info->fMask & MIIM_BITMAP) info->hbmpItem = it->bitmap;
  if (info->fMask & MIIM_STRING) {
    const UINT length = static_cast<UINT>(it->text.size());
    if (info->dwTypeData && info->cch > 0) {
      const UINT copied = std::min(length, info->cch - 1);
      std::copy_n(it->text.begin(), copied, info->dwTypeData);
      info->dwTypeData[copied] = 0;
      info->cch = copied;
    } else {
      info->cch = length;
    }
  }
  return TRUE;
}

BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL by_position, const MENUITEMINFOW* info) {
  if (!info || info->cbSize != sizeof(MENUITEMINFOW)) return platform::fail(ERROR_INVALID_PARAMETER);
  if ((info->fMask & MIIM_BITMAP) && info->hbmpItem && info->hbmpItem != HBMMENU_CALLBACK &&
      !platform::ui::BitmapImage(info->hbmpItem))
    return platform::fail(ERROR_INVALID_PARAMETER);
  if ((info->fMask & MIIM_FTYPE) && (info->fType & ~kTypeFlags) != 0) return platform::fail(ERROR_INVALID_PARAMETER);
  if ((info->fMask & MIIM_SUBMENU) && info->hSubMenu && !FindMenu(info->hSubMenu))
    return platform::fail(ERROR_INVALID_HANDLE);
  MenuItem* it = find_info_item(menu, item, by_position);
  if (!it) return FALSE;
  if (info->fMask & MIIM_FTYPE) it->flags = (it->flags & ~(kTypeFlags | MF_BITMAP)) | info->fType;
  if (info->fMask & MIIM_STATE) it->flags = (it->flags & ~kStateFlags) | (info->fState & kStateFlags);
  if (info->fMask & MIIM_ID) it->id = info->wID;
  if (info->fMask & MIIM_SUBMENU) {
    it->submenu = info->hSubMenu;
    it->flags = info->hSubMenu ? (it->flags | MF_POPUP) : (it->flags & ~MF_POPUP);
  }
  if (info->fMask & MIIM_DATA) it->data = info->dwItemData;
  if (info->fMask & MIIM_BITMAP) it->bitmap = info->hbmpItem;
  if (info->fMask & MIIM_STRING) it->text = info->dwTypeData ? info->dwTypeData : u"";
  return TRUE;
}
