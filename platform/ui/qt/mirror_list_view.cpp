// List views as Qt tree widgets (report view) or icon lists.
#include "platform/ui/qt/mirror_parts.h"

#include <QAbstractItemView>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

QWidget* WidgetMirror::make_list_view(Window& w, QWidget* parent_widget) {
  if (!is_report(w)) {
    // Icons in a grid (LVS_ICON), or small icons and texts in rows
    // or columns (LVS_SMALLICON, LVS_LIST).
    auto* l = new QListWidget(parent_widget);
    DWORD type = w.style & kListViewTypeMask;
    l->setViewMode(type == LVS_ICON ? QListView::IconMode : QListView::ListMode);
    l->setFlow(type == LVS_LIST ? QListView::TopToBottom : QListView::LeftToRight);
    l->setWrapping(true);
    l->setMovement(QListView::Static);
    l->setResizeMode(QListView::Adjust);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    return l;
  }
  auto* t = new QTreeWidget(parent_widget);
  t->setRootIsDecorated(false);
  t->setUniformRowHeights(true);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  return t;
}

void WidgetMirror::update_list_view(Entry& e, Window& w, bool repainted) {
  QWidget* widget = e.widget;
  HWND self = w.handle;
  auto* tree = dynamic_cast<QTreeWidget*>(widget);
  auto* icons = dynamic_cast<QListWidget*>(widget);
  auto* model = dynamic_cast<ListViewModel*>(w.control.get());
  if ((!tree && !icons) || !model) return;
  // Per-row colours come from the parent's custom drawing, asked when
  // the list paints: when it was marked for repainting or changed.
  if (repainted && !model->rows.empty()) model->custom_draw(w);
  Window* still = FindWindowModel(self);
  model = still ? dynamic_cast<ListViewModel*>(still->control.get()) : nullptr;
  if (!model) return;
  std::u16string sig = list_view_signature(*model);
  if (sig == e.signature) return;
  e.signature = sig;
  if (icons) {
    fill_icon_list(*icons, w, *model);
    return;
  }
  QSignalBlocker block(tree);
  tree->clear();
  int columns = std::max<int>(1, static_cast<int>(model->columns.size()));
  tree->setColumnCount(columns);
  QStringList headers;
  for (const auto& c : model->columns) headers << qs(c.text);
  tree->setHeaderLabels(headers);
  tree->setHeaderHidden(model->columns.empty() || (w.style & LVS_NOCOLUMNHEADER) != 0);
  for (int i = 0; i < static_cast<int>(model->columns.size()); ++i) tree->setColumnWidth(i, model->columns[static_cast<size_t>(i)].width);
  bool checks = (model->ex_style & LVS_EX_CHECKBOXES) != 0;
  QTreeWidgetItem* selected = nullptr;
  for (const auto& row : model->rows) {
    auto* item = new QTreeWidgetItem(tree);
    for (int c = 0; c < static_cast<int>(row.texts.size()) && c < columns; ++c) {
      item->setText(c, qs(row.texts[static_cast<size_t>(c)]));
      int fmt = c < static_cast<int>(model->columns.size()) ? model->columns[static_cast<size_t>(c)].format : LVCFMT_LEFT;
      item->setTextAlignment(c, fmt == LVCFMT_RIGHT ? Qt::AlignRight | Qt::AlignVCenter
                                : fmt == LVCFMT_CENTER ? Qt::AlignHCenter | Qt::AlignVCenter
                                                       : Qt::AlignLeft | Qt::AlignVCenter);
      if (row.drawn_text != CLR_NONE) item->setForeground(c, colour(row.drawn_text));
      if (row.drawn_back != CLR_NONE) item->setBackground(c, colour(row.drawn_back));
    }
    if (checks) item->setCheckState(0, ((row.state & LVIS_STATEIMAGEMASK) >> 12) == 2 ? Qt::Checked : Qt::Unchecked);
    QIcon icon = image_list_icon(model->images[LVSIL_SMALL], row.image);
    if (!icon.isNull()) item->setIcon(0, icon);
    if (row.state & LVIS_SELECTED) selected = item;
  }
  if (selected) tree->setCurrentItem(selected);
  // The model's scroll position (a script scrolls it to the row it clicks).
  if (QTreeWidgetItem* top = tree->topLevelItem(model->top_row(*still)))
    tree->scrollToItem(top, QAbstractItemView::PositionAtTop);
}

bool WidgetMirror::list_view_mouse(Entry& e, Window& w, QWidget* source, QMouseEvent* me, QPoint local) {
  bool right = me->button() == Qt::RightButton;
  // Rows are found in Qt's layout and clicked where the model has them:
  // the check box at x 5, the label further right (as `tick` and `select`).
  // Icon and list styles find the item in Qt's grid the same way.
  auto* view = dynamic_cast<QAbstractItemView*>(e.widget.data());
  auto* model = dynamic_cast<ListViewModel*>(w.control.get());
  if (!view || !model) return true;
  QPoint in_view = source->mapTo(view->viewport(), me->position().toPoint());
  QModelIndex index = view->indexAt(in_view);
  int row = index.isValid() && !index.parent().isValid() ? index.row() : -1;
  POINT at{local.x(), local.y()};
  if (row >= 0 && row < static_cast<int>(model->rows.size())) {
    // The model scrolls as the user scrolled the view, so the row lies in
    // its client area too and the click lands on it.
    QModelIndex first = dynamic_cast<QTreeWidget*>(view) ? view->indexAt(QPoint(1, 1)) : QModelIndex();
    if (first.isValid() && !first.parent().isValid()) model->set_top_row(w, first.row());
    model->ensure_visible(w, row);
    RECT r = model->row_rect(w, row);
    QRect text = view->visualRect(index.siblingAtColumn(0));
    bool on_check = (model->ex_style & LVS_EX_CHECKBOXES) && in_view.x() < text.left() + 20 && !right;
    at = {on_check ? 5 : std::min<LONG>(40, r.right - 1), (r.top + r.bottom) / 2};
  } else {
    // Below the rows: a point where the model has no row either.
    int y = model->header_height() + model->row_height() * static_cast<int>(model->rows.size()) + 2;
    at = {local.x(), std::min<int>(y, std::max<int>(w.client_rect().bottom - 1, 0))};
  }
  post_mouse(w, me, at);
  return true;
}

}  // namespace platform::ui::qt
