// Framework window classes: CCmdTarget (message-map lookup), CWnd (a window
// handle with member functions and overridable handlers), CWinThread and
// CWinApp.
//
// Rules for subclasses: handlers listed in a message map are plain members
// with the framework's names and signatures (OnTimer(UINT_PTR), OnPaint(), ...);
// the base versions run the window's default behaviour through Default().
// Override WindowProc, OnCommand or OnNotify only to change routing.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/core/cstring.h"
#include "platform/ui/geometry.h"
#include "platform/ui/message_map.h"
#include "platform/ui/window_owner.h"
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

class CWnd : public CCmdTarget, public platform::ui::WindowOwner {
 public:
  CWnd();
  ~CWnd() override;

  // How the window model reaches the object (platform::ui::WindowOwner).
  LRESULT OwnerWindowProc(UINT message, WPARAM w, LPARAM l) override { return WindowProc(message, w, l); }
  bool OwnerPreTranslate(MSG& msg) override { return PreTranslateMessage(&msg) != FALSE; }
  void OwnerAttached(HWND hwnd) override { m_hWnd = hwnd; }
  void OwnerDetached(bool attached) override {
    m_hWnd = nullptr;
    if (attached) PostNcDestroy();
  }

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
//
// Rules for subclasses: InitInstance and Run execute on the new thread;
// windows made there belong to it. Messages posted to the thread id
// (PostThreadMessageW) have no window: every loop of the thread hands them
// to PreTranslateMessage and then to the class's message map, whose entries
// are ON_THREAD_MESSAGE(id, &CMyThread::Handler) with
// `void Handler(WPARAM, LPARAM)`. A subclass whose members the thread uses
// must end the thread (and Join) in its own destructor: the base destructor
// runs after those members are gone.
class CWinThread : public CCmdTarget {
 public:
  // Routes the thread messages of whichever thread runs to its object.
  CWinThread();
  // The thread's main window (AfxGetMainWnd on this thread), or null.
  CWnd* m_pMainWnd = nullptr;
  // The id PostThreadMessageW takes; set once CreateThread returns.
  DWORD m_nThreadID = 0;
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return exit_code_; }
  // Runs GetMessage/PreTranslate/Translate/Dispatch until WM_QUIT.
  virtual int Run();
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Runs a window-less message through this class's message map; true when
  // an entry took it.
  bool HandleThreadMessage(const MSG& msg);
  // Starts the thread: InitInstance, then Run when it returned TRUE, then
  // ExitInstance. Returns once the thread's message queue exists, so
  // messages posted to m_nThreadID from then on are kept. `flags` and
  // `stack_size` must be 0 (no suspended start here, ERROR_INVALID_PARAMETER);
  // a second call while the thread runs fails (ERROR_ALREADY_EXISTS). The
  // object may be deleted on its own thread once ExitInstance has returned.
  BOOL CreateThread(DWORD flags = 0, UINT stack_size = 0);
  // Waits until a thread started by CreateThread has ended, serving the
  // messages it sends to the calling thread meanwhile.
  void Join();
  // Started and not yet ended.
  bool IsRunning() const;
  ~CWinThread() override;

 protected:
  int exit_code_ = 0;

 private:
  struct Runner;
  std::shared_ptr<Runner> runner_;
};

// The framework's help command: F1 in a dialog sends it to the dialog, and
// a program's application object routes it to CWinApp::OnHelp.
constexpr UINT ID_HELP = 0xE146;
// WinHelp's request for the help's contents.
constexpr UINT HELP_FINDER = 0x000B;

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

  // The program's arguments: its command line after the program name and
  // the blanks that follow it (never null; empty without arguments).
  LPWSTR m_lpCmdLine = nullptr;
  // Takes a whole command line as the process sees it (program name first,
  // quoted or not) and keeps what follows the name in m_lpCmdLine.
  void SetCommandLine(const std::u16string& full_command_line);
  // The registry key under HKEY_CURRENT_USER\Software where the program's
  // settings go; null until SetRegistryKey.
  LPCWSTR m_pszRegistryKey = nullptr;
  void SetRegistryKey(LPCWSTR key);

  // The help handler a message map binds to ID_HELP: asks WinHelp for the
  // contents of the program's help.
  void OnHelp();
  // Opens the program's help: the base hands the help file
  // (m_pszHelpFilePath) to the shell; a program whose help lives elsewhere
  // (pages beside it, say) overrides it to open them.
  virtual void WinHelp(DWORD_PTR data, UINT command);

 private:
  CWinApp* previous_app_ = nullptr;
  std::u16string command_line_storage_;
  std::u16string registry_key_storage_;
  std::thread::id app_thread_;  // the thread that made it
  friend CWinThread* AfxGetThread();
};

CWinApp* AfxGetApp();
// The current thread's CWinThread: the object a CreateThread thread runs,
// or the application object on the thread that made it; null elsewhere.
CWinThread* AfxGetThread();
// The current thread's main window (m_pMainWnd of AfxGetThread()).
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// Common controls and containers need no set-up here; the calls exist for
// programs that make them at start-up.
struct INITCOMMONCONTROLSEX {
  DWORD dwSize;  // +0x00 sizeof(INITCOMMONCONTROLSEX)
  DWORD dwICC;   // +0x04 ICC_* classes to register
};
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;
constexpr DWORD ICC_LISTVIEW_CLASSES = 0x00000001;
constexpr DWORD ICC_TREEVIEW_CLASSES = 0x00000002;
constexpr DWORD ICC_BAR_CLASSES = 0x00000004;
constexpr DWORD ICC_TAB_CLASSES = 0x00000008;
constexpr DWORD ICC_UPDOWN_CLASS = 0x00000010;
constexpr DWORD ICC_PROGRESS_CLASS = 0x00000020;
constexpr DWORD ICC_STANDARD_CLASSES = 0x00004000;
constexpr DWORD ICC_WIN95_CLASSES = 0x000000FF;
void InitCommonControls();
// FALSE with ERROR_INVALID_PARAMETER for a null pointer or a wrong dwSize.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
void AfxEnableControlContainer();
// The rich-edit libraries of either generation; the controls are built in.
BOOL AfxInitRichEdit();
BOOL AfxInitRichEdit2();

namespace platform::ui {
// The part of a command line after the program name: a quoted name runs to
// its closing quote, an unquoted one to the first blank; the blanks after
// it are skipped.
std::u16string ArgumentsAfterProgramName(const std::u16string& command_line);

// Runs an application object: InitInstance, then its message loop when it
// returned TRUE, then ExitInstance. Returns the exit code.
int RunApplication(CWinApp& app);
}  // namespace platform::ui
