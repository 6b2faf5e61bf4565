// Message maps: a static table per class binding a message, or a command or
// notification code with a control id range, to a member handler.
//
//   BEGIN_MESSAGE_MAP(CSourcePage, CDialog)
//     ON_BN_CLICKED(1079, &CSourcePage::OnNext)
//     ON_NOTIFY(LVN_ITEMCHANGING, 1027, &CSourcePage::OnListItemChanging)
//     ON_WM_TIMER()
//   END_MESSAGE_MAP()
//
// Lookup walks the class's table, then its base class's, and so on; the first
// matching entry handles the message. Each entry holds a small adapter that
// unpacks wParam/lParam into the handler's arguments.
#pragma once

#include <functional>
#include <vector>

#include "platform/ui/geometry.h"
#include "platform/ui/winuser.h"

class CCmdTarget;
class CWnd;
class CDC;
class CMenu;

namespace platform::ui {

// Messages seen by a control when its parent reflects a notification to it.
constexpr UINT kReflectBase = 0xBC00;

struct MessageMapEntry {
  UINT message;   // WM_COMMAND, WM_NOTIFY, kReflectBase + one of them, or any message
  UINT code;      // notification code for WM_COMMAND/WM_NOTIFY entries
  UINT first_id;  // control id range for WM_COMMAND/WM_NOTIFY entries
  UINT last_id;
  // Runs the handler; returns false when the handler declines (not used by
  // most adapters) so the search continues.
  std::function<bool(CCmdTarget&, WPARAM, LPARAM, LRESULT&)> call;
};

struct MessageMap {
  const MessageMap* (*base)();  // null for the root
  std::vector<MessageMapEntry> entries;
};

// Adapters used by the ON_ macros.
namespace mm {

template <class T>
MessageMapEntry command(UINT code, UINT first, UINT last, void (T::*fn)()) {
  return {WM_COMMAND, code, first, last, [fn](CCmdTarget& t, WPARAM, LPARAM, LRESULT& r) {
            (static_cast<T&>(t).*fn)();
            r = 0;
            return true;
          }};
}
template <class T>
MessageMapEntry command_range(UINT code, UINT first, UINT last, void (T::*fn)(UINT)) {
  return {WM_COMMAND, code, first, last, [fn](CCmdTarget& t, WPARAM w, LPARAM, LRESULT& r) {
            (static_cast<T&>(t).*fn)(LOWORD(w));
            r = 0;
            return true;
          }};
}
template <class T>
MessageMapEntry notify(UINT code, UINT first, UINT last, void (T::*fn)(NMHDR*, LRESULT*)) {
  return {WM_NOTIFY, code, first, last, [fn](CCmdTarget& t, WPARAM, LPARAM l, LRESULT& r) {
            r = 0;
            (static_cast<T&>(t).*fn)(reinterpret_cast<NMHDR*>(l), &r);
            return true;
          }};
}
template <class T>
MessageMapEntry notify_range(UINT code, UINT first, UINT last,
                             void (T::*fn)(UINT, NMHDR*, LRESULT*)) {
  return {WM_NOTIFY, code, first, last, [fn](CCmdTarget& t, WPARAM w, LPARAM l, LRESULT& r) {
            r = 0;
            auto* h = reinterpret_cast<NMHDR*>(l);
            (static_cast<T&>(t).*fn)(static_cast<UINT>(h->idFrom), h, &r);
            return true;
          }};
}
template <class T>
MessageMapEntry notify_reflect(UINT code, void (T::*fn)(NMHDR*, LRESULT*)) {
  return {kReflectBase + WM_NOTIFY, code, 0, 0xFFFFFFFF,
          [fn](CCmdTarget& t, WPARAM, LPARAM l, LRESULT& r) {
            r = 0;
            (static_cast<T&>(t).*fn)(reinterpret_cast<NMHDR*>(l), &r);
            return true;
          }};
}
template <class T>
MessageMapEntry control_reflect(UINT code, void (T::*fn)()) {
  return {kReflectBase + WM_COMMAND, code, 0, 0xFFFFFFFF,
          [fn](CCmdTarget& t, WPARAM, LPARAM, LRESULT& r) {
            (static_cast<T&>(t).*fn)();
            r = 0;
            return true;
          }};
}
template <class T>
MessageMapEntry message(UINT msg, LRESULT (T::*fn)(WPARAM, LPARAM)) {
  return {msg, 0, 0, 0, [fn](CCmdTarget& t, WPARAM w, LPARAM l, LRESULT& r) {
            r = (static_cast<T&>(t).*fn)(w, l);
            return true;
          }};
}
// A message posted to a thread (no window), in a CWinThread's map.
template <class T>
MessageMapEntry thread_message(UINT msg, void (T::*fn)(WPARAM, LPARAM)) {
  return {msg, 0, 0, 0, [fn](CCmdTarget& t, WPARAM w, LPARAM l, LRESULT& r) {
            (static_cast<T&>(t).*fn)(w, l);
            r = 0;
            return true;
          }};
}
// A plain window message with a hand-written cracker.
template <class T, class F>
MessageMapEntry cracked(UINT msg, F adapter) {
  return {msg, 0, 0, 0, [adapter](CCmdTarget& t, WPARAM w, LPARAM l, LRESULT& r) {
            r = adapter(static_cast<T&>(t), w, l);
            return true;
          }};
}

}  // namespace mm
}  // namespace platform::ui

