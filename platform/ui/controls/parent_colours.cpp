// The colours a control's parent chooses for it (WM_CTLCOLOR*).
#include "platform/ui/controls/static_control.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/controls/control_support.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace control_support;

ParentColours AskParentColours(Window& w, UINT message, COLORREF default_back) {
  ParentColours out;
  out.text = GetSysColor(COLOR_WINDOWTEXT);
  out.back = default_back;
  if (!w.parent) return out;
  HWND self = w.handle;
  HDC dc = CreateCompatibleDC(nullptr);
  ::SetTextColor(dc, out.text);
  ::SetBkColor(dc, out.back);
  LRESULT brush = SendMessageW(w.parent->handle, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(self));
  out.text = ::SetTextColor(dc, out.text);
  out.back = ::SetBkColor(dc, out.back);
  int mode = ::SetBkMode(dc, OPAQUE);
  out.brush = reinterpret_cast<HBRUSH>(brush);
  out.transparent = mode == TRANSPARENT || out.brush == GetStockObject(NULL_BRUSH);
  out.default_brush = !out.brush || out.brush == GetSysColorBrush(COLOR_BTNFACE) ||
                      out.brush == GetSysColorBrush(COLOR_WINDOW);
  if (!out.default_brush && !out.transparent) {
    // The brush's colour, as it fills.
    HBITMAP one = CreateCompatibleBitmap(dc, 1, 1);
    HGDIOBJ old = SelectObject(dc, one);
    RECT pixel{0, 0, 1, 1};
    FillRect(dc, &pixel, out.brush);
    out.brush_colour = ::GetPixel(dc, 0, 0);
    SelectObject(dc, old);
    DeleteObject(one);
  }
  DeleteDC(dc);
  out.alive = FindWindowModel(self) != nullptr;
  return out;
}

}  // namespace platform::ui
