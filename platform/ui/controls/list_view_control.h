// List views in report view: columns, rows, check boxes and images.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

// List view.
constexpr UINT LVIF_TEXT = 0x1;
constexpr UINT LVIF_IMAGE = 0x2;
constexpr UINT LVIF_PARAM = 0x4;
constexpr UINT LVIF_STATE = 0x8;
constexpr UINT LVIS_FOCUSED = 0x1;
constexpr UINT LVIS_SELECTED = 0x2;
constexpr UINT LVIS_STATEIMAGEMASK = 0xF000;
constexpr UINT LVNI_ALL = 0x0;
constexpr UINT LVNI_FOCUSED = 0x1;
constexpr UINT LVNI_SELECTED = 0x2;
constexpr int LVSIL_NORMAL = 0;
constexpr int LVSIL_SMALL = 1;
constexpr int LVSIL_STATE = 2;
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr int LVCFMT_CENTER = 2;
constexpr UINT LVCF_FMT = 0x1;
constexpr UINT LVCF_WIDTH = 0x2;
constexpr UINT LVCF_TEXT = 0x4;
constexpr UINT LVHT_NOWHERE = 0x1;
constexpr UINT LVHT_ONITEMICON = 0x2;
constexpr UINT LVHT_ONITEMLABEL = 0x4;
constexpr UINT LVHT_ONITEMSTATEICON = 0x8;
constexpr UINT LVHT_ONITEM = 0xE;

struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
};
using LPNMLISTVIEW = NMLISTVIEW*;
struct NMITEMACTIVATE {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
  UINT uKeyFlags;
};
using LPNMITEMACTIVATE = NMITEMACTIVATE*;
struct LVITEMW {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
};
struct LVHITTESTINFO {
  POINT pt;
  UINT flags;
  int iItem;
  int iSubItem;
};

namespace platform::ui {

struct ListViewColumn {
  std::u16string text;
  int width = 0;
  int format = LVCFMT_LEFT;
};
struct ListViewRow {
  std::vector<std::u16string> texts;  // column 0 first
  int image = 0;
  UINT state = 0;
  LPARAM param = 0;
  COLORREF drawn_text = CLR_NONE;  // colours from the last custom draw
  COLORREF drawn_back = CLR_NONE;
};

class ListViewModel : public ControlModel {
 public:
  std::vector<ListViewColumn> columns;
  std::vector<ListViewRow> rows;
  DWORD ex_style = 0;
  HIMAGELIST images[3] = {nullptr, nullptr, nullptr};
  int scroll_row = 0;  // the wanted first row in view; see top_row()
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Changes a row's state through LVN_ITEMCHANGING/LVN_ITEMCHANGED; false
  // when the parent refused or the row does not exist.
  bool set_state(Window& w, int row, UINT state, UINT mask);
  // Row rectangle in client coordinates (report view), counted from the
  // first row in view: rows scrolled away above lie above the header.
  RECT row_rect(const Window& w, int row) const;
  int row_height() const { return 17; }
  int header_height() const { return 20; }
  // How many whole rows the client area shows below the header (at least 1).
  int rows_in_view(const Window& w) const;
  // The first row in view: the scroll position, kept within the rows (a
  // list that lost rows shows its last ones, not empty space).
  int top_row(const Window& w) const;
  bool is_row_in_view(const Window& w, int row) const;
  // Scrolls the fewest rows that bring `row` into view, as a user scrolls
  // to a row before clicking it; false when there is no such row.
  bool ensure_visible(Window& w, int row);
  // Scrolls so that `row` is the first in view (as far as the rows allow).
  void set_top_row(Window& w, int row);
  // Asks the parent for per-row colours (NM_CUSTOMDRAW), as painting does.
  void custom_draw(Window& w);
};

}  // namespace platform::ui
