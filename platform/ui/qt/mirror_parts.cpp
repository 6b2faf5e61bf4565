#include "platform/ui/qt/mirror_parts.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QSignalBlocker>

namespace platform::ui::qt {

// Statics show '&' as a mnemonic marker unless SS_NOPREFIX; "&&" is one '&'.
QString without_prefix(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) {
      ++i;
    }
    out.push_back(text[i]);
  }
  return qs(out);
}

int ClosedComboHeight(const QFont& font) { return QFontMetrics(font).height() + 8; }

QIcon image_list_icon(HIMAGELIST list, int index) {
  const QImage* image = list ? ImageListImage(list, index) : nullptr;
  return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
}

ButtonShape button_shape(DWORD style) {
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
      return ButtonShape::Check;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return ButtonShape::Radio;
    case BS_GROUPBOX:
      return ButtonShape::Group;
    case BS_OWNERDRAW:
      return ButtonShape::OwnerDraw;
    default:
      return ButtonShape::Push;
  }
}


// What the list and tree widgets last showed, to rebuild only on change.
std::u16string list_view_signature(const ListViewModel& lv) {
  std::u16string s;
  for (const auto& c : lv.columns) s += c.text + u'\x1f' + static_cast<char16_t>(c.width & 0xFFFF) + u'\x1e';
  s += static_cast<char16_t>(lv.ex_style & 0xFFFF);
  s += static_cast<char16_t>(lv.scroll_row & 0xFFFF);
  s += u'\x1d';
  for (const auto& r : lv.rows) {
    for (const auto& t : r.texts) s += t + u'\x1f';
    s += static_cast<char16_t>(r.state & 0xFFFF);
    s += static_cast<char16_t>(r.image & 0xFFFF);
    s += static_cast<char16_t>(r.drawn_text & 0xFFFF);
    s += static_cast<char16_t>(r.drawn_text >> 16);
    s += static_cast<char16_t>(r.drawn_back & 0xFFFF);
    s += static_cast<char16_t>(r.drawn_back >> 16);
    s += u'\x1e';
  }
  return s;
}

std::u16string tree_signature(const TreeViewModel& tv) {
  std::u16string s;
  // Visible rows carry expansion; hidden descendants are built too, so walk all.
  std::vector<std::pair<const TreeNode*, int>> stack{{&tv.root, 0}};
  size_t guard = 0;
  while (!stack.empty() && ++guard < 1000000) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    s += static_cast<char16_t>(depth) + n->text + static_cast<char16_t>(n->state & 0xFFFF) +
         static_cast<char16_t>(n->image & 0xFFFF) + static_cast<char16_t>(n->children_flag & 0xFFFF) +
         (n == tv.selected ? u'*' : u'-');
    if (depth >= 64) continue;
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back({*it, depth + 1});
  }
  return s;
}

std::u16string list_signature(const ListBoxModel& lb) {
  std::u16string s;
  for (const auto& i : lb.items) s += i.text + u'\x1f';
  return s;
}

// A list view in icon or list style: the large pictures in icon style, the
// small ones otherwise; check boxes and the selection as the model has them.
void fill_icon_list(QListWidget& list, const Window& w, const ListViewModel& model) {
  QSignalBlocker block(&list);
  list.clear();
  bool large = (w.style & kListViewTypeMask) == LVS_ICON;
  HIMAGELIST images = model.images[large ? LVSIL_NORMAL : LVSIL_SMALL];
  bool checks = (model.ex_style & LVS_EX_CHECKBOXES) != 0;
  QListWidgetItem* selected = nullptr;
  for (const auto& row : model.rows) {
    auto* item = new QListWidgetItem(row.texts.empty() ? QString() : qs(row.texts.front()), &list);
    QIcon icon = image_list_icon(images, row.image);
    if (!icon.isNull()) item->setIcon(icon);
    if (checks) item->setCheckState(((row.state & LVIS_STATEIMAGEMASK) >> 12) == 2 ? Qt::Checked : Qt::Unchecked);
    if (row.drawn_text != CLR_NONE) item->setForeground(colour(row.drawn_text));
    if (row.drawn_back != CLR_NONE) item->setBackground(colour(row.drawn_back));
    if (row.state & LVIS_SELECTED) selected = item;
  }
  if (selected) list.setCurrentItem(selected);
}


}  // namespace platform::ui::qt
