// Tree views.
#include "platform/ui/controls/tree_view_control.h"

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

TreeViewModel::TreeViewModel() = default;
TreeViewModel::~TreeViewModel() {
  for (TreeNode* n : live_) delete n;
}

TreeNode* TreeViewModel::node(HTREEITEM item) const {
  auto* n = reinterpret_cast<TreeNode*>(item);
  return std::find(live_.begin(), live_.end(), n) != live_.end() ? n : nullptr;
}

void TreeViewModel::fill_item(TreeNode* n, TVITEMW& item) const {
  item = TVITEMW{};
  if (!n) return;
  item.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  item.hItem = handle_of(n);
  item.state = n->state;
  item.stateMask = 0xFFFF;
  item.iImage = n->image;
  item.iSelectedImage = n->selected_image;
  item.lParam = n->param;
}

HTREEITEM TreeViewModel::insert(Window& w, const TVINSERTSTRUCTW& in) {
  TreeNode* parent = (in.hParent == TVI_ROOT || !in.hParent) ? &root : node(in.hParent);
  if (!parent) return nullptr;
  auto* n = new TreeNode;
  const TVITEMW& it = in.item;
  if ((it.mask & TVIF_TEXT) && it.pszText) n->text = it.pszText;
  if (it.mask & TVIF_IMAGE) n->image = it.iImage;
  if (it.mask & TVIF_SELECTEDIMAGE) n->selected_image = it.iSelectedImage;
  if (it.mask & TVIF_STATE) n->state = it.state & it.stateMask;
  if (it.mask & TVIF_CHILDREN) n->children_flag = it.cChildren;
  if (it.mask & TVIF_PARAM) n->param = it.lParam;
  if ((w.style & TVS_CHECKBOXES) && !(n->state & TVIS_STATEIMAGEMASK)) n->state |= INDEXTOSTATEIMAGEMASK(1);
  n->parent = parent;
  auto& kids = parent->children;
  auto pos = kids.end();
  if (in.hInsertAfter == TVI_FIRST) {
    pos = kids.begin();
  } else if (in.hInsertAfter == TVI_SORT) {
    pos = std::find_if(kids.begin(), kids.end(), [&](TreeNode* k) { return AsciiCompareNoCase(k->text, n->text) > 0; });
  } else if (in.hInsertAfter != TVI_LAST) {
    auto it2 = std::find(kids.begin(), kids.end(), node(in.hInsertAfter));
    if (it2 != kids.end()) pos = it2 + 1;
  }
  kids.insert(pos, n);
  live_.push_back(n);
  NotifyWindowRepainted(w);
  return handle_of(n);
}

bool TreeViewModel::remove(Window& w, TreeNode* n) {
  if (!n) return false;
  HWND self = w.handle;
  // Children first; each deleted item is announced with TVN_DELETEITEM.
  std::vector<TreeNode*> order;
  std::vector<TreeNode*> stack{n};
  size_t guard = 0;
  while (!stack.empty() && guard++ < live_.size() + 1) {
    TreeNode* x = stack.back();
    stack.pop_back();
    order.push_back(x);
    for (TreeNode* c : x->children) stack.push_back(c);
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    TreeNode* x = *it;
    if (x == &root) continue;
    NMTREEVIEWW nm{};
    fill_item(x, nm.itemOld);
    if (FindWindowModel(self)) NotifyParent(w, nm.hdr, TVN_DELETEITEM);
    if (selected == x) selected = nullptr;
    if (x->parent) {
      auto& sib = x->parent->children;
      sib.erase(std::remove(sib.begin(), sib.end(), x), sib.end());
    }
    live_.erase(std::remove(live_.begin(), live_.end(), x), live_.end());
    delete x;
  }
  if (n == &root) root.children.clear();
  if (FindWindowModel(self)) NotifyWindowRepainted(w);
  return true;
}