#define DECLARE_MESSAGE_MAP()                                          \
 protected:                                                            \
  static const ::platform::ui::MessageMap* GetThisMessageMap();        \
  const ::platform::ui::MessageMap* GetMessageMap() const override;    \
                                                                       \
 private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
  const ::platform::ui::MessageMap* theClass::GetMessageMap() const {                   \
    return GetThisMessageMap();                                                         \
  }                                                                                     \
  const ::platform::ui::MessageMap* theClass::GetThisMessageMap() {                     \
    using ThisClass = theClass;                                                         \
    using TheBaseClass = baseClass;                                                     \
    static const ::platform::ui::MessageMap map{&TheBaseClass::GetThisMessageMap, {

#define END_MESSAGE_MAP() \
  }};                     \
  return &map;            \
  }

// Commands and control notifications (WM_COMMAND).
#define ON_COMMAND(id, fn) ::platform::ui::mm::command<ThisClass>(0, id, id, fn),
#define ON_COMMAND_RANGE(first, last, fn) \
  ::platform::ui::mm::command_range<ThisClass>(0, first, last, fn),
#define ON_CONTROL(code, id, fn) ::platform::ui::mm::command<ThisClass>(code, id, id, fn),
#define ON_CONTROL_RANGE(code, first, last, fn) \
  ::platform::ui::mm::command_range<ThisClass>(code, first, last, fn),
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_BN_DOUBLECLICKED(id, fn) ON_CONTROL(BN_DOUBLECLICKED, id, fn)
#define ON_STN_CLICKED(id, fn) ON_CONTROL(STN_CLICKED, id, fn)
#define ON_STN_DBLCLK(id, fn) ON_CONTROL(STN_DBLCLK, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_EN_SETFOCUS(id, fn) ON_CONTROL(EN_SETFOCUS, id, fn)
#define ON_EN_KILLFOCUS(id, fn) ON_CONTROL(EN_KILLFOCUS, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_CBN_EDITCHANGE(id, fn) ON_CONTROL(CBN_EDITCHANGE, id, fn)
#define ON_CBN_DROPDOWN(id, fn) ON_CONTROL(CBN_DROPDOWN, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)
#define ON_LBN_DBLCLK(id, fn) ON_CONTROL(LBN_DBLCLK, id, fn)
#define ON_CONTROL_REFLECT(code, fn) ::platform::ui::mm::control_reflect<ThisClass>(code, fn),

