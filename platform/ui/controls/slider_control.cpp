// Sliders.
#include "platform/ui/controls/slider_control.h"

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

bool SliderModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case TBM_GETPOS:
      result = pos;
      return true;
    case TBM_SETPOS:
      pos = std::clamp(static_cast<int>(lp), low, std::max(low, high));
      NotifyWindowRepainted(w);
      result = 0;
      return true;
    case TBM_SETRANGE:
      low = static_cast<SHORT>(LOWORD(lp));
      high = static_cast<SHORT>(HIWORD(lp));
      pos = std::clamp(pos, low, std::max(low, high));
      result = 0;
      return true;
  }
  (void)wp;
  return false;
}

void SliderModel::drag_to(Window& w, int value) {
  HWND self = w.handle;
  pos = std::clamp(value, low, std::max(low, high));
  if (!w.parent) return;
  HWND parent = w.parent->handle;
  UINT scroll = (w.style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
  SendMessageW(parent, scroll, MAKELONG(TB_THUMBPOSITION, static_cast<WORD>(pos)), reinterpret_cast<LPARAM>(self));
  if (!FindWindowModel(self)) return;
  SendMessageW(parent, scroll, MAKELONG(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(self));
  if (Window* still = FindWindowModel(self)) {
    NMHDR nm{};
    NotifyParent(*still, nm, NM_RELEASEDCAPTURE);
  }
}

void SliderModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.setPen(QColor(180, 180, 180));
  p.drawLine(4, box.height() / 2, box.width() - 4, box.height() / 2);
  long long span = static_cast<long long>(high) - low;
  int x = span > 0 ? 4 + static_cast<int>((static_cast<long long>(pos) - low) * (box.width() - 8) / span) : 4;
  p.fillRect(QRect(x - 3, box.height() / 2 - 8, 6, 16), QColor(0, 120, 215));
}

}  // namespace platform::ui