bool TreeViewModel::expand(Window& w, TreeNode* n, UINT action, bool by_user) {
  if (!n) return false;
  bool expanded = (n->state & TVIS_EXPANDED) != 0;
  UINT what = action & 0x3;
  if (what == TVE_TOGGLE) what = expanded ? TVE_COLLAPSE : TVE_EXPAND;
  if ((what == TVE_EXPAND) == expanded) return true;
  bool notify = by_user || !(n->state & TVIS_EXPANDEDONCE);
  HWND self = w.handle;
  if (notify) {
    NMTREEVIEWW nm{};
    nm.action = what;
    fill_item(n, nm.itemNew);
    if (NotifyParent(w, nm.hdr, TVN_ITEMEXPANDING)) return false;
    if (!FindWindowModel(self) || !node(handle_of(n))) return false;
  }
  if (what == TVE_EXPAND) n->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
  else n->state &= ~TVIS_EXPANDED;
  if (notify) {
    NMTREEVIEWW nm{};
    nm.action = what;
    fill_item(n, nm.itemNew);
    NotifyParent(w, nm.hdr, TVN_ITEMEXPANDED);
  }
  if (Window* still = FindWindowModel(self)) NotifyWindowRepainted(*still);
  return true;
}

bool TreeViewModel::select(Window& w, TreeNode* n, UINT action) {
  if (n == selected) return true;
  HWND self = w.handle;
  NMTREEVIEWW nm{};
  nm.action = action;
  fill_item(selected, nm.itemOld);
  fill_item(n, nm.itemNew);
  if (NotifyParent(w, nm.hdr, TVN_SELCHANGING)) return false;
  if (!FindWindowModel(self)) return false;
  if (selected && node(handle_of(selected))) selected->state &= ~TVIS_SELECTED;
  selected = n && node(handle_of(n)) ? n : nullptr;
  if (selected) selected->state |= TVIS_SELECTED;
  NMTREEVIEWW done{};
  done.action = action;
  fill_item(selected, done.itemNew);
  NotifyParent(w, done.hdr, TVN_SELCHANGED);
  return true;
}

std::vector<std::pair<TreeNode*, int>> TreeViewModel::visible_rows() const {
  std::vector<std::pair<TreeNode*, int>> out;
  std::vector<std::pair<TreeNode*, int>> stack;
  for (auto it = root.children.rbegin(); it != root.children.rend(); ++it) stack.push_back({*it, 0});
  while (!stack.empty() && out.size() <= live_.size()) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    out.push_back({n, depth});
    if (n->state & TVIS_EXPANDED)
      for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back({*it, depth + 1});
  }
  return out;
}

RECT TreeViewModel::state_icon_rect(const Window& w, TreeNode* target) const {
  auto rows = visible_rows();
  int indent = 19;
  int base = (w.style & TVS_LINESATROOT) ? indent : 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].first != target) continue;
    int x = base + rows[i].second * indent;
    int y = static_cast<int>(i) * row_height();
    return {x, y, x + 16, y + row_height()};
  }
  return {0, 0, 0, 0};
}

UINT TreeViewModel::hit_test(const Window& w, POINT p, TreeNode** hit) const {
  *hit = nullptr;
  auto rows = visible_rows();
  if (p.y < 0) return TVHT_NOWHERE;
  size_t index = static_cast<size_t>(p.y / row_height());
  if (index >= rows.size()) return TVHT_NOWHERE;
  auto [n, depth] = rows[index];
  *hit = n;
  int indent = 19;
  int x = ((w.style & TVS_LINESATROOT) ? indent : 0) + depth * indent;
  if (p.x < x) return p.x >= x - indent ? TVHT_ONITEMBUTTON : TVHT_ONITEMINDENT;
  UINT state_image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
  if (state_image && (images[TVSIL_STATE] || (w.style & TVS_CHECKBOXES))) {
    if (p.x < x + 16) return TVHT_ONITEMSTATEICON;
    x += 16;
  }
  if (images[TVSIL_NORMAL]) {
    if (p.x < x + 16) return TVHT_ONITEMICON;
    x += 16;
  }
  QFontMetrics m(QtFontFor(w.font));
  if (p.x < x + m.horizontalAdvance(qs(n->text)) + 4) return TVHT_ONITEMLABEL;
  return TVHT_ONITEMRIGHT;
}

