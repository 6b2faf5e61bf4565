// List views.
#include "platform/ui/controls/list_view_control.h"

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

RECT ListViewModel::row_rect(const Window& w, int row) const {
  RECT c = w.client_rect();
  int top = header_height() + (row - top_row(w)) * row_height();
  return {0, top, c.right, top + row_height()};
}

int ListViewModel::rows_in_view(const Window& w) const {
  return std::max(1, (w.client_rect().bottom - header_height()) / row_height());
}

int ListViewModel::top_row(const Window& w) const {
  const int last_top = std::max(0, static_cast<int>(rows.size()) - rows_in_view(w));
  return std::clamp(scroll_row, 0, last_top);
}

bool ListViewModel::is_row_in_view(const Window& w, int row) const {
  const int top = top_row(w);
  return row >= top && row < top + rows_in_view(w);
}

void ListViewModel::set_top_row(Window& w, int row) {
  const int before = top_row(w);
  scroll_row = row;
  scroll_row = top_row(w);
  if (scroll_row != before) NotifyWindowRepainted(w);
}

bool ListViewModel::ensure_visible(Window& w, int row) {
  if (row < 0 || row >= static_cast<int>(rows.size())) return false;
  const int top = top_row(w);
  if (row < top) set_top_row(w, row);
  else if (row >= top + rows_in_view(w)) set_top_row(w, row - rows_in_view(w) + 1);
  return true;
}

bool ListViewModel::set_state(Window& w, int row, UINT state, UINT mask) {
  if (row < 0 || row >= static_cast<int>(rows.size())) return false;
  HWND self = w.handle;
  ListViewRow& r = rows[static_cast<size_t>(row)];
  UINT old = r.state;
  UINT next = (old & ~mask) | (state & mask);
  if (next == old) return true;
  NMLISTVIEW nm{};
  nm.iItem = row;
  nm.uNewState = next & mask;
  nm.uOldState = old & mask;
  nm.uChanged = LVIF_STATE;
  nm.lParam = r.param;
  if (NotifyParent(w, nm.hdr, LVN_ITEMCHANGING)) return false;
  if (!FindWindowModel(self) || row >= static_cast<int>(rows.size())) return false;
  // The handler may have changed the row meanwhile; apply on top of that.
  ListViewRow& again = rows[static_cast<size_t>(row)];
  UINT before = again.state;
  again.state = (before & ~mask) | (state & mask);
  if ((mask & LVIS_SELECTED) && (state & LVIS_SELECTED) && (w.style & LVS_SINGLESEL)) {
    for (size_t i = 0; i < rows.size(); ++i)
      if (static_cast<int>(i) != row && (rows[i].state & LVIS_SELECTED)) set_state(w, static_cast<int>(i), 0, LVIS_SELECTED);
    if (!FindWindowModel(self)) return true;
  }
  NMLISTVIEW done{};
  done.iItem = row;
  done.uNewState = again.state & mask;
  done.uOldState = before & mask;
  done.uChanged = LVIF_STATE;
  done.lParam = again.param;
  NotifyParent(w, done.hdr, LVN_ITEMCHANGED);
  if (Window* still = FindWindowModel(self)) NotifyWindowRepainted(*still);
  return true;
}

void ListViewModel::custom_draw(Window& w) {
  if (!w.parent) return;
  HWND self = w.handle;
  NMLVCUSTOMDRAW cd{};
  cd.nmcd.dwDrawStage = CDDS_PREPAINT;
  LRESULT r = NotifyParent(w, cd.nmcd.hdr, NM_CUSTOMDRAW);
  if (!FindWindowModel(self)) return;
  for (auto& row : rows) row.drawn_text = row.drawn_back = CLR_NONE;
  if (!(r & CDRF_NOTIFYITEMDRAW)) return;
  for (size_t i = 0; i < rows.size(); ++i) {
    NMLVCUSTOMDRAW item{};
    item.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    item.nmcd.dwItemSpec = i;
    item.nmcd.lItemlParam = rows[i].param;
    item.nmcd.rc = row_rect(w, static_cast<int>(i));
    item.clrText = GetSysColor(COLOR_WINDOWTEXT);
    item.clrTextBk = GetSysColor(COLOR_WINDOW);
    NotifyParent(w, item.nmcd.hdr, NM_CUSTOMDRAW);
    if (!FindWindowModel(self) || i >= rows.size()) return;
    rows[i].drawn_text = item.clrText;
    rows[i].drawn_back = item.clrTextBk;
  }
}


