// Framework window classes: CCmdTarget (message-map lookup), CWnd (a window
// handle with member functions and overridable handlers), CWinThread and
// CWinApp.
//
// Rules for subclasses: handlers listed in a message map are plain members
// with the framework's names and signatures (OnTimer(UINT_PTR), OnPaint(), ...);
// the base versions run the window's default behaviour through Default().
// Override WindowProc, OnCommand or OnNotify only to change routing.
#pragma once

#include <string>

#include "platform/core/cstring.h"
#include "platform/ui/geometry.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"

class CDC;
class CMenu;
class CScrollBar;

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

 protected:
  static const ::platform::ui::MessageMap* GetThisMessageMap();
  virtual const ::platform::ui::MessageMap* GetMessageMap() const;

 public:
  // Looks `message` (with code and id for WM_COMMAND/WM_NOTIFY) up in the
  // maps from this class upwards and runs the first match.
  bool DispatchThroughMaps(UINT message, UINT code, UINT id, WPARAM w, LPARAM l, LRESULT& result);
};

class CWnd : public CCmdTarget {
 public:
  CWnd();
  ~CWnd() override;

  HWND m_hWnd = nullptr;

  // The object for a handle: the attached object, or a permanent plain CWnd
  // made on first use. Null for a bad handle.
  static CWnd* FromHandle(HWND hwnd);
  static CWnd* FromHandlePermanent(HWND hwnd);
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  BOOL Attach(HWND hwnd);
  HWND Detach();
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  BOOL SubclassWindow(HWND hwnd);

  // Makes a child window of a registered or built-in class.
  virtual BOOL Create(LPCWSTR class_name, LPCWSTR window_name, DWORD style, const RECT& rect,
                      CWnd* parent, UINT id);
  BOOL CreateEx(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style,
                const RECT& rect, CWnd* parent, UINT id);
  virtual BOOL DestroyWindow();

  // Messages.
  LRESULT SendMessage(UINT message, WPARAM w = 0, LPARAM l = 0) const;
  BOOL PostMessage(UINT message, WPARAM w = 0, LPARAM l = 0) const;
  virtual LRESULT WindowProc(UINT message, WPARAM w, LPARAM l);
  virtual LRESULT DefWindowProc(UINT message, WPARAM w, LPARAM l);
  // The default behaviour for the message being handled.
  LRESULT Default();
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual BOOL OnCommand(WPARAM w, LPARAM l);
  virtual BOOL OnNotify(WPARAM w, LPARAM l, LRESULT* result);
  // A notification reflected from the parent; true when this control handled it.
  virtual bool OnChildNotify(UINT message, WPARAM w, LPARAM l, LRESULT* result);
  virtual void DrawItem(LPDRAWITEMSTRUCT) {}
  virtual void MeasureItem(LPMEASUREITEMSTRUCT) {}
  virtual void PostNcDestroy() {}

  // Data exchange.
  virtual void DoDataExchange(class CDataExchange* dx) {}
  BOOL UpdateData(BOOL save_and_validate = TRUE);

