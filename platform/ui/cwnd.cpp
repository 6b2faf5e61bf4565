#include "platform/ui/cwnd.h"

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/process/process.h"
#include "platform/ui/control_model.h"
#include "platform/ui/resources.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/window.h"

using platform::ui::FindWindowModel;
using platform::ui::MessageMap;
using platform::ui::Window;

namespace {

// The message being handled on this thread, for CWnd::Default().
struct CurrentMessage {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM w = 0;
  LPARAM l = 0;
};
thread_local CurrentMessage current_message;

CWinApp* the_app = nullptr;

bool is_routed(UINT message) {
  return message == WM_COMMAND || message == WM_NOTIFY ||
         message == platform::ui::kReflectBase + WM_COMMAND ||
         message == platform::ui::kReflectBase + WM_NOTIFY;
}

}  // namespace

// ---- CCmdTarget ----

const MessageMap* CCmdTarget::GetThisMessageMap() {
  static const MessageMap map{nullptr, {}};
  return &map;
}
const MessageMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

bool CCmdTarget::DispatchThroughMaps(UINT message, UINT code, UINT id, WPARAM w, LPARAM l,
                                     LRESULT& result) {
  bool routed = is_routed(message);
  for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
    for (const auto& e : map->entries) {
      if (e.message != message) continue;
      if (routed && (e.code != code || id < e.first_id || id > e.last_id)) continue;
      if (e.call(*this, w, l, result)) return true;
    }
  }
  return false;
}

// ---- CWnd ----

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (!m_hWnd) return;
  Window* w = FindWindowModel(m_hWnd);
  if (!w) return;
  if (owns_window_) {
    platform::ui::DestroyWindowModel(w);
  } else if (w->object == this) {
    w->object = nullptr;
  }
  m_hWnd = nullptr;
}

const MessageMap* CWnd::GetThisMessageMap() {
  static const MessageMap map{&CCmdTarget::GetThisMessageMap, {}};
  return &map;
}
const MessageMap* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  DWORD saved = GetLastError();
  Window* w = FindWindowModel(hwnd);
  SetLastError(saved);
  return w ? dynamic_cast<CWnd*>(w->object) : nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  DWORD saved = GetLastError();
  Window* w = FindWindowModel(hwnd);
  SetLastError(saved);
  if (!w) return nullptr;
  if (w->object) return dynamic_cast<CWnd*>(w->object);
  if (!w->wrapper) {
    std::unique_ptr<CWnd> made = platform::ui::MakeWrapperFor(w->kind);
    made->m_hWnd = hwnd;
    w->wrapper = std::move(made);
  }
  return dynamic_cast<CWnd*>(w->wrapper.get());
}

BOOL CWnd::Attach(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  if (!w) return FALSE;
  if (w->object && w->object != this) return FALSE;
  w->object = this;
  m_hWnd = hwnd;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND h = m_hWnd;
  if (Window* w = FindWindowModel(h); w && w->object == this) w->object = nullptr;
  m_hWnd = nullptr;
  owns_window_ = false;
  return h;
}

BOOL CWnd::SubclassWindow(HWND hwnd) { return Attach(hwnd); }

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (!parent) return FALSE;
  HWND h = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  return h ? Attach(h) : FALSE;
}

BOOL CWnd::Create(LPCWSTR class_name, LPCWSTR window_name, DWORD style, const RECT& rect,
                  CWnd* parent, UINT id) {
  return CreateEx(0, class_name, window_name, style, rect, parent, id);
}