bool ListViewModel::handle(Window& w, UINT message, WPARAM, LPARAM lp, LRESULT& result) {
  if (is_item_click(message)) {
    HWND self = w.handle;
    POINT pt{};
    if (!take_click(w, lp, pt)) return true;
    int row = -1;
    bool on_check = false;
    // A row scrolled away above lies under the header: it takes no clicks.
    for (size_t i = static_cast<size_t>(top_row(w)); i < rows.size(); ++i) {
      RECT r = row_rect(w, static_cast<int>(i));
      if (PtInRect(&r, pt)) {
        row = static_cast<int>(i);
        on_check = (ex_style & LVS_EX_CHECKBOXES) && pt.x < 18;
      }
    }
    if (message == WM_LBUTTONDOWN && row >= 0) {
      if (on_check) {
        UINT image = (rows[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) >> 12;
        set_state(w, row, INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2), LVIS_STATEIMAGEMASK);
      } else {
        set_state(w, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      }
    }
    Window* still = FindWindowModel(self);
    if (!still) return true;
    NMITEMACTIVATE nm{};
    nm.iItem = row;
    nm.ptAction = pt;
    NotifyParent(*still, nm.hdr, click_notification(message));
    result = 0;
    return true;
  }
  return false;
}

void ListViewModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, Qt::white);
  set_font(p, w);
  custom_draw(w);
  int x = 0;
  for (const auto& c : columns) {
    QRect head(x, 0, c.width, header_height());
    p.fillRect(head, QColor(240, 240, 240));
    p.setPen(QColor(213, 213, 213));
    p.drawRect(head.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    p.drawText(head.adjusted(4, 0, -4, 0), Qt::AlignVCenter | (c.format == LVCFMT_RIGHT ? Qt::AlignRight : Qt::AlignLeft), qs(c.text));
    x += c.width;
  }
  for (size_t i = static_cast<size_t>(top_row(w)); i < rows.size(); ++i) {
    RECT rr = row_rect(w, static_cast<int>(i));
    if (rr.top >= box.bottom()) break;
    QRect row(rr.left, rr.top, rr.right - rr.left, rr.bottom - rr.top);
    const auto& r = rows[i];
    QColor back = r.drawn_back != CLR_NONE ? qc(r.drawn_back) : Qt::white;
    QColor text = r.drawn_text != CLR_NONE ? qc(r.drawn_text) : Qt::black;
    if (r.state & LVIS_SELECTED) {
      back = QColor(0, 120, 215);
      text = Qt::white;
    }
    p.fillRect(row, back);
    int cx = 0;
    for (size_t c = 0; c < columns.size(); ++c) {
      QRect cell(cx, row.y(), columns[c].width, row.height());
      int pad = 2;
      if (c == 0) {
        UINT image = (r.state & LVIS_STATEIMAGEMASK) >> 12;
        if ((ex_style & LVS_EX_CHECKBOXES) && image) {
          QRect mark(cell.x() + 2, cell.y() + 2, 13, 13);
          p.setPen(Qt::black);
          p.setBrush(Qt::white);
          p.drawRect(mark.adjusted(0, 0, -1, -1));
          if (image == 2) p.fillRect(mark.adjusted(3, 3, -3, -3), Qt::black);
          pad += 16;
        } else if (const QImage* st = ImageListImage(images[LVSIL_STATE], static_cast<int>(image) - 1)) {
          p.drawImage(cell.x() + 2, cell.y(), *st);
          pad += st->width();
        }
        if (const QImage* img = ImageListImage(images[LVSIL_SMALL], r.image)) {
          p.drawImage(cell.x() + pad, cell.y(), *img);
          pad += img->width() + 2;
        }
      }
      p.setPen(text);
      if (c < r.texts.size())
        p.drawText(cell.adjusted(pad, 0, -2, 0),
                   Qt::AlignVCenter | (columns[c].format == LVCFMT_RIGHT ? Qt::AlignRight : Qt::AlignLeft),
                   qs(r.texts[c]));
      if (ex_style & LVS_EX_GRIDLINES) {
        // Lines only: a brush left from the check box would fill the cell.
        p.setPen(QColor(240, 240, 240));
        p.setBrush(Qt::NoBrush);
        p.drawRect(cell.adjusted(0, 0, -1, -1));
      }
      cx += columns[c].width;
    }
  }
  p.setPen(QColor(130, 135, 144));
  p.setBrush(Qt::NoBrush);
  p.drawRect(box.adjusted(0, 0, -1, -1));
}

}  // namespace platform::ui
