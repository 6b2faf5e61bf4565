// What the window model knows of the objects it hands messages to. The
// framework's window classes (CWnd and everything made from it) implement
// WindowOwner; its thread objects take window-less messages through the
// route set here. The model includes only this, never the framework: the
// dependency points one way, from the classes down to the windows.
#pragma once

#include "platform/ui/winuser.h"

namespace platform::ui {

class WindowOwner {
 public:
  virtual ~WindowOwner() = default;
  // A message for the window (the object's routing and maps, then the
  // default procedure).
  virtual LRESULT OwnerWindowProc(UINT message, WPARAM w, LPARAM l) = 0;
  // A retrieved message for the window or one of its children, before it
  // is dispatched; true when the object took it.
  virtual bool OwnerPreTranslate(MSG& msg) = 0;
  // The window was made with this object attached.
  virtual void OwnerAttached(HWND hwnd) = 0;
  // The window is gone. `attached`: the object was attached to it (not a
  // stand-in made on demand) and may now delete itself.
  virtual void OwnerDetached(bool attached) = 0;
};

// Who takes window-less (thread) messages on the calling thread: true when
// someone took the message. The framework sets it when it makes a thread
// object; without one, thread messages are dropped.
using ThreadMessageRoute = bool (*)(MSG& msg);
void SetThreadMessageRoute(ThreadMessageRoute route);

}  // namespace platform::ui
