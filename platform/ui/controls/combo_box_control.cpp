// Combo boxes.
#include "platform/ui/controls/combo_box_control.h"

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

bool ComboBoxModel::editable(const Window& w) {
  DWORD type = w.style & 0x3;
  return type == CBS_DROPDOWN || type == CBS_SIMPLE;
}

bool ComboBoxModel::user_edit(Window& w, const std::u16string& text) {
  if (!editable(w) || text == w.text) return false;
  w.text = text;
  NotifyWindowChanged(w);
  Invalidate(w, true, false);
  // A handler may destroy the combo while notified.
  HWND self = w.handle;
  NotifyParentCommand(w, CBN_EDITUPDATE);
  if (Window* still = FindWindowModel(self)) NotifyParentCommand(*still, CBN_EDITCHANGE);
  return true;
}

void ComboBoxModel::show_current(Window& w) {
  if (!editable(w) || current < 0 || current >= static_cast<int>(items.size())) return;
  const std::u16string& text = items[static_cast<size_t>(current)].text;
  if (w.text == text) return;
  w.text = text;
  NotifyWindowChanged(w);
}

bool ComboBoxModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (message == WM_CHAR && editable(w)) {
    // Typing at the end of the field, as the driver's `type` sends it.
    char16_t c = static_cast<char16_t>(wp);
    std::u16string text = w.text;
    if (c == 0x08) {
      if (!text.empty()) text.pop_back();
    } else if (c >= 0x20) {
      text.push_back(c);
    }
    user_edit(w, text);
    result = 0;
    return true;
  }
  return ListBoxModel::handle(w, message, wp, lp, result);
}

void ComboBoxModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  box.setHeight(std::min(box.height(), 21));
  p.fillRect(box, Qt::white);
  p.setPen(QColor(122, 122, 122));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  set_font(p, w);
  p.setPen(w.enabled() ? Qt::black : QColor(109, 109, 109));
  std::u16string shown = !editable(w) && current >= 0 && current < static_cast<int>(items.size())
                             ? items[static_cast<size_t>(current)].text : w.text;
  p.drawText(box.adjusted(3, 0, -18, 0), Qt::AlignLeft | Qt::AlignVCenter, qs(shown));
  p.drawText(QRect(box.right() - 16, 0, 16, box.height()), Qt::AlignCenter, QStringLiteral("v"));
}

}  // namespace platform::ui