BOOL CWnd::CreateEx(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id) {
  platform::ui::CreateParams p;
  p.class_name = class_name && !IS_INTRESOURCE(class_name) ? class_name : u"";
  p.text = window_name ? window_name : u"";
  p.rect = rect;
  p.style = style;
  p.ex_style = ex_style;
  p.id = static_cast<int>(id);
  Window* parent_window = parent ? FindWindowModel(parent->m_hWnd) : nullptr;
  if (style & WS_CHILD) {
    if (!parent_window) return platform::fail(ERROR_INVALID_WINDOW_HANDLE);
    p.parent = parent_window;
  } else {
    p.owner = parent_window;
  }
  p.object = this;
  Window* w = platform::ui::CreateWindowModel(p);
  owns_window_ = true;
  if (SendMessage(WM_CREATE, 0, 0) == -1) {
    platform::ui::DestroyWindowModel(w);
    return FALSE;
  }
  return TRUE;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM w, LPARAM l) const {
  return ::SendMessageW(m_hWnd, message, w, l);
}
BOOL CWnd::PostMessage(UINT message, WPARAM w, LPARAM l) const {
  return ::PostMessageW(m_hWnd, message, w, l);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM w, LPARAM l) {
  CurrentMessage saved = current_message;
  current_message = {m_hWnd, message, w, l};
  LRESULT result = 0;
  if (message == WM_COMMAND) {
    if (!OnCommand(w, l)) result = DefWindowProc(message, w, l);
  } else if (message == WM_NOTIFY) {
    if (!OnNotify(w, l, &result)) result = DefWindowProc(message, w, l);
  } else if (!DispatchThroughMaps(message, 0, 0, w, l, result)) {
    if (message == WM_DRAWITEM || message == WM_MEASUREITEM) {
      // Owner-drawn controls draw themselves when their object says how.
      OnDrawItem(static_cast<int>(w), reinterpret_cast<LPDRAWITEMSTRUCT>(l));
      result = TRUE;
      if (message == WM_MEASUREITEM) {
        auto* mi = reinterpret_cast<LPMEASUREITEMSTRUCT>(l);
        if (mi && mi->CtlType != ODT_MENU)
          if (CWnd* c = FromHandlePermanent(::GetDlgItem(m_hWnd, static_cast<int>(mi->CtlID))))
            c->MeasureItem(mi);
      }
    } else {
      result = DefWindowProc(message, w, l);
    }
  }
  current_message = saved;
  return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM w, LPARAM l) {
  return ::DefWindowProcW(m_hWnd, message, w, l);
}