bool TreeViewModel::handle(Window& w, UINT message, WPARAM, LPARAM lp, LRESULT& result) {
  if (!is_item_click(message)) return false;
  HWND self = w.handle;
  POINT pt{};
  if (!take_click(w, lp, pt)) return true;
  // Programs read the cursor position of the click.
  POINT screen = pt;
  ClientToScreen(self, &screen);
  SetCursorPos(screen.x, screen.y);
  TreeNode* n = nullptr;
  UINT where = hit_test(w, pt, &n);
  if (message == WM_LBUTTONDOWN && n) {
    if (where == TVHT_ONITEMBUTTON) {
      expand(w, n, TVE_TOGGLE, true);
    } else if (where == TVHT_ONITEMSTATEICON && (w.style & TVS_CHECKBOXES)) {
      UINT image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
      n->state = (n->state & ~TVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2);
    } else if (where & (TVHT_ONITEMLABEL | TVHT_ONITEMICON)) {
      select(w, n, TVC_BYMOUSE);
    }
  }
  Window* still = FindWindowModel(self);
  if (!still) return true;
  NMHDR nm{};
  NotifyParent(*still, nm, click_notification(message));
  if (message == WM_LBUTTONDBLCLK && n && (still = FindWindowModel(self)) && node(handle_of(n)))
    expand(*still, n, TVE_TOGGLE, true);
  result = 0;
  return true;
}

void TreeViewModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, Qt::white);
  set_font(p, w);
  int indent = 19;
  int base = (w.style & TVS_LINESATROOT) ? indent : 0;
  auto rows = visible_rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    auto [n, depth] = rows[i];
    int x = base + depth * indent;
    int y = static_cast<int>(i) * row_height();
    bool has_children = !n->children.empty() || n->children_flag != 0;
    if (has_children && (w.style & TVS_HASBUTTONS) && x >= indent) {
      QRect b(x - indent + 4, y + 4, 9, 9);
      p.setPen(QColor(128, 128, 128));
      p.setBrush(Qt::white);
      p.drawRect(b);
      p.drawLine(b.left() + 2, b.center().y(), b.right() - 2, b.center().y());
      if (!(n->state & TVIS_EXPANDED)) p.drawLine(b.center().x(), b.top() + 2, b.center().x(), b.bottom() - 2);
    }
    UINT state_image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
    if (state_image) {
      if (const QImage* st = ImageListImage(images[TVSIL_STATE], static_cast<int>(state_image))) {
        p.drawImage(x, y + 1, *st);
        x += 16;
      } else if (w.style & TVS_CHECKBOXES) {
        QRect mark(x + 1, y + 2, 13, 13);
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(mark.adjusted(0, 0, -1, -1));
        if (state_image == 2) p.fillRect(mark.adjusted(3, 3, -3, -3), Qt::black);
        x += 16;
      }
    }
    if (const QImage* img = ImageListImage(images[TVSIL_NORMAL], n == selected ? n->selected_image : n->image)) {
      p.drawImage(x, y + 1, *img);
      x += 16;
    } else if (images[TVSIL_NORMAL]) {
      x += 16;
    }
    QRect label(x + 2, y, box.width() - x - 2, row_height());
    if (n == selected) {
      QFontMetrics m(p.font());
      QRect sel(label.x(), y, m.horizontalAdvance(qs(n->text)) + 4, row_height());
      p.fillRect(sel, QColor(0, 120, 215));
      p.setPen(Qt::white);
    } else {
      p.setPen(Qt::black);
    }
    p.drawText(label.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, qs(n->text));
  }
}

}  // namespace platform::ui