  // Window state.
  CWnd* GetDlgItem(int id) const;
  int GetDlgCtrlID() const;
  CWnd* GetParent() const;
  CWnd* GetOwner() const;
  CWnd* GetTopLevelParent() const;
  BOOL IsWindowVisible() const;
  BOOL IsWindowEnabled() const;
  BOOL ShowWindow(int command);
  BOOL EnableWindow(BOOL enable = TRUE);
  CWnd* SetFocus();
  static CWnd* GetFocus();
  void SetWindowText(LPCWSTR text);
  void SetWindowText(const std::u16string& text) { SetWindowText(text.c_str()); }
  int GetWindowText(LPWSTR buffer, int size) const;
  CString GetWindowText() const;
  void GetWindowText(CString& text) const;
  int GetWindowTextLength() const;
  void SetDlgItemText(int id, LPCWSTR text);
  CString GetDlgItemText(int id) const;
  int GetDlgItemText(int id, CString& text) const;
  UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL is_signed = TRUE) const;
  void SetDlgItemInt(int id, UINT value, BOOL is_signed = TRUE);
  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id) const;
  void CheckRadioButton(int first, int last, int check);
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
  BOOL IsWindow() const;

  // Geometry.
  void GetWindowRect(LPRECT rect) const;
  void GetClientRect(LPRECT rect) const;
  void ScreenToClient(LPPOINT point) const;
  void ScreenToClient(LPRECT rect) const;
  void ClientToScreen(LPPOINT point) const;
  void ClientToScreen(LPRECT rect) const;
  BOOL SetWindowPos(const CWnd* insert_after, int x, int y, int cx, int cy, UINT flags);
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  void CenterWindow(CWnd* alternate_owner = nullptr);
  CWnd* ChildWindowFromPoint(POINT point) const;
  void BringWindowToTop();
  BOOL SetForegroundWindow();

  // Painting.
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
  void UpdateWindow();
  BOOL RedrawWindow(LPCRECT rect = nullptr, void* region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  CDC* GetDC();
  int ReleaseDC(CDC* dc);
  HICON SetIcon(HICON icon, BOOL big);
  HICON GetIcon(BOOL big) const;
  void SetFont(class CFont* font, BOOL redraw = TRUE);
  class CFont* GetFont() const;

  // Timers (on the platform clock).
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
  BOOL KillTimer(UINT_PTR id);

  // Menus.
  CMenu* GetMenu() const;
  BOOL SetMenu(CMenu* menu);
  CMenu* GetSystemMenu(BOOL revert) const;
  void DrawMenuBar() {}

  int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = 0);

  // Handlers with the framework's names; the defaults run Default().
  void OnTimer(UINT_PTR id);
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);
  void OnShowWindow(BOOL show, UINT status);
  void OnClose();
  void OnDestroy();
  void OnMouseMove(UINT flags, CPoint point);
  void OnMouseLeave();
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonUp(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  void OnRButtonDown(UINT flags, CPoint point);
  void OnKeyDown(UINT key, UINT repeat, UINT flags);
  void OnSysCommand(UINT id, LPARAM l);
  HCURSOR OnQueryDragIcon();
  BOOL OnQueryEndSession();
  BOOL OnDeviceChange(UINT event, DWORD_PTR data);
  void OnWindowPosChanged(WINDOWPOS* pos);
  void OnDrawItem(int id, LPDRAWITEMSTRUCT item);
  void OnMeasureItem(int id, LPMEASUREITEMSTRUCT item);
  void OnInitMenuPopup(CMenu* menu, UINT index, BOOL system_menu);
  void OnHScroll(UINT code, UINT pos, CScrollBar* bar);
  BOOL OnSetCursor(CWnd* wnd, UINT hit_test, UINT message);
  int OnCreate(void* create_struct);

 protected:
  static const ::platform::ui::MessageMap* GetThisMessageMap();
  const ::platform::ui::MessageMap* GetMessageMap() const override;
  // True when this object made the window (DestroyWindow on destruction).
  bool owns_window_ = false;
};

// A user-interface thread with its own message queue.
class CWinThread : public CCmdTarget {
 public:
  CWnd* m_pMainWnd = nullptr;
  DWORD m_nThreadID = 0;
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return exit_code_; }
  // Runs GetMessage/PreTranslate/Translate/Dispatch until WM_QUIT.
  virtual int Run();
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Starts the thread: InitInstance, then Run when it returned TRUE.
  BOOL CreateThread();
  // Waits until a thread started by CreateThread has ended.
  void Join();
  ~CWinThread() override;

 protected:
  int exit_code_ = 0;

 private:
  struct Runner;
  Runner* runner_ = nullptr;
};

class CWinApp : public CWinThread {
 public:
  explicit CWinApp(LPCWSTR app_name = nullptr);
  ~CWinApp() override;
  LPCWSTR m_pszAppName = nullptr;
  LPCWSTR m_pszHelpFilePath = nullptr;
  std::u16string app_name_storage;
  std::u16string help_path_storage;
  // Sets the program's file path (the help path is it with ".HLP").
  void SetProgramPath(const std::u16string& exe_path);
  virtual BOOL InitApplication() { return TRUE; }

 private:
  CWinApp* previous_app_ = nullptr;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

namespace platform::ui {
// Runs an application object: InitInstance, then its message loop when it
// returned TRUE, then ExitInstance. Returns the exit code.
int RunApplication(CWinApp& app);
}  // namespace platform::ui
