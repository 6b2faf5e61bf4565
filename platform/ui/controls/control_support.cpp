#include "platform/ui/controls/control_support.h"

#include <QImage>
#include <algorithm>

#include "platform/ui/gdi.h"

namespace platform::ui::control_support {

QRect client_qrect(const Window& w) {
  RECT r = w.client_rect();
  return QRect(0, 0, r.right, r.bottom);
}
bool equals_fold(const std::u16string& a, const std::u16string& b, size_t n) {
  if (a.size() < n || b.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}
int compare_fold(const std::u16string& a, const std::u16string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
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
