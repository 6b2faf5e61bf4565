// Per-class state and built-in behaviour of a control window. Each built-in
// class (button, edit, list view ...) has a model; the window keeps it in
// Window::control and the default window procedure runs it.
#pragma once

#include "platform/ui/window.h"

class QPainter;

// The state image (check box picture) of a list or tree item, in its state bits.
inline constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }

namespace platform::ui {

class ControlModel {
 public:
  virtual ~ControlModel() = default;
  // The control's default handling of `message`; false when not handled
  // (the generic default runs then).
  virtual bool handle(Window& window, UINT message, WPARAM w, LPARAM l, LRESULT& result) {
    return false;
  }
  // A simple picture of the control for screenshots, in client coordinates.
  virtual void draw(Window& window, QPainter& painter) {}
};

// The colours a control's parent chooses when the control paints: the
// control sends `message` (WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT ...) with a
// device context, and reads back the text and background colours the
// handler set, its background mode and the brush it returned.
struct ParentColours {
  COLORREF text = 0;
  COLORREF back = 0;
  bool transparent = false;  // TRANSPARENT mode or the null brush: no background
  HBRUSH brush = nullptr;
  bool default_brush = true;  // no brush, or the default procedure's own
  COLORREF brush_colour = 0;
  bool alive = true;  // the control still exists after the handler ran
};
// Without a parent the defaults: window text on `default_back`.
ParentColours AskParentColours(Window& control, UINT message, COLORREF default_back);

// Sends WM_COMMAND(id, code) from a control to its parent.
void NotifyParentCommand(Window& control, UINT code);
// Fills in the header and sends WM_NOTIFY from a control to its parent.
LRESULT NotifyParent(Window& control, NMHDR& header, UINT code);

// The framework object standing for a window that has none of its own:
// of the control's class (CButton for buttons ...), so the programs' casts
// of GetDlgItem results are to objects of that type.
std::unique_ptr<::CWnd> MakeWrapperFor(WindowKind kind);

// Makes the model for a window of `kind` (null for kinds without state).
std::unique_ptr<ControlModel> MakeControlModel(WindowKind kind, Window& window);

// The model of type T behind a handle; null for a bad handle or another kind.
template <class T>
T* ModelOf(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  return w ? dynamic_cast<T*>(w->control.get()) : nullptr;
}

}  // namespace platform::ui
