// Static controls.
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

bool StaticModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case STM_SETIMAGE:
      result = swap_image(wp, lp, bitmap, icon);
      Invalidate(w, true, false);
      NotifyWindowRepainted(w);
      return true;
    case STM_SETICON:
      result = reinterpret_cast<LRESULT>(icon);
      icon = reinterpret_cast<HICON>(wp);
      Invalidate(w, true, false);
      return true;
    case WM_LBUTTONUP:
      if (w.style & SS_NOTIFY) NotifyParentCommand(w, STN_CLICKED);
      result = 0;
      return true;
    case WM_LBUTTONDBLCLK:
      if (w.style & SS_NOTIFY) NotifyParentCommand(w, STN_DBLCLK);
      result = 0;
      return true;
  }
  return false;
}

void StaticModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  DWORD type = w.style & SS_TYPEMASK;
  if (type == SS_BITMAP) {
    draw_image_centered(p, BitmapImage(bitmap), box, (w.style & SS_CENTERIMAGE) != 0);
    return;
  }
  if (type == SS_ICON) {
    draw_image_centered(p, IconImage(icon), box, false);
    return;
  }
  // Filled rectangles: black in the window-frame colour, grey, white in
  // the window colour; they hold no text.
  if (type == SS_BLACKRECT || type == SS_GRAYRECT || type == SS_WHITERECT) {
    p.fillRect(box, type == SS_BLACKRECT ? QColor(0, 0, 0)
                    : type == SS_GRAYRECT ? QColor(128, 128, 128)
                                          : qc(GetSysColor(COLOR_WINDOW)));
    return;
  }
  if (type == SS_BLACKFRAME) {
    p.setPen(QColor(0, 0, 0));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    return;
  }
  if (type == SS_ETCHEDHORZ || type == SS_ETCHEDFRAME) {
    p.setPen(QColor(160, 160, 160));
    if (type == SS_ETCHEDHORZ) p.drawLine(0, 0, box.width(), 0);
    else p.drawRect(box.adjusted(0, 0, -1, -1));
    return;
  }
  // The parent chooses colours through WM_CTLCOLORSTATIC, as for painting.
  ParentColours chosen = AskParentColours(w, WM_CTLCOLORSTATIC, GetSysColor(COLOR_BTNFACE));
  if (!chosen.alive) return;
  COLORREF text = chosen.text;
  bool transparent = (w.ex_style & WS_EX_TRANSPARENT) != 0 || chosen.transparent;
  if (!transparent) p.fillRect(box, QColor(240, 240, 240));
  set_font(p, w);
  p.setPen(qc(text));
  int align = type == SS_CENTER ? Qt::AlignHCenter : type == SS_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
  p.drawText(box, align | Qt::AlignTop | Qt::TextWordWrap | ((w.style & SS_NOPREFIX) ? 0 : Qt::TextShowMnemonic), qs(w.text));
}

void AttachResourceImage(Window& w, int image_id) {
  if (auto* s = dynamic_cast<StaticModel*>(w.control.get())) {
    if ((w.style & SS_TYPEMASK) == SS_ICON) {
      s->icon = LoadIconW(nullptr, MAKEINTRESOURCEW(static_cast<UINT_PTR>(image_id)));
    } else {
      s->bitmap = LoadBitmapW(nullptr, MAKEINTRESOURCEW(static_cast<UINT_PTR>(image_id)));
      // A bitmap static takes the bitmap's size unless told otherwise.
      if (s->bitmap && !(w.style & (SS_CENTERIMAGE | SS_REALSIZECONTROL)))
        if (const QImage* img = BitmapImage(s->bitmap))
          w.rect = {w.rect.left, w.rect.top, w.rect.left + img->width(), w.rect.top + img->height()};
    }
  }
}

}  // namespace platform::ui