// Common-control notifications (WM_NOTIFY).
#define ON_NOTIFY(code, id, fn) ::platform::ui::mm::notify<ThisClass>(code, id, id, fn),
#define ON_NOTIFY_RANGE(code, first, last, fn) \
  ::platform::ui::mm::notify_range<ThisClass>(code, first, last, fn),
#define ON_NOTIFY_REFLECT(code, fn) ::platform::ui::mm::notify_reflect<ThisClass>(code, fn),

// Any message to a handler taking (WPARAM, LPARAM) and returning LRESULT.
#define ON_MESSAGE(msg, fn) ::platform::ui::mm::message<ThisClass>(msg, fn),
// A thread message (PostThreadMessageW) to a CWinThread handler taking
// (WPARAM, LPARAM).
#define ON_THREAD_MESSAGE(msg, fn) ::platform::ui::mm::thread_message<ThisClass>(msg, fn),

// Window messages with fixed handler names.
#define DRUM_CRACK(msg, body) \
  ::platform::ui::mm::cracked<ThisClass>(msg, [](ThisClass & self, WPARAM w, LPARAM l) -> LRESULT body),
#define ON_WM_TIMER() DRUM_CRACK(WM_TIMER, { self.OnTimer(static_cast<UINT_PTR>(w)); (void)l; return 0; })
#define ON_WM_PAINT() DRUM_CRACK(WM_PAINT, { self.OnPaint(); (void)w; (void)l; return 0; })
#define ON_WM_ERASEBKGND() DRUM_CRACK(WM_ERASEBKGND, { (void)l; return self.OnEraseBkgnd(::CDC::FromHandle(reinterpret_cast<HDC>(w))); })
#define ON_WM_CTLCOLOR()                                                                    \
  DRUM_CRACK(WM_CTLCOLORSTATIC, { return reinterpret_cast<LRESULT>(self.OnCtlColor(::CDC::FromHandle(reinterpret_cast<HDC>(w)), ::CWnd::FromHandle(reinterpret_cast<HWND>(l)), 6)); }) \
  DRUM_CRACK(WM_CTLCOLORBTN, { return reinterpret_cast<LRESULT>(self.OnCtlColor(::CDC::FromHandle(reinterpret_cast<HDC>(w)), ::CWnd::FromHandle(reinterpret_cast<HWND>(l)), 3)); }) \
  DRUM_CRACK(WM_CTLCOLOREDIT, { return reinterpret_cast<LRESULT>(self.OnCtlColor(::CDC::FromHandle(reinterpret_cast<HDC>(w)), ::CWnd::FromHandle(reinterpret_cast<HWND>(l)), 1)); }) \
  DRUM_CRACK(WM_CTLCOLORDLG, { return reinterpret_cast<LRESULT>(self.OnCtlColor(::CDC::FromHandle(reinterpret_cast<HDC>(w)), ::CWnd::FromHandle(reinterpret_cast<HWND>(l)), 4)); }) \
  DRUM_CRACK(WM_CTLCOLORLISTBOX, { return reinterpret_cast<LRESULT>(self.OnCtlColor(::CDC::FromHandle(reinterpret_cast<HDC>(w)), ::CWnd::FromHandle(reinterpret_cast<HWND>(l)), 2)); })
