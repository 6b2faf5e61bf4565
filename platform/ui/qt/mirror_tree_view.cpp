// Tree views as Qt tree widgets.
#include "platform/ui/qt/mirror_parts.h"

#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <functional>

#include "platform/ui/controls.h"
#include "platform/ui/message_queue.h"

namespace platform::ui::qt {

QWidget* WidgetMirror::make_tree_view(Window& w, QWidget* parent_widget) {
  auto* t = new QTreeWidget(parent_widget);
  t->setHeaderHidden(true);
  t->setColumnCount(1);
  return t;
}

void WidgetMirror::update_tree_view(Entry& e, Window& w) {
  QWidget* widget = e.widget;
  auto* tree = dynamic_cast<QTreeWidget*>(widget);
  auto* model = dynamic_cast<TreeViewModel*>(w.control.get());
  if (!tree || !model) return;
  std::u16string sig = tree_signature(*model);
  if (sig == e.signature) return;
  e.signature = sig;
  QSignalBlocker block(tree);
  tree->clear();
  tree->setRootIsDecorated((w.style & (TVS_HASBUTTONS | TVS_LINESATROOT)) != 0);
  bool checks = (w.style & TVS_CHECKBOXES) != 0;
  HIMAGELIST state_images = model->images[TVSIL_STATE];
  QTreeWidgetItem* selected = nullptr;
  std::function<void(QTreeWidgetItem*, const TreeNode*, int)> add;
  add = [&](QTreeWidgetItem* into, const TreeNode* n, int depth) {
    if (depth > 64) return;
    for (const TreeNode* child : n->children) {
      auto* item = into ? new QTreeWidgetItem(into) : new QTreeWidgetItem(tree);
      item->setText(0, qs(child->text));
      item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(child)));
      UINT state_image = (child->state & TVIS_STATEIMAGEMASK) >> 12;
      if (state_images && state_image > 0) {
        item->setIcon(0, image_list_icon(state_images, static_cast<int>(state_image)));
      } else if (checks) {
        item->setCheckState(0, state_image == 2 ? Qt::Checked : Qt::Unchecked);
      } else {
        QIcon icon = image_list_icon(model->images[TVSIL_NORMAL], child == model->selected ? child->selected_image : child->image);
        if (!icon.isNull()) item->setIcon(0, icon);
      }
      if (child->state & TVIS_BOLD) {
        QFont f = tree->font();
        f.setBold(true);
        item->setFont(0, f);
      }
      if (child->children_flag != 0 && child->children.empty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
      if (child == model->selected) selected = item;
      add(item, child, depth + 1);
      item->setExpanded((child->state & TVIS_EXPANDED) != 0);
    }
  };
  add(nullptr, &model->root, 0);
  if (selected) tree->setCurrentItem(selected);
}

bool WidgetMirror::tree_view_mouse(Entry& e, Window& w, QWidget* source, QMouseEvent* me, QPoint local) {
  bool right = me->button() == Qt::RightButton;
  QEvent::Type type = me->type();
  HWND self = w.handle;
  auto* tree = dynamic_cast<QTreeWidget*>(e.widget.data());
  auto* model = dynamic_cast<TreeViewModel*>(w.control.get());
  if (!tree || !model) return true;
  QPoint in_view = source->mapTo(tree->viewport(), me->position().toPoint());
  QTreeWidgetItem* item = tree->itemAt(in_view);
  TreeNode* node = item ? model->node(reinterpret_cast<HTREEITEM>(item->data(0, Qt::UserRole).value<quintptr>())) : nullptr;
  if (!node) {
    post_mouse(w, me, {local.x(), local.y()});
    return true;
  }
  QRect text = tree->visualItemRect(item);
  RECT state = model->state_icon_rect(w, node);
  bool has_state = ((node->state & TVIS_STATEIMAGEMASK) >> 12) != 0;
  if (type == QEvent::MouseButtonPress && !right && in_view.x() < text.left()) {
    // The expand button: the user toggles the branch.
    HTREEITEM h = model->handle_of(node);
    defer(self, [self, h] {
      auto* tv = ModelOf<TreeViewModel>(self);
      Window* tw = FindWindowModel(self);
      if (TreeNode* n = tv && tw ? tv->node(h) : nullptr)
        tv->expand(*tw, n, (n->state & TVIS_EXPANDED) ? TVE_COLLAPSE : TVE_EXPAND, true);
    });
    return true;
  }
  if (has_state && state.right > 0 && !right && in_view.x() < text.left() + 20) {
    post_mouse(w, me, {(state.left + state.right) / 2, (state.top + state.bottom) / 2});
    return true;
  }
  if (type == QEvent::MouseButtonPress && !right) {
    HTREEITEM h = model->handle_of(node);
    defer(self, [self, h] {
      auto* tv = ModelOf<TreeViewModel>(self);
      Window* tw = FindWindowModel(self);
      if (TreeNode* n = tv && tw ? tv->node(h) : nullptr) tv->select(*tw, n, TVC_BYMOUSE);
    });
    return true;
  }
  LONG x = state.right > 0 ? state.right + 6 : 30;
  post_mouse(w, me, {x, (state.top + state.bottom) / 2});
  return true;
}

}  // namespace platform::ui::qt
