#include "platform/ui/window.h"

#include <QImage>
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"
#include "platform/ui/control_model.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_queue.h"

namespace platform::ui {

namespace {

struct Registry {
  std::mutex mutex;  // guards `by_handle` (PostMessageW looks up from any thread)
  std::unordered_map<HWND, Window*> by_handle;
  uintptr_t next = 0;
  // Top-level windows in z-order. Windows of several user-interface threads
  // come and go here, so the list changes and is copied only under its lock.
  std::mutex top_mutex;
  std::vector<Window*> top_levels;
  std::vector<WindowObserver*> observers;
  SIZE screen{1024, 768};
};

Registry& registry() {
  static Registry* r = new Registry;  // lives until exit; windows may outlive statics
  return *r;
}

void remove_from(std::vector<Window*>& list, Window* w) {
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
}

}  // namespace

Window::Window() = default;
Window::~Window() = default;

bool Window::showing() const {
  for (const Window* w = this; w; w = w->is_child() ? w->parent : nullptr)
    if (!w->visible()) return false;
  return true;
}

int CaptionHeight() { return 22; }
int MenuBarHeight() { return 19; }

int FrameWidth(DWORD style) {
  if (style & WS_THICKFRAME) return 4;
  if ((style & WS_CAPTION) == WS_CAPTION || (style & WS_DLGFRAME)) return 3;
  if (style & WS_BORDER) return 1;
  return 0;
}

POINT Window::client_offset() const {
  if (is_child()) {
    int edge = (ex_style & WS_EX_CLIENTEDGE) ? 2 : (style & WS_BORDER) ? 1 : 0;
    return {edge, edge};
  }
  int frame = FrameWidth(style);
  int caption = (style & WS_CAPTION) == WS_CAPTION ? CaptionHeight() : 0;
  int menu_bar = menu ? MenuBarHeight() : 0;
  return {frame, frame + caption + menu_bar};
}

RECT Window::client_rect() const {
  POINT off = client_offset();
  int frame_right = off.x;
  int frame_bottom = is_child() ? off.x : FrameWidth(style);
  LONG w = rect.right - rect.left - off.x - frame_right;
  LONG h = rect.bottom - rect.top - off.y - frame_bottom;
  return {0, 0, std::max<LONG>(w, 0), std::max<LONG>(h, 0)};
}

POINT Window::client_origin_on_screen() const {
  POINT off = client_offset();
  POINT p{rect.left + off.x, rect.top + off.y};
  if (is_child()) {
    POINT parent_origin = parent->client_origin_on_screen();
    p.x += parent_origin.x;
    p.y += parent_origin.y;
  }
  return p;
}

Window* Window::top_level() {
  Window* w = this;
  while (w->is_child()) w = w->parent;
  return w;
}

void AddWindowObserver(WindowObserver* observer) { registry().observers.push_back(observer); }
void RemoveWindowObserver(WindowObserver* observer) {
  auto& v = registry().observers;
  v.erase(std::remove(v.begin(), v.end(), observer), v.end());
}
void NotifyWindowChanged(Window& window) {
  for (auto* o : registry().observers) o->window_changed(window);
}
void NotifyWindowRepainted(Window& window) {
  for (auto* o : registry().observers) o->window_repainted(window);
}
void NotifyWindowInvalidated(Window& window) {
  for (auto* o : registry().observers) o->window_invalidated(window);
}

Window* FindWindowModel(HWND handle) {
  if (!handle) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.by_handle.find(handle);
  if (it == r.by_handle.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return it->second;
}

std::vector<Window*> TopLevelWindows() {
  auto& r = registry();
  std::lock_guard lock(r.top_mutex);
  return r.top_levels;
}

WindowKind KindForClass(const std::u16string& name, DWORD style) {
  struct Entry {
    const char16_t* name;
    WindowKind kind;
  };
  static const Entry table[] = {
      {u"#32770", WindowKind::Dialog},          {u"Static", WindowKind::Static},
      {u"Button", WindowKind::Button},          {u"Edit", WindowKind::Edit},
      {u"RichEdit20W", WindowKind::RichEdit},   {u"RichEdit20A", WindowKind::RichEdit},
      {u"RICHEDIT50W", WindowKind::RichEdit},   {u"RichEdit", WindowKind::RichEdit},
      {u"ListBox", WindowKind::ListBox},        {u"ComboBox", WindowKind::ComboBox},
      {u"SysListView32", WindowKind::ListView}, {u"SysTreeView32", WindowKind::TreeView},
      {u"msctls_progress32", WindowKind::Progress},
      {u"msctls_trackbar32", WindowKind::Slider},
  };
  for (const auto& e : table)
    if (AsciiEqualNoCase(name, e.name)) return e.kind;
  return WindowKind::Generic;
}

Window* CreateWindowModel(const CreateParams& p) {
  auto& r = registry();
  UiThread& thread = CurrentUiThread();
  auto* w = new Window;
  {
    std::lock_guard lock(r.mutex);
    r.next += 1;
    w->handle = reinterpret_cast<HWND>(0x10000 + 4 * r.next);
    r.by_handle[w->handle] = w;
  }
  w->thread = &thread;
  w->class_name = p.class_name;
  w->text = p.text;
  w->rect = p.rect;
  w->style = p.style;
  w->ex_style = p.ex_style;
  w->id = p.id;
  w->template_id = p.template_id;
  w->role = p.role;
  w->kind = KindForClass(p.class_name, p.style);
  if ((p.style & WS_CHILD) && p.parent) {
    w->parent = p.parent;
    // New children go to the bottom of the z-order, as the platform does
    // (template order is tab order, and the first control is on top).
    p.parent->children.push_back(w);
  } else {
    w->style &= ~WS_CHILD;
    w->owner = p.owner ? p.owner->top_level() : nullptr;
    std::lock_guard lock(r.top_mutex);
    if (w->ex_style & WS_EX_TOPMOST) {
      r.top_levels.insert(r.top_levels.begin(), w);
    } else {
      auto it = std::find_if(r.top_levels.begin(), r.top_levels.end(),
                             [](Window* t) { return !(t->ex_style & WS_EX_TOPMOST); });
      r.top_levels.insert(it, w);
    }
  }
  thread.windows.push_back(w);
  w->control = MakeControlModel(w->kind, *w);
  if (p.object) {
    w->object = p.object;
    p.object->OwnerAttached(w->handle);
  }
  for (auto* o : r.observers) o->window_created(*w);
  if (w->visible()) Invalidate(*w, true, false);
  return w;
}

void DestroyWindowModel(Window* w) {
  if (!w || w->destroying) return;
  w->destroying = true;
  auto& r = registry();
  // Owned top-level windows go first, as on the platform.
  std::vector<Window*> owned;
  for (Window* t : TopLevelWindows())
    if (t->owner == w) owned.push_back(t);
  for (Window* t : owned) {
    if (t->thread == w->thread) {
      DestroyWindowModel(t);
      continue;
    }
    // Another thread's window is destroyed only by that thread; it loses its owner.
    HWND h = t->handle;
    RunOnWindowThread(h, [h] {
      if (Window* o = FindWindowModel(h)) o->owner = nullptr;
    });
  }

  SendMessageW(w->handle, WM_DESTROY, 0, 0);
  std::vector<Window*> kids = w->children;
  for (Window* c : kids) DestroyWindowModel(c);

  UiThread& thread = *w->thread;
  thread.timers.erase(std::remove_if(thread.timers.begin(), thread.timers.end(),
                                     [w](const UiThread::Timer& t) { return t.hwnd == w->handle; }),
                      thread.timers.end());
  if (thread.focus == w->handle) thread.focus = nullptr;
  if (thread.active == w->handle) thread.active = nullptr;
  if (thread.capture == w->handle) thread.capture = nullptr;
  for (auto* o : r.observers) o->window_destroyed(*w);
  if (w->parent) remove_from(w->parent->children, w);
  {
    std::lock_guard lock(r.top_mutex);
    remove_from(r.top_levels, w);
  }
  remove_from(thread.windows, w);
  {
    std::lock_guard lock(r.mutex);
    r.by_handle.erase(w->handle);
  }
  // Drop queued messages for the dead window.
  {
    std::lock_guard lock(thread.mutex);
    auto dead = [w](const MSG& m) { return m.hwnd == w->handle; };
    thread.posted.erase(std::remove_if(thread.posted.begin(), thread.posted.end(), dead),
                        thread.posted.end());
    thread.input.erase(std::remove_if(thread.input.begin(), thread.input.end(), dead),
                       thread.input.end());
  }
  if (w->object) {
    WindowOwner* obj = w->object;
    w->object = nullptr;
    obj->OwnerDetached(true);
  }
  if (w->wrapper) w->wrapper->OwnerDetached(false);
  delete w;
}

namespace {
// Tells the observers about `w` and the children marked with it or
// covered by its painting.
void notify_invalidated(Window& w, bool children, int depth) {
  NotifyWindowInvalidated(w);
  if (depth >= 32 || (!children && (w.style & WS_CLIPCHILDREN))) return;
  for (Window* c : w.children)
    if (c->visible()) notify_invalidated(*c, children, depth + 1);
}

void mark_invalid(Window& w, bool erase, bool children, int depth) {
  w.invalid = true;
  w.erase = w.erase || erase;
  w.thread->paint_dirty = true;
  if (children && depth < 32)
    for (Window* c : w.children) mark_invalid(*c, erase, true, depth + 1);
}
}  // namespace

void Invalidate(Window& w, bool erase, bool children) {
  mark_invalid(w, erase, children, 0);
  notify_invalidated(w, children, 0);
}

MouseHit HitTestMouse(Window& top, POINT screen) {
  Window* w = &top;
  for (int depth = 0;; ++depth) {
    POINT o = w->client_origin_on_screen();
    POINT local{screen.x - o.x, screen.y - o.y};
    if (depth >= 32) return {w, local};  // nesting is capped
    // A hit-test handler may change the children: walk a copy by handle.
    std::vector<HWND> kids;
    for (Window* c : w->children) kids.push_back(c->handle);
    Window* next = nullptr;
    for (HWND h : kids) {
      Window* c = FindWindowModel(h);
      if (!c || !c->visible() || !PtInRect(&c->rect, local)) continue;
      if (!c->enabled()) break;  // the parent takes the mouse
      // Windows of this thread answer for themselves; another thread's
      // window gets its class's answer (a send would wait on that thread).
      LRESULT code = c->thread != &CurrentUiThread()
                         ? DefaultHitTest(*c)
                         : SendMessageW(h, WM_NCHITTEST, 0, MAKELONG(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
      if (code == HTTRANSPARENT || !FindWindowModel(h)) continue;
      next = c;
      break;
    }
    if (!next) return {w, local};
    w = next;
  }
}

std::vector<Window*> PaintOrder(const Window& parent) {
  std::vector<Window*> layers, transparent;
  layers.reserve(parent.children.size());
  // Walking down the z-order, each child paints after those above it: over
  // them, unless it clips them out. A WS_EX_TRANSPARENT child paints only
  // after every sibling beneath it, so it shows over all of them (a text
  // over a banner that was brought above it).
  for (Window* c : parent.children) {
    if (c->style & WS_CLIPSIBLINGS)
      layers.insert(layers.begin(), c);
    else if (c->ex_style & WS_EX_TRANSPARENT)
      transparent.push_back(c);
    else
      layers.push_back(c);
  }
  layers.insert(layers.end(), transparent.begin(), transparent.end());
  return layers;
}

MouseHit MouseLanding(Window& over, POINT client) {
  POINT o = over.client_origin_on_screen();
  POINT screen{client.x + o.x, client.y + o.y};
  SetCursorPos(screen.x, screen.y);
  return HitTestMouse(*over.top_level(), screen);
}

LRESULT DefaultHitTest(const Window& w) {
  // Plain statics and group boxes let the mouse through to what lies
  // beneath them; a static with SS_NOTIFY takes clicks itself.
  bool see_through = (w.kind == WindowKind::Static && !(w.style & SS_NOTIFY)) ||
                     (w.kind == WindowKind::Button && (w.style & BS_TYPEMASK) == BS_GROUPBOX);
  return see_through ? HTTRANSPARENT : HTCLIENT;
}

void SetCursorFor(Window& under, UINT mouse_message) {
  if (under.thread != &CurrentUiThread()) return;  // its own thread sets it
  HWND h = under.handle;
  SendMessageW(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELONG(static_cast<WORD>(HTCLIENT), static_cast<WORD>(mouse_message)));
}

void PostMouseInput(const MouseHit& hit, UINT message, WPARAM keys) {
  if (!hit.window) return;
  // Leave tracking ends for the other windows of the window's own thread
  // (a view that shows another thread's windows works while it is still).
  if (message == WM_MOUSEMOVE)
    for (Window* w : hit.window->thread->windows)
      if (w->track_leave && w != hit.window) {
        w->track_leave = false;
        PostInputMessage(w->handle, WM_MOUSELEAVE, 0, 0);
      }
  PostInputMessage(hit.window->handle, message, keys,
                   MAKELONG(static_cast<WORD>(hit.client.x), static_cast<WORD>(hit.client.y)));
}

void SetScreenSize(int width, int height) { registry().screen = {width, height}; }
SIZE ScreenSize() { return registry().screen; }

void NotifyParentCommand(Window& control, UINT code) {
  if (!control.parent) return;
  SendMessageW(control.parent->handle, WM_COMMAND,
               MAKELONG(static_cast<WORD>(control.id), static_cast<WORD>(code)),
               reinterpret_cast<LPARAM>(control.handle));
}

LRESULT NotifyParent(Window& control, NMHDR& header, UINT code) {
  header.hwndFrom = control.handle;
  header.idFrom = static_cast<UINT_PTR>(control.id);
  header.code = code;
  if (!control.parent) return 0;
  return SendMessageW(control.parent->handle, WM_NOTIFY, static_cast<WPARAM>(control.id),
                      reinterpret_cast<LPARAM>(&header));
}

}  // namespace platform::ui

// ---- free window functions ----

using platform::ui::FindWindowModel;
using platform::ui::Window;

BOOL IsWindow(HWND hwnd) {
  if (!hwnd) return FALSE;
  DWORD saved = GetLastError();
  BOOL ok = FindWindowModel(hwnd) != nullptr;
  SetLastError(saved);
  return ok;
}

BOOL DestroyWindow(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  platform::ui::DestroyWindowModel(w);
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  Window* w = FindWindowModel(dialog);
  if (!w) return nullptr;
  for (Window* c : w->children)
    if (c->id == id) return c->handle;
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  return w ? w->id : 0;
}

HWND GetParent(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return nullptr;
  if (w->is_child()) return w->parent->handle;
  return w->owner ? w->owner->handle : nullptr;
}

HWND GetDesktopWindow() { return reinterpret_cast<HWND>(0x10000); }

HWND GetWindow(HWND hwnd, UINT relation) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return nullptr;
  const std::vector<Window*>& siblings =
      w->is_child() ? w->parent->children : platform::ui::TopLevelWindows();
  auto it = std::find(siblings.begin(), siblings.end(), w);
  switch (relation) {
    case GW_CHILD:
      return w->children.empty() ? nullptr : w->children.front()->handle;
    case GW_OWNER:
      return w->owner ? w->owner->handle : nullptr;
    case GW_HWNDFIRST:
      return siblings.empty() ? nullptr : siblings.front()->handle;
    case GW_HWNDLAST:
      return siblings.empty() ? nullptr : siblings.back()->handle;
    case GW_HWNDNEXT:
      if (it == siblings.end() || it + 1 == siblings.end()) return nullptr;
      return (*(it + 1))->handle;
    case GW_HWNDPREV:
      if (it == siblings.end() || it == siblings.begin()) return nullptr;
      return (*(it - 1))->handle;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  if (!FindWindowModel(hwnd)) return FALSE;
  return static_cast<BOOL>(SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")));
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int size) {
  if (!FindWindowModel(hwnd) || !buffer || size <= 0) return 0;
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(size),
                                       reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND hwnd) {
  if (!FindWindowModel(hwnd)) return 0;
  return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextW(item, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (buffer && size > 0) buffer[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(item, buffer, size));
}

BOOL IsWindowVisible(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  return w && w->showing();
}

BOOL ShowWindow(HWND hwnd, int command) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  BOOL was_visible = w->visible();
  bool show = command != SW_HIDE;
  if (show == static_cast<bool>(was_visible)) return was_visible;
  SendMessageW(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  if (!platform::ui::FindWindowModel(hwnd)) return was_visible;
  if (show) {
    w->style |= WS_VISIBLE;
    platform::ui::Invalidate(*w, true, true);
  } else {
    w->style &= ~WS_VISIBLE;
    if (w->is_child()) platform::ui::Invalidate(*w->parent, true, false);
    if (w->thread->focus) {
      // Focus inside a hidden window moves away, as on the platform.
      Window* f = FindWindowModel(w->thread->focus);
      for (Window* p = f; p; p = p->is_child() ? p->parent : nullptr)
        if (p == w) {
          w->thread->focus = nullptr;
          break;
        }
    }
  }
  if (show && !w->is_child() && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE)
    w->thread->active = hwnd;
  platform::ui::NotifyWindowChanged(*w);
  return was_visible;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  if (w->thread != &platform::ui::CurrentUiThread()) {
    // A modal page on another thread disables its owner: done by the owner's thread.
    BOOL was_disabled = FALSE;
    platform::ui::RunOnWindowThread(hwnd, [&] { was_disabled = EnableWindow(hwnd, enable); });
    return was_disabled;
  }
  BOOL was_disabled = !w->enabled();
  if (static_cast<bool>(enable) == !was_disabled) return was_disabled;
  if (enable)
    w->style &= ~WS_DISABLED;
  else
    w->style |= WS_DISABLED;
  SendMessageW(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  if (!enable && w->thread->focus) {
    // A disabled window takes no keys: a focus on it or inside it goes.
    Window* f = FindWindowModel(w->thread->focus);
    for (int hops = 0; f && hops < 64; ++hops, f = f->is_child() ? f->parent : nullptr)
      if (f == w) {
        w->thread->focus = nullptr;
        break;
      }
  }
  if (platform::ui::FindWindowModel(hwnd)) {
    platform::ui::Invalidate(*w, true, false);
    platform::ui::NotifyWindowChanged(*w);
  }
  return was_disabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  return w && w->enabled();
}

HWND SetFocus(HWND hwnd) {
  auto& thread = platform::ui::CurrentUiThread();
  HWND old = thread.focus;
  if (hwnd == nullptr) {
    thread.focus = nullptr;
    if (old && IsWindow(old)) SendMessageW(old, WM_KILLFOCUS, 0, 0);
    return old;
  }
  Window* w = FindWindowModel(hwnd);
  if (!w || !w->enabled()) return nullptr;
  if (old == hwnd) return old;
  thread.focus = hwnd;
  if (old && IsWindow(old)) SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (IsWindow(hwnd)) SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() { return platform::ui::CurrentUiThread().focus; }
HWND GetActiveWindow() { return platform::ui::CurrentUiThread().active; }
HWND SetActiveWindow(HWND hwnd) {
  auto& thread = platform::ui::CurrentUiThread();
  HWND old = thread.active;
  if (FindWindowModel(hwnd)) thread.active = hwnd;
  return old;
}
BOOL SetForegroundWindow(HWND hwnd) {
  if (!FindWindowModel(hwnd)) return FALSE;
  SetActiveWindow(hwnd);
  return TRUE;
}
HWND GetForegroundWindow() { return GetActiveWindow(); }

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  Window* w = FindWindowModel(hwnd);
  if (!w || !rect) return FALSE;
  *rect = w->rect;
  if (w->is_child()) {
    POINT o = w->parent->client_origin_on_screen();
    OffsetRect(rect, o.x, o.y);
  }
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  Window* w = FindWindowModel(hwnd);
  if (!w || !rect) return FALSE;
  *rect = w->client_rect();
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  Window* w = FindWindowModel(hwnd);
  if (!w || !point) return FALSE;
  POINT o = w->client_origin_on_screen();
  point->x -= o.x;
  point->y -= o.y;
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  Window* w = FindWindowModel(hwnd);
  if (!w || !point) return FALSE;
  POINT o = w->client_origin_on_screen();
  point->x += o.x;
  point->y += o.y;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  POINT a{0, 0}, b{0, 0};
  if (from) ClientToScreen(from, &a);
  if (to) ClientToScreen(to, &b);
  for (UINT i = 0; i < count; ++i) {
    points[i].x += a.x - b.x;
    points[i].y += a.y - b.y;
  }
  return MAKELONG(static_cast<WORD>(a.x - b.x), static_cast<WORD>(a.y - b.y));
}

BOOL SetWindowPos(HWND hwnd, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  RECT old = w->rect;
  if (!(flags & SWP_NOMOVE)) {
    LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
    w->rect = {x, y, x + width, y + height};
  }
  if (!(flags & SWP_NOSIZE)) {
    w->rect.right = w->rect.left + std::max(cx, 0);
    w->rect.bottom = w->rect.top + std::max(cy, 0);
  }
  if (!(flags & SWP_NOZORDER)) {
    if (insert_after == HWND_TOPMOST && !w->is_child()) w->ex_style |= WS_EX_TOPMOST;
    if (insert_after == HWND_NOTOPMOST) w->ex_style &= ~WS_EX_TOPMOST;
    auto place = [&](std::vector<Window*>& siblings) {
      siblings.erase(std::remove(siblings.begin(), siblings.end(), w), siblings.end());
      auto pos = siblings.begin();
      if (insert_after == HWND_BOTTOM) {
        pos = siblings.end();
      } else if (insert_after == HWND_TOP || insert_after == HWND_TOPMOST || insert_after == HWND_NOTOPMOST) {
        if (!w->is_child() && !(w->ex_style & WS_EX_TOPMOST))
          pos = std::find_if(siblings.begin(), siblings.end(),
                             [](Window* t) { return !(t->ex_style & WS_EX_TOPMOST); });
      } else {
        Window* after = FindWindowModel(insert_after);
        auto it = std::find(siblings.begin(), siblings.end(), after);
        pos = it == siblings.end() ? siblings.begin() : it + 1;
      }
      siblings.insert(pos, w);
    };
    if (w->is_child()) {
      place(w->parent->children);
    } else {
      auto& r = platform::ui::registry();
      std::lock_guard lock(r.top_mutex);
      place(r.top_levels);
    }
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOWNA);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  if (!platform::ui::FindWindowModel(hwnd)) return TRUE;
  WINDOWPOS pos{hwnd, insert_after, w->rect.left, w->rect.top, w->rect.right - w->rect.left,
                w->rect.bottom - w->rect.top, flags};
  SendMessageW(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  if (!platform::ui::FindWindowModel(hwnd)) return TRUE;
  bool resized = (old.right - old.left) != (w->rect.right - w->rect.left) ||
                 (old.bottom - old.top) != (w->rect.bottom - w->rect.top);
  if (resized) {
    RECT c = w->client_rect();
    SendMessageW(hwnd, WM_SIZE, 0, MAKELONG(static_cast<WORD>(c.right), static_cast<WORD>(c.bottom)));
  }
  if (!(flags & SWP_NOREDRAW)) {
    platform::ui::Invalidate(*w, true, true);
    if (w->is_child()) platform::ui::Invalidate(*w->parent, true, false);
  }
  platform::ui::NotifyWindowChanged(*w);
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

HWND ChildWindowFromPoint(HWND parent, POINT point) {
  Window* w = FindWindowModel(parent);
  if (!w) return nullptr;
  RECT client = w->client_rect();
  if (!PtInRect(&client, point)) return nullptr;
  // Hidden and disabled children count too, as on the platform.
  for (Window* c : w->children)
    if (PtInRect(&c->rect, point)) return c->handle;
  return parent;
}

HWND WindowFromPoint(POINT point) {
  // The window the mouse would reach there: transparent and disabled
  // children are passed over as for input.
  for (Window* t : platform::ui::TopLevelWindows()) {
    if (!t->visible() || !PtInRect(&t->rect, point)) continue;
    return platform::ui::HitTestMouse(*t, point).window->handle;
  }
  return nullptr;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
  if (!hwnd) {
    for (Window* t : platform::ui::TopLevelWindows()) platform::ui::Invalidate(*t, erase, true);
    return TRUE;
  }
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  platform::ui::Invalidate(*w, erase, false);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT*) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  w->invalid = false;
  w->erase = false;
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  if (w->invalid && w->showing()) SendMessageW(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* rect, void*, UINT flags) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  if (flags & RDW_INVALIDATE)
    platform::ui::Invalidate(*w, (flags & RDW_ERASE) != 0, (flags & RDW_ALLCHILDREN) != 0);
  if (flags & RDW_UPDATENOW) {
    std::vector<HWND> order{hwnd};
    if (flags & RDW_ALLCHILDREN)
      for (Window* c : w->children) order.push_back(c->handle);
    for (HWND h : order) UpdateWindow(h);
  }
  return TRUE;
}

HWND FindWindowW(LPCWSTR class_name, LPCWSTR window_name) {
  // Walks the top-level windows in z-order, as the platform does.
  for (Window* t : platform::ui::TopLevelWindows()) {
    if (class_name && !IS_INTRESOURCE(class_name) && t->class_name != class_name) continue;
    if (window_name && t->text != window_name) continue;
    return t->handle;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

int GetSystemMetrics(int index) {
  SIZE s = platform::ui::ScreenSize();
  switch (index) {
    case SM_CXSCREEN: case SM_CXFULLSCREEN: return s.cx;
    case SM_CYSCREEN: return s.cy;
    case SM_CYFULLSCREEN: return s.cy - platform::ui::CaptionHeight() - 40;
    case SM_CXVSCROLL: case SM_CYHSCROLL: return 17;
    case SM_CYCAPTION: return platform::ui::CaptionHeight();
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME: case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME: case SM_CYFRAME: return 4;
    case SM_CXICON: case SM_CYICON: return 32;
    case SM_CXSMICON: case SM_CYSMICON: return 16;
    case SM_CYMENU: return 19;
  }
  return 0;
}

LONG GetWindowLongW(HWND hwnd, int index) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->ex_style);
    case GWL_ID: return w->id;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

LONG SetWindowLongW(HWND hwnd, int index, LONG value) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return 0;
  LONG old = GetWindowLongW(hwnd, index);
  switch (index) {
    case GWL_STYLE: w->style = static_cast<DWORD>(value); break;
    case GWL_EXSTYLE: w->ex_style = static_cast<DWORD>(value); break;
    case GWL_ID: w->id = value; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
  platform::ui::NotifyWindowChanged(*w);
  return old;
}

BOOL TrackMouseEvent(TRACKMOUSEEVENT* track) {
  if (!track) return FALSE;
  Window* w = FindWindowModel(track->hwndTrack);
  if (!w) return FALSE;
  w->track_leave = (track->dwFlags & TME_LEAVE) && !(track->dwFlags & TME_CANCEL);
  return TRUE;
}

namespace {
POINT cursor_pos{0, 0};
HCURSOR current_cursor = nullptr;
}  // namespace

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  *point = cursor_pos;
  return TRUE;
}
BOOL SetCursorPos(int x, int y) {
  cursor_pos = {x, y};
  return TRUE;
}

HWND SetCapture(HWND hwnd) {
  auto& t = platform::ui::CurrentUiThread();
  HWND old = t.capture;
  t.capture = hwnd;
  return old;
}
BOOL ReleaseCapture() {
  platform::ui::CurrentUiThread().capture = nullptr;
  return TRUE;
}
HWND GetCapture() { return platform::ui::CurrentUiThread().capture; }
BOOL MessageBeep(UINT) { return TRUE; }

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR name) {
  // System cursors are identified by their numeric ids.
  if (!IS_INTRESOURCE(name)) return nullptr;
  return reinterpret_cast<HCURSOR>(const_cast<WCHAR*>(name));
}
HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR old = current_cursor;
  current_cursor = cursor;
  return old;
}
HCURSOR GetCursor() { return current_cursor; }

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long product = static_cast<long long>(number) * numerator;
  // Rounds half away from zero.
  long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  long long q = (product >= 0) == (denominator > 0) ? (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator))
                                                    : -((std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator)));
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<int>(q);
}

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  *rect = {left, top, right, bottom};
  return TRUE;
}
BOOL PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
BOOL OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx; r->right += dx; r->top += dy; r->bottom += dy;
  return TRUE;
}
BOOL InflateRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx; r->right += dx; r->top -= dy; r->bottom += dy;
  return TRUE;
}
BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }
BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&r)) {
    *out = {0, 0, 0, 0};
    return FALSE;
  }
  *out = r;
  return TRUE;
}
BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  if (IsRectEmpty(a)) { *out = *b; return !IsRectEmpty(b); }
  if (IsRectEmpty(b)) { *out = *a; return TRUE; }
  *out = {std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
          std::max(a->bottom, b->bottom)};
  return TRUE;
}