LRESULT CWnd::Default() {
  return ::DefWindowProcW(m_hWnd, current_message.message, current_message.w, current_message.l);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::OnCommand(WPARAM w, LPARAM l) {
  UINT id = LOWORD(w);
  UINT code = HIWORD(w);
  HWND control = reinterpret_cast<HWND>(l);
  LRESULT r = 0;
  if (control) {
    if (CWnd* child = FromHandlePermanent(control); child && child != this)
      if (child->OnChildNotify(WM_COMMAND, w, l, &r)) return TRUE;
  } else if (code == 1) {
    code = 0;  // accelerators route like menu commands
  }
  if (DispatchThroughMaps(WM_COMMAND, code, id, w, l, r)) return TRUE;
  if (control) return FALSE;
  // A menu or accelerator command that no window takes goes on to the
  // thread's object, and then to the application object.
  CWinThread* thread = AfxGetThread();
  CWinApp* app = AfxGetApp();
  if (thread && thread->DispatchThroughMaps(WM_COMMAND, code, id, w, l, r)) return TRUE;
  return app && app != thread && app->DispatchThroughMaps(WM_COMMAND, code, id, w, l, r);
}

BOOL CWnd::OnNotify(WPARAM w, LPARAM l, LRESULT* result) {
  auto* header = reinterpret_cast<NMHDR*>(l);
  if (!header) return FALSE;
  if (CWnd* child = FromHandlePermanent(header->hwndFrom); child && child != this)
    if (child->OnChildNotify(WM_NOTIFY, w, l, result)) return TRUE;
  return DispatchThroughMaps(WM_NOTIFY, header->code, static_cast<UINT>(header->idFrom), w, l,
                             *result);
}

bool CWnd::OnChildNotify(UINT message, WPARAM w, LPARAM l, LRESULT* result) {
  UINT code = message == WM_NOTIFY ? reinterpret_cast<NMHDR*>(l)->code : HIWORD(w);
  return DispatchThroughMaps(platform::ui::kReflectBase + message, code, 0, w, l, *result);
}

BOOL CWnd::UpdateData(BOOL save_and_validate) {
  CDataExchange dx(this, save_and_validate);
  DoDataExchange(&dx);
  return dx.failed ? FALSE : TRUE;
}

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetOwner() const { return FromHandle(::GetWindow(m_hWnd, GW_OWNER)); }
CWnd* CWnd::GetTopLevelParent() const {
  Window* w = FindWindowModel(m_hWnd);
  return w ? FromHandle(w->top_level()->handle) : nullptr;
}
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }
void CWnd::SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
int CWnd::GetWindowText(LPWSTR buffer, int size) const { return ::GetWindowTextW(m_hWnd, buffer, size); }
CString CWnd::GetWindowText() const {
  int n = ::GetWindowTextLengthW(m_hWnd);
  std::u16string s(static_cast<size_t>(n) + 1, u'\0');
  int got = ::GetWindowTextW(m_hWnd, s.data(), n + 1);
  s.resize(static_cast<size_t>(got));
  return CString(s);
}
void CWnd::GetWindowText(CString& text) const { text = GetWindowText(); }
int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
void CWnd::SetDlgItemText(int id, LPCWSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }
CString CWnd::GetDlgItemText(int id) const {
  CWnd* item = GetDlgItem(id);
  return item ? item->GetWindowText() : CString();
}
int CWnd::GetDlgItemText(int id, CString& text) const {
  text = GetDlgItemText(id);
  return text.GetLength();
}
UINT CWnd::GetDlgItemInt(int id, BOOL* translated, BOOL is_signed) const {
  std::u16string s = GetDlgItemText(id).GetString();
  size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool negative = false;
  if (is_signed && i < s.size() && s[i] == u'-') {
    negative = true;
    ++i;
  }
  long long v = 0;
  size_t digits = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && digits < 12) {
    v = v * 10 + (s[i] - u'0');
    ++i;
    ++digits;
  }
  bool ok = digits > 0 && digits < 12 && v <= (is_signed ? INT32_MAX : UINT32_MAX);
  if (translated) *translated = ok;
  if (!ok) return 0;
  return static_cast<UINT>(negative ? -v : v);
}
void CWnd::SetDlgItemInt(int id, UINT value, BOOL is_signed) {
  std::string s = is_signed ? std::to_string(static_cast<int>(value)) : std::to_string(value);
  SetDlgItemText(id, platform::to_utf16(s).c_str());
}
void CWnd::CheckDlgButton(int id, UINT check) {
  if (HWND h = ::GetDlgItem(m_hWnd, id)) ::SendMessageW(h, BM_SETCHECK, check, 0);
}
UINT CWnd::IsDlgButtonChecked(int id) const {
  HWND h = ::GetDlgItem(m_hWnd, id);
  return h ? static_cast<UINT>(::SendMessageW(h, BM_GETCHECK, 0, 0)) : 0;
}
void CWnd::CheckRadioButton(int first, int last, int check) {
  for (int id = first; id <= last; ++id) CheckDlgButton(id, id == check ? 1 : 0);
}
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
  DWORD s = GetStyle();
  ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>((s & ~remove) | add));
  return (s & ~remove) != s || (s | add) != s;
}
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
  DWORD s = GetExStyle();
  ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, static_cast<LONG>((s & ~remove) | add));
  return (s & ~remove) != s || (s | add) != s;
}
BOOL CWnd::IsWindow() const { return ::IsWindow(m_hWnd); }

