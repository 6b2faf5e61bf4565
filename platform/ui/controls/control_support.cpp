#include "platform/ui/controls/control_support.h"

#include <QImage>
#include <algorithm>

#include "platform/ui/gdi.h"

namespace platform::ui::control_support {

QRect client_qrect(const Window& w) {
  RECT r = w.client_rect();
  return QRect(0, 0, r.right, r.bottom);
}
LRESULT swap_image(WPARAM type, LPARAM image, HBITMAP& bitmap, HICON& icon) {
  LRESULT old = 0;
  if (type == IMAGE_BITMAP) {
    old = reinterpret_cast<LRESULT>(bitmap);
    bitmap = reinterpret_cast<HBITMAP>(image);
  } else {
    old = reinterpret_cast<LRESULT>(icon);
    icon = reinterpret_cast<HICON>(image);
  }
  return old;
}
void set_font(QPainter& p, const Window& w) { p.setFont(QtFontFor(w.font)); }

void draw_image_centered(QPainter& p, const QImage* img, const QRect& box, bool centre) {
  if (!img) return;
  if (centre)
    p.drawImage(box.x() + (box.width() - img->width()) / 2, box.y() + (box.height() - img->height()) / 2, *img);
  else
    p.drawImage(box.topLeft(), *img);
}

// The mouse buttons list and tree views act on.
bool is_item_click(UINT message) {
  return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_LBUTTONDBLCLK;
}
// A click on a list or tree view: the view takes the focus first (whose
// handlers may destroy it: false then), and the point comes out of lParam.
bool take_click(Window& w, LPARAM lp, POINT& pt) {
  HWND self = w.handle;
  SetFocus(self);
  if (!FindWindowModel(self)) return false;
  pt = {static_cast<SHORT>(lp & 0xFFFF), static_cast<SHORT>((lp >> 16) & 0xFFFF)};
  return true;
}
// The notification a click sends to the view's parent.
UINT click_notification(UINT message) {
  return message == WM_LBUTTONDOWN ? NM_CLICK : message == WM_RBUTTONDOWN ? NM_RCLICK : NM_DBLCLK;
}

}  // namespace platform::ui::control_support
