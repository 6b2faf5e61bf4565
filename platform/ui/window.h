// The window model: every window of the process with its id, class, text,
// rectangle, styles, visibility, enabled state, z-order and per-class state.
// This model is the truth that the headless driver inspects and that a view
// mirrors; the free Win32 window functions in winuser.h operate on it.
//
// Windows belong to the thread that made them; they are touched only from
// that thread (PostMessageW is the one cross-thread entry point).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/window_owner.h"
#include "platform/ui/winuser.h"

class CWnd;
class QImage;

namespace platform::ui {

struct UiThread;
class ControlModel;
class Menu;

// What a window is, for the built-in behaviour and for drawing it.
enum class WindowKind {
  Generic,
  Dialog,
  Static,
  Button,
  Edit,
  RichEdit,
  ListBox,
  ComboBox,
  ListView,
  TreeView,
  Progress,
  Slider,
};

// Which modal helper a dialog window stands for (message box, file dialog ...).
enum class DialogRole { Page, MessageBox, FileOpen, FileSave, FolderBrowse };

struct Window {
  HWND handle = nullptr;
  UiThread* thread = nullptr;
  Window* parent = nullptr;  // child windows: the window they sit in
  Window* owner = nullptr;   // top-level windows: the window they belong to
  std::vector<Window*> children;  // z-order, first is the top
  WindowKind kind = WindowKind::Generic;
  DialogRole role = DialogRole::Page;
  std::u16string class_name;
  std::u16string text;
  RECT rect{};  // children: parent's client coordinates; top-level: screen
  DWORD style = 0;
  DWORD ex_style = 0;
  int id = 0;
  int template_id = 0;  // resource id of the dialog it was made from, or 0
  WindowOwner* object = nullptr;   // the framework object that handles its messages
  std::unique_ptr<WindowOwner> wrapper;  // made on demand for windows without one
  WNDPROC proc = nullptr;      // raw window procedure, when no object is attached
  std::unique_ptr<ControlModel> control;
  HFONT font = nullptr;
  HICON big_icon = nullptr;
  HICON small_icon = nullptr;
  HMENU menu = nullptr;
  HMENU system_menu = nullptr;
  bool invalid = false;  // needs WM_PAINT
  bool erase = false;    // WM_ERASEBKGND due with the next paint
  bool painted = false;  // something was drawn into `layer`
  bool destroying = false;
  bool track_leave = false;
  std::unique_ptr<QImage> layer;  // what GDI drew on the client area
  LONG_PTR user_data = 0;

  Window();
  ~Window();

  bool visible() const { return (style & WS_VISIBLE) != 0; }
  bool enabled() const { return (style & WS_DISABLED) == 0; }
  bool is_child() const { return (style & WS_CHILD) != 0 && parent != nullptr; }
  // Visible together with every ancestor.
  bool showing() const;
  // Client rectangle in the window's own coordinates (0,0 at the client origin).
  RECT client_rect() const;
  // Offset of the client origin from the window rectangle's top-left.
  POINT client_offset() const;
  // Client origin in screen coordinates.
  POINT client_origin_on_screen() const;
  Window* top_level();
};

// Observer of the window model; a view mirrors every window through this.
class WindowObserver {
 public:
  virtual ~WindowObserver() = default;
  virtual void window_created(Window&) {}
  virtual void window_destroyed(Window&) {}
  // Text, rectangle, style, visibility, enabled state or z-order changed.
  virtual void window_changed(Window&) {}
  // The painted layer or the control's state changed.
  virtual void window_repainted(Window&) {}
  // The window was marked for repainting (Invalidate, InvalidateRect,
  // RedrawWindow): a view repaints it and asks again what painting asks
  // (colours through WM_CTLCOLOR*, rows through NM_CUSTOMDRAW).
  virtual void window_invalidated(Window&) {}
};
void AddWindowObserver(WindowObserver* observer);
void RemoveWindowObserver(WindowObserver* observer);
void NotifyWindowChanged(Window& window);
void NotifyWindowRepainted(Window& window);
void NotifyWindowInvalidated(Window& window);

// The live window behind a handle, or null with ERROR_INVALID_WINDOW_HANDLE set.
Window* FindWindowModel(HWND handle);
// Top-level windows of the process in z-order, first is the top.
// A copy: windows of other threads may come and go while the caller walks it.
std::vector<Window*> TopLevelWindows();

struct CreateParams {
  std::u16string class_name;
  std::u16string text;
  RECT rect{};  // as Window::rect
  DWORD style = 0;
  DWORD ex_style = 0;
  int id = 0;
  Window* parent = nullptr;
  Window* owner = nullptr;
  WindowOwner* object = nullptr;
  int template_id = 0;
  DialogRole role = DialogRole::Page;
};

// Makes the window (with its control state from the class name) and sends
// nothing; callers send WM_CREATE/WM_INITDIALOG as their kind requires.
Window* CreateWindowModel(const CreateParams& params);
WindowKind KindForClass(const std::u16string& class_name, DWORD style);

// Sends WM_DESTROY to the window and its children, detaches objects and
// frees the model. Safe on windows already being destroyed.
void DestroyWindowModel(Window* window);

// Marks a window for repainting (and its children, when `children`) and
// tells the observers. Without WS_CLIPCHILDREN the parent's painting covers
// its children, so they are told too: they repaint over it.
void Invalidate(Window& window, bool erase, bool children);

// Where the mouse lands at a screen point inside top-level `top`: the
// deepest visible child under it whose WM_NCHITTEST does not answer
// HTTRANSPARENT (statics without SS_NOTIFY and group boxes do), with a
// disabled child giving the mouse to its parent, as the platform does.
// `client` is the point in the client coordinates of `window`.
struct MouseHit {
  Window* window = nullptr;
  POINT client{};
};
MouseHit HitTestMouse(Window& top, POINT screen);
// What a window of a built-in class answers to WM_NCHITTEST.
LRESULT DefaultHitTest(const Window& window);
// The same for a point given in `over`'s client coordinates (over the
// window a script or a widget names); moves the cursor there.
MouseHit MouseLanding(Window& over, POINT client);
// Lets the window under the mouse choose the cursor (WM_SETCURSOR, which
// the default handling asks its parents about first), as the platform does
// before each mouse message.
void SetCursorFor(Window& under, UINT mouse_message);
// Queues a mouse message where it landed. A move first ends the mouse-leave
// tracking of every other window (WM_MOUSELEAVE).
void PostMouseInput(const MouseHit& hit, UINT message, WPARAM keys);

// The children of `parent` in the order their pictures stack, bottom
// first. Siblings paint from the top of the z-order down, so where they
// overlap a lower one paints over a higher one, as children without
// WS_CLIPSIBLINGS do on the platform (a text over a banner shows); a child
// with WS_CLIPSIBLINGS is clipped by the siblings above it and stays under
// them; a WS_EX_TRANSPARENT child paints after every sibling beneath it.
// Mouse hit testing keeps the z-order.
std::vector<Window*> PaintOrder(const Window& parent);

// Screen size the simulated PC reports.
void SetScreenSize(int width, int height);
SIZE ScreenSize();

// Frame sizes used to turn client rectangles into window rectangles.
int CaptionHeight();
int MenuBarHeight();
int FrameWidth(DWORD style);

}  // namespace platform::ui