void CWnd::GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }
void CWnd::ScreenToClient(LPRECT rect) const {
  ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->left));
  ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->right));
}
void CWnd::ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
void CWnd::ClientToScreen(LPRECT rect) const {
  ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(&rect->left));
  ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(&rect->right));
}
BOOL CWnd::SetWindowPos(const CWnd* insert_after, int x, int y, int cx, int cy, UINT flags) {
  HWND after = insert_after ? insert_after->m_hWnd : HWND_TOP;
  return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
}
void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}
void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
  ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               repaint);
}
void CWnd::CenterWindow(CWnd* alternate_owner) {
  Window* w = FindWindowModel(m_hWnd);
  if (!w) return;
  RECT area;
  if (w->is_child()) {
    area = w->parent->client_rect();
  } else {
    SIZE screen = platform::ui::ScreenSize();
    area = {0, 0, screen.cx, screen.cy};
    Window* over = nullptr;
    if (alternate_owner && alternate_owner->m_hWnd != ::GetDesktopWindow())
      over = FindWindowModel(alternate_owner->m_hWnd);
    else if (!alternate_owner && w->owner && w->owner->visible())
      over = w->owner;
    if (over) area = over->rect;
  }
  LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
  int x = area.left + ((area.right - area.left) - width) / 2;
  int y = area.top + ((area.bottom - area.top) - height) / 2;
  if (!w->is_child()) {
    SIZE screen = platform::ui::ScreenSize();
    x = std::max(0, std::min<int>(x, screen.cx - width));
    y = std::max(0, std::min<int>(y, screen.cy - height));
  }
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
CWnd* CWnd::ChildWindowFromPoint(POINT point) const {
  return FromHandle(::ChildWindowFromPoint(m_hWnd, point));
}
void CWnd::BringWindowToTop() { ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }
BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }

void CWnd::Invalidate(BOOL erase) { ::InvalidateRect(m_hWnd, nullptr, erase); }
void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) { ::InvalidateRect(m_hWnd, rect, erase); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
BOOL CWnd::RedrawWindow(LPCRECT rect, void* region, UINT flags) {
  return ::RedrawWindow(m_hWnd, rect, region, flags);
}
CDC* CWnd::GetDC() { return CDC::FromHandle(::GetDC(m_hWnd)); }
int CWnd::ReleaseDC(CDC* dc) { return dc ? ::ReleaseDC(m_hWnd, dc->m_hDC) : 0; }
HICON CWnd::SetIcon(HICON icon, BOOL big) {
  return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                                             reinterpret_cast<LPARAM>(icon)));
}
HICON CWnd::GetIcon(BOOL big) const {
  Window* w = FindWindowModel(m_hWnd);
  return w ? (big ? w->big_icon : w->small_icon) : nullptr;
}
void CWnd::SetFont(CFont* font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->m_hObject : nullptr), redraw);
}
CFont* CWnd::GetFont() const {
  return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT, 0, 0)));
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  return ::SetTimer(m_hWnd, id, elapse_ms, proc);
}
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

CMenu* CWnd::GetMenu() const {
  Window* w = FindWindowModel(m_hWnd);
  return w ? CMenu::FromHandle(w->menu) : nullptr;
}
BOOL CWnd::SetMenu(CMenu* menu) {
  Window* w = FindWindowModel(m_hWnd);
  if (!w) return FALSE;
  w->menu = menu ? menu->m_hMenu : nullptr;
  return TRUE;
}
CMenu* CWnd::GetSystemMenu(BOOL revert) const {
  Window* w = FindWindowModel(m_hWnd);
  if (!w) return nullptr;
  return CMenu::FromHandle(platform::ui::SystemMenuOf(*w, revert != FALSE));
}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
  return ::MessageBoxW(m_hWnd, text, caption, type);
}

