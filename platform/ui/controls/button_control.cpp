// Buttons.
#include "platform/ui/controls/button_control.h"

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

void ButtonModel::click(Window& w) {
  if (!w.enabled()) return;
  DWORD type = w.style & BS_TYPEMASK;
  if (type == BS_GROUPBOX) return;
  if (type == BS_AUTOCHECKBOX) check = check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  if (type == BS_AUTO3STATE) check = (check + 1) % 3;
  if (type == BS_AUTORADIOBUTTON && w.parent) {
    // The group runs from the control with WS_GROUP at or before this one to
    // the next control with WS_GROUP.
    auto& kids = w.parent->children;
    auto self = std::find(kids.begin(), kids.end(), &w);
    auto first = self;
    while (first != kids.begin() && !((*first)->style & WS_GROUP)) --first;
    for (auto it = first; it != kids.end(); ++it) {
      if (it != first && ((*it)->style & WS_GROUP)) break;
      Window* c = *it;
      if (c->kind == WindowKind::Button && (c->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        if (auto* m = dynamic_cast<ButtonModel*>(c->control.get())) {
          m->check = c == &w ? BST_CHECKED : BST_UNCHECKED;
          NotifyWindowRepainted(*c);
        }
    }
  }
  NotifyWindowRepainted(w);
  HWND h = w.handle;
  NotifyParentCommand(w, BN_CLICKED);
  (void)h;
}

bool ButtonModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case BM_GETCHECK:
      result = check;
      return true;
    case BM_SETCHECK:
      check = static_cast<UINT>(wp);
      NotifyWindowRepainted(w);
      result = 0;
      return true;
    case BM_CLICK:
    case WM_LBUTTONUP:
      click(w);
      result = 0;
      return true;
    case WM_LBUTTONDOWN:
      if ((w.style & BS_TYPEMASK) != BS_GROUPBOX) SetFocus(w.handle);
      result = 0;
      return true;
    case WM_LBUTTONDBLCLK:
      if ((w.style & BS_NOTIFY) || (w.style & BS_TYPEMASK) == BS_RADIOBUTTON ||
          (w.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON || (w.style & BS_TYPEMASK) == BS_OWNERDRAW)
        NotifyParentCommand(w, BN_DOUBLECLICKED);
      else
        click(w);
      result = 0;
      return true;
    case BM_SETIMAGE:
      result = swap_image(wp, lp, bitmap, icon);
      NotifyWindowRepainted(w);
      return true;
  }
  return false;
}

void ButtonModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  DWORD type = w.style & BS_TYPEMASK;
  set_font(p, w);
  if (type == BS_OWNERDRAW && w.parent) {
    // Owner-drawn buttons are drawn by their parent into a bitmap.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(dc, std::max(box.width(), 1), std::max(box.height(), 1));
    HGDIOBJ old = SelectObject(dc, bmp);
    DRAWITEMSTRUCT di{ODT_BUTTON, static_cast<UINT>(w.id), 0, ODA_DRAWENTIRE,
                      w.enabled() ? 0u : ODS_DISABLED, w.handle, dc,
                      {0, 0, box.width(), box.height()}, 0};
    SendMessageW(w.parent->handle, WM_DRAWITEM, static_cast<WPARAM>(w.id), reinterpret_cast<LPARAM>(&di));
    if (const QImage* img = DcImage(dc)) p.drawImage(0, 0, *img);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
    return;
  }
  QColor text_colour = w.enabled() ? Qt::black : QColor(109, 109, 109);
  if (type == BS_GROUPBOX) {
    p.setPen(QColor(160, 160, 160));
    p.drawRect(box.adjusted(0, 6, -1, -1));
    if (!w.text.empty()) {
      QFontMetrics m(p.font());
      QRect label(8, 0, m.horizontalAdvance(qs(w.text)) + 4, m.height());
      p.fillRect(label, QColor(240, 240, 240));
      p.setPen(text_colour);
      p.drawText(label, Qt::AlignCenter | Qt::TextShowMnemonic, qs(w.text));
    }
    return;
  }
  if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
      type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
    bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
    QRect mark(0, (box.height() - 13) / 2, 13, 13);
    p.setPen(QColor(51, 51, 51));
    p.setBrush(Qt::white);
    if (radio) p.drawEllipse(mark.adjusted(0, 0, -1, -1));
    else p.drawRect(mark.adjusted(0, 0, -1, -1));
    if (check == BST_CHECKED) {
      p.setBrush(Qt::black);
      if (radio) p.drawEllipse(mark.adjusted(4, 4, -5, -5));
      else p.fillRect(mark.adjusted(3, 3, -3, -3), Qt::black);
    } else if (check == BST_INDETERMINATE) {
      p.fillRect(mark.adjusted(3, 3, -3, -3), QColor(128, 128, 128));
    }
    p.setPen(text_colour);
    p.drawText(box.adjusted(17, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, qs(w.text));
    return;
  }
  p.setPen(type == BS_DEFPUSHBUTTON ? QColor(0, 120, 215) : QColor(173, 173, 173));
  p.setBrush(QColor(225, 225, 225));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  if (const QImage* img = BitmapImage(bitmap)) {
    draw_image_centered(p, img, box, true);
    return;
  }
  if (const QImage* img = IconImage(icon)) {
    draw_image_centered(p, img, box, true);
    return;
  }
  p.setPen(text_colour);
  p.drawText(box, Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextWordWrap, qs(w.text));
}

}  // namespace platform::ui