#define ON_WM_SHOWWINDOW() DRUM_CRACK(WM_SHOWWINDOW, { self.OnShowWindow(static_cast<BOOL>(w), static_cast<UINT>(l)); return 0; })
#define ON_WM_CLOSE() DRUM_CRACK(WM_CLOSE, { self.OnClose(); (void)w; (void)l; return 0; })
#define ON_WM_DESTROY() DRUM_CRACK(WM_DESTROY, { self.OnDestroy(); (void)w; (void)l; return 0; })
#define ON_WM_MOUSEMOVE() DRUM_CRACK(WM_MOUSEMOVE, { self.OnMouseMove(static_cast<UINT>(w), ::CPoint(l)); return 0; })
#define ON_WM_MOUSELEAVE() DRUM_CRACK(WM_MOUSELEAVE, { self.OnMouseLeave(); (void)w; (void)l; return 0; })
#define ON_WM_LBUTTONDOWN() DRUM_CRACK(WM_LBUTTONDOWN, { self.OnLButtonDown(static_cast<UINT>(w), ::CPoint(l)); return 0; })
#define ON_WM_LBUTTONUP() DRUM_CRACK(WM_LBUTTONUP, { self.OnLButtonUp(static_cast<UINT>(w), ::CPoint(l)); return 0; })
#define ON_WM_LBUTTONDBLCLK() DRUM_CRACK(WM_LBUTTONDBLCLK, { self.OnLButtonDblClk(static_cast<UINT>(w), ::CPoint(l)); return 0; })
#define ON_WM_RBUTTONDOWN() DRUM_CRACK(WM_RBUTTONDOWN, { self.OnRButtonDown(static_cast<UINT>(w), ::CPoint(l)); return 0; })
#define ON_WM_KEYDOWN() DRUM_CRACK(WM_KEYDOWN, { self.OnKeyDown(static_cast<UINT>(w), static_cast<UINT>(l & 0xFFFF), static_cast<UINT>((l >> 16) & 0xFFFF)); return 0; })
#define ON_WM_SYSCOMMAND() DRUM_CRACK(WM_SYSCOMMAND, { self.OnSysCommand(static_cast<UINT>(w), l); return 0; })
#define ON_WM_QUERYDRAGICON() DRUM_CRACK(WM_QUERYDRAGICON, { (void)w; (void)l; return reinterpret_cast<LRESULT>(self.OnQueryDragIcon()); })
#define ON_WM_QUERYENDSESSION() DRUM_CRACK(WM_QUERYENDSESSION, { (void)w; (void)l; return self.OnQueryEndSession(); })
#define ON_WM_DEVICECHANGE() DRUM_CRACK(WM_DEVICECHANGE, { return self.OnDeviceChange(static_cast<UINT>(w), static_cast<DWORD_PTR>(l)); })
#define ON_WM_WINDOWPOSCHANGED() DRUM_CRACK(WM_WINDOWPOSCHANGED, { (void)w; self.OnWindowPosChanged(reinterpret_cast<WINDOWPOS*>(l)); return 0; })
#define ON_WM_DRAWITEM() DRUM_CRACK(WM_DRAWITEM, { self.OnDrawItem(static_cast<int>(w), reinterpret_cast<LPDRAWITEMSTRUCT>(l)); return TRUE; })
#define ON_WM_MEASUREITEM() DRUM_CRACK(WM_MEASUREITEM, { self.OnMeasureItem(static_cast<int>(w), reinterpret_cast<LPMEASUREITEMSTRUCT>(l)); return TRUE; })
#define ON_WM_INITMENUPOPUP() DRUM_CRACK(WM_INITMENUPOPUP, { self.OnInitMenuPopup(::CMenu::FromHandle(reinterpret_cast<HMENU>(w)), LOWORD(l), static_cast<BOOL>(HIWORD(l))); return 0; })
#define ON_WM_HSCROLL() DRUM_CRACK(WM_HSCROLL, { self.OnHScroll(LOWORD(w), HIWORD(w), reinterpret_cast<::CScrollBar*>(::CWnd::FromHandle(reinterpret_cast<HWND>(l)))); return 0; })
#define ON_WM_SETCURSOR() DRUM_CRACK(WM_SETCURSOR, { return self.OnSetCursor(::CWnd::FromHandle(reinterpret_cast<HWND>(w)), LOWORD(l), HIWORD(l)); })
#define ON_WM_CREATE() DRUM_CRACK(WM_CREATE, { (void)w; (void)l; return self.OnCreate(nullptr); })