void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnPaint() { Default(); }
BOOL CWnd::OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
void CWnd::OnShowWindow(BOOL, UINT) { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnMouseLeave() { Default(); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnLButtonUp(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDblClk(UINT, CPoint) { Default(); }
void CWnd::OnRButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnKeyDown(UINT, UINT, UINT) { Default(); }
void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
BOOL CWnd::OnQueryEndSession() { return static_cast<BOOL>(Default()); }
BOOL CWnd::OnDeviceChange(UINT, DWORD_PTR) { return static_cast<BOOL>(Default()); }
void CWnd::OnWindowPosChanged(WINDOWPOS*) { Default(); }
void CWnd::OnDrawItem(int, LPDRAWITEMSTRUCT item) {
  if (item && item->CtlType != ODT_MENU)
    if (CWnd* c = FromHandlePermanent(item->hwndItem)) c->DrawItem(item);
}
void CWnd::OnMeasureItem(int, LPMEASUREITEMSTRUCT) {}
void CWnd::OnInitMenuPopup(CMenu*, UINT, BOOL) {}
void CWnd::OnHScroll(UINT, UINT, CScrollBar*) { Default(); }
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) { return static_cast<BOOL>(Default()); }
int CWnd::OnCreate(void*) { return 0; }

// ---- CWinThread / CWinApp ----

struct CWinThread::Runner {
  std::thread thread;
  std::atomic<bool> finished{false};
};

int CWinThread::Run() {
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) {
    if (!m.hwnd) {
      DispatchMessageW(&m);  // PreTranslateMessage, then the thread's map
      continue;
    }
    if (!PreTranslateMessage(&m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  exit_code_ = static_cast<int>(m.wParam);
  return ExitInstance();
}

namespace {
// A window-less message on the current thread: its thread object's
// PreTranslateMessage, then its message map.
bool route_thread_message(MSG& msg) {
  CWinThread* thread = AfxGetThread();
  if (!thread) return false;
  if (!thread->PreTranslateMessage(&msg)) thread->HandleThreadMessage(msg);
  return true;
}
}  // namespace

CWinThread::CWinThread() { platform::ui::SetThreadMessageRoute(&route_thread_message); }

BOOL CWinThread::PreTranslateMessage(MSG* msg) {
  return platform::ui::PreTranslate(*msg, nullptr) ? TRUE : FALSE;
}

bool CWinThread::HandleThreadMessage(const MSG& msg) {
  LRESULT result = 0;
  return DispatchThroughMaps(msg.message, 0, 0, msg.wParam, msg.lParam, result);
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stack_size) {
  if (flags != 0 || stack_size != 0) return platform::fail(ERROR_INVALID_PARAMETER);
  if (runner_) {
    if (IsRunning()) return platform::fail(ERROR_ALREADY_EXISTS);
    // The earlier thread has ended: start afresh.
    Join();
    runner_.reset();
  }
  auto runner = std::make_shared<Runner>();
  auto started = std::make_shared<std::promise<DWORD>>();
  auto id = started->get_future();
  runner_ = runner;  // before the thread runs: it may end (and delete this) at once
  // The thread waits until its handle is stored in the runner: an object
  // that deletes itself at once must find it there, joinable, to detach it.
  auto stored = std::make_shared<std::promise<void>>();
  std::shared_future<void> handle_stored = stored->get_future().share();
  try {
    // The thread keeps its own reference to the runner: an object deleted
    // on its own thread (after ExitInstance) leaves it valid.
    runner->thread = std::thread([this, runner, started, handle_stored] {
      handle_stored.wait();
      auto& queue = platform::ui::CurrentUiThread();
      queue.started_by_another = true;
      queue.thread_object = this;
      m_nThreadID = queue.id;
      started->set_value(queue.id);
      platform::ui::loop_backend().thread_started(queue);
      if (InitInstance())
        Run();
      else
        ExitInstance();
      // `this` may be gone from here on.
      platform::ui::loop_backend().thread_ending(queue);
      queue.thread_object = nullptr;
      runner->finished = true;
      platform::ui::SignalThreadStateChange();
    });
  } catch (const std::system_error&) {
    runner_.reset();
    return platform::fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  stored->set_value();
  id.wait();  // the queue exists; `this` is not touched again here
  return TRUE;
}

bool CWinThread::IsRunning() const { return runner_ && !runner_->finished.load(); }

void CWinThread::Join() {
  if (!runner_ || !runner_->thread.joinable()) return;
  if (runner_->thread.get_id() == std::this_thread::get_id()) return;  // never on itself
  std::shared_ptr<Runner> runner = runner_;
  platform::ui::WaitServingSends([runner] { return runner->finished.load(); });
  runner->thread.join();
}

CWinThread::~CWinThread() {
  if (runner_ && runner_->thread.joinable() && runner_->thread.get_id() == std::this_thread::get_id()) {
    // Deleted on its own thread: the thread finishes on its own.
    runner_->thread.detach();
    return;
  }
  Join();
}

CWinApp::CWinApp(LPCWSTR app_name) {
  if (app_name) {
    app_name_storage = app_name;
    m_pszAppName = app_name_storage.c_str();
  }
  m_lpCmdLine = command_line_storage_.data();
  app_thread_ = std::this_thread::get_id();
  previous_app_ = the_app;
  the_app = this;
}

CWinApp::~CWinApp() {
  // A short-lived application object (a test's) hands back the one before it.
  if (the_app == this) the_app = previous_app_;
}

void CWinApp::SetProgramPath(const std::u16string& exe_path) {
  help_path_storage = exe_path;
  auto dot = help_path_storage.rfind(u'.');
  auto slash = help_path_storage.find_last_of(u"\\/");
  if (dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash))
    help_path_storage.resize(dot);
  help_path_storage += u".HLP";
  m_pszHelpFilePath = help_path_storage.c_str();
}

void CWinApp::OnHelp() { WinHelp(0, HELP_FINDER); }

void CWinApp::WinHelp(DWORD_PTR, UINT) {
  // The help file goes to the program the machine opens its type with;
  // without one nothing opens, as with a missing help viewer.
  if (m_pszHelpFilePath && *m_pszHelpFilePath)
    ShellExecuteW(nullptr, u"open", m_pszHelpFilePath, nullptr, nullptr, SW_SHOWNORMAL);
}

void CWinApp::SetCommandLine(const std::u16string& full_command_line) {
  command_line_storage_ = platform::ui::ArgumentsAfterProgramName(full_command_line);
  m_lpCmdLine = command_line_storage_.data();
}

void CWinApp::SetRegistryKey(LPCWSTR key) {
  registry_key_storage_ = key ? key : u"";
  m_pszRegistryKey = key ? registry_key_storage_.c_str() : nullptr;
}

CWinThread* AfxGetThread() {
  if (platform::ui::UiThread* t = platform::ui::CurrentUiThreadIfAny(); t && t->thread_object)
    return t->thread_object;
  CWinApp* app = the_app;
  if (app && app->app_thread_ == std::this_thread::get_id()) return app;
  return nullptr;
}

void InitCommonControls() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return platform::fail(ERROR_INVALID_PARAMETER);
  return TRUE;
}

void AfxEnableControlContainer() {}
BOOL AfxInitRichEdit() { return TRUE; }
BOOL AfxInitRichEdit2() { return TRUE; }

CWinApp* AfxGetApp() { return the_app; }
CWnd* AfxGetMainWnd() {
  CWinThread* thread = AfxGetThread();
  return thread ? thread->m_pMainWnd : nullptr;
}
HINSTANCE AfxGetInstanceHandle() { return reinterpret_cast<HINSTANCE>(0x400000); }
namespace {
std::atomic<HINSTANCE> resource_handle{nullptr};
}  // namespace
HINSTANCE AfxGetResourceHandle() {
  HINSTANCE h = resource_handle.load();
  return h ? h : AfxGetInstanceHandle();
}
void AfxSetResourceHandle(HINSTANCE instance) { resource_handle.store(instance); }

namespace platform::ui {

std::u16string ArgumentsAfterProgramName(const std::u16string& command_line) {
  size_t i = 0;
  if (!command_line.empty() && command_line[0] == u'"') {
    size_t close = command_line.find(u'"', 1);
    i = close == std::u16string::npos ? command_line.size() : close + 1;
  } else {
    while (i < command_line.size() && command_line[i] != u' ' && command_line[i] != u'\t') ++i;
  }
  while (i < command_line.size() && (command_line[i] == u' ' || command_line[i] == u'\t')) ++i;
  return command_line.substr(i);
}

int RunApplication(CWinApp& app) {
  if (!app.InitApplication() || !app.InitInstance()) return app.ExitInstance();
  return app.Run();
}
}  // namespace platform::ui
