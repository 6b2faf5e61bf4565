// The default behaviour of every window (what DefWindowProcW does): text,
// closing, painting, colours, icons, and the controls' built-in handling.
#include <algorithm>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

using platform::ui::FindWindowModel;
using platform::ui::Window;
using platform::ui::WindowKind;

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  Window* win = FindWindowModel(hwnd);
  if (!win) return 0;
  if (win->control) {
    LRESULT r = 0;
    if (win->control->handle(*win, message, w, l, r)) return r;
  }
  switch (message) {
    case WM_SETTEXT:
      win->text = l ? reinterpret_cast<LPCWSTR>(l) : u"";
      platform::ui::Invalidate(*win, true, false);
      platform::ui::NotifyWindowChanged(*win);
      return TRUE;
    case WM_GETTEXT: {
      auto* out = reinterpret_cast<WCHAR*>(l);
      if (!out || w == 0) return 0;
      size_t n = std::min<size_t>(win->text.size(), w - 1);
      std::copy(win->text.begin(), win->text.begin() + static_cast<long>(n), out);
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(win->text.size());
    case WM_CLOSE:
      if (win->kind == WindowKind::Dialog) {
        // Closing a dialog is its Cancel.
        HWND cancel = GetDlgItem(hwnd, IDCANCEL);
        Window* cw = FindWindowModel(cancel);
        if (cw && !cw->enabled()) return 0;
        SendMessageW(hwnd, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      } else {
        DestroyWindow(hwnd);
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((w & 0xFFF0) == SC_CLOSE) SendMessageW(hwnd, WM_CLOSE, 0, 0);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_HELP:
      // A control passes help on to its parent.
      return win->is_child() ? SendMessageW(win->parent->handle, WM_HELP, w, l) : 0;
    case WM_PAINT:
      if (win->kind == WindowKind::Generic || win->kind == WindowKind::Dialog) {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
      } else {
        win->invalid = false;
        win->erase = false;
      }
      return 0;
    case WM_ERASEBKGND: {
      RECT r = win->client_rect();
      HBRUSH brush = GetSysColorBrush(COLOR_BTNFACE);
      if (win->kind == WindowKind::Dialog) {
        LRESULT chosen = SendMessageW(hwnd, WM_CTLCOLORDLG, w, reinterpret_cast<LPARAM>(hwnd));
        if (chosen) brush = reinterpret_cast<HBRUSH>(chosen);
      }
      FillRect(reinterpret_cast<HDC>(w), &r, brush);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORMSGBOX:
      SetBkColor(reinterpret_cast<HDC>(w), GetSysColor(COLOR_BTNFACE));
      SetTextColor(reinterpret_cast<HDC>(w), GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      SetBkColor(reinterpret_cast<HDC>(w), GetSysColor(COLOR_WINDOW));
      SetTextColor(reinterpret_cast<HDC>(w), GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_SETFONT:
      win->font = reinterpret_cast<HFONT>(w);
      if (l) platform::ui::Invalidate(*win, true, false);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(win->font);
    case WM_SETICON: {
      HICON old = w == ICON_BIG ? win->big_icon : win->small_icon;
      (w == ICON_BIG ? win->big_icon : win->small_icon) = reinterpret_cast<HICON>(l);
      return reinterpret_cast<LRESULT>(old);
    }
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(win->big_icon ? win->big_icon : win->small_icon);
    case WM_DEVICECHANGE:
      return TRUE;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return 0;
    case WM_NCHITTEST:
      return platform::ui::DefaultHitTest(*win);
    case WM_SETCURSOR:
      // The parents choose first; when none does, the window under the
      // mouse shows the arrow (the cursor of every built-in class here).
      if (win->is_child() && SendMessageW(win->parent->handle, WM_SETCURSOR, w, l)) return TRUE;
      if (reinterpret_cast<HWND>(w) == hwnd && LOWORD(l) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
      }
      return FALSE;
  }
  return 0;
}
