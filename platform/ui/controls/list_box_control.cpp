// List boxes.
#include "platform/ui/controls/list_box_control.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"
#include "platform/ui/controls/control_support.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace control_support;

int ListBoxModel::add(Window& w, const std::u16string& text) {
  bool sorted = w.kind == WindowKind::ComboBox ? (w.style & CBS_SORT) != 0 : (w.style & LBS_SORT) != 0;
  size_t at = items.size();
  if (sorted) {
    at = 0;
    while (at < items.size() && AsciiCompareNoCase(items[at].text, text) <= 0) ++at;
  }
  items.insert(items.begin() + static_cast<long>(at), ListEntry{text, 0});
  if (current >= static_cast<int>(at)) ++current;
  NotifyWindowRepainted(w);
  return static_cast<int>(at);
}

int ListBoxModel::find(const std::u16string& text, int start, bool exact) const {
  int n = static_cast<int>(items.size());
  if (n == 0) return LB_ERR;
  int first = (start < -1 || start >= n) ? 0 : start + 1;
  for (int k = 0; k < n; ++k) {
    int i = (first + k) % n;
    const auto& t = items[static_cast<size_t>(i)].text;
    if (exact ? AsciiEqualNoCase(t, text) : AsciiStartsWithNoCase(t, text)) return i;
  }
  return LB_ERR;
}

bool ListBoxModel::handle(Window& w, UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message == WM_LBUTTONDOWN) {
    SetFocus(w.handle);
    result = 0;
    return true;
  }
  return false;
}

void ListBoxModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, Qt::white);
  p.setPen(QColor(130, 135, 144));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  set_font(p, w);
  int y = 1;
  for (size_t i = 0; i < items.size() && y < box.height(); ++i, y += 16) {
    QRect row(1, y, box.width() - 2, 16);
    if (static_cast<int>(i) == current) {
      p.fillRect(row, QColor(0, 120, 215));
      p.setPen(Qt::white);
    } else {
      p.setPen(Qt::black);
    }
    p.drawText(row.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, qs(items[i].text));
  }
}

}  // namespace platform::ui
