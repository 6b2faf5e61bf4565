// CListCtrl.
#include "platform/ui/controls/control_wrappers.h"

#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/controls/image_list_slots.h"
#include "platform/ui/message_queue.h"

using namespace platform::ui;

namespace {
ListViewModel* lv(HWND h) { return ModelOf<ListViewModel>(h); }
bool valid_row(ListViewModel* m, int row) { return m && row >= 0 && static_cast<size_t>(row) < m->rows.size(); }
}  // namespace

DWORD CListCtrl::SetExtendedStyle(DWORD style) {
  auto* m = lv(m_hWnd);
  if (!m) return 0;
  DWORD old = m->ex_style;
  m->ex_style = style;
  if ((style & LVS_EX_CHECKBOXES) && !(old & LVS_EX_CHECKBOXES))
    for (auto& r : m->rows)
      if (!(r.state & LVIS_STATEIMAGEMASK)) r.state |= INDEXTOSTATEIMAGEMASK(1);
  return old;
}
DWORD CListCtrl::GetExtendedStyle() const { auto* m = lv(m_hWnd); return m ? m->ex_style : 0; }
int CListCtrl::InsertColumn(int index, LPCWSTR heading, int format, int width, int) {
  auto* m = lv(m_hWnd);
  if (!m) return -1;
  size_t at = index < 0 || static_cast<size_t>(index) > m->columns.size() ? m->columns.size() : static_cast<size_t>(index);
  m->columns.insert(m->columns.begin() + static_cast<long>(at), ListViewColumn{heading ? heading : u"", width < 0 ? 60 : width, format});
  for (auto& r : m->rows)
    if (r.texts.size() > at) r.texts.insert(r.texts.begin() + static_cast<long>(at), u"");
  return static_cast<int>(at);
}
BOOL CListCtrl::DeleteColumn(int index) {
  auto* m = lv(m_hWnd);
  if (!m || index < 0 || static_cast<size_t>(index) >= m->columns.size()) return FALSE;
  m->columns.erase(m->columns.begin() + index);
  for (auto& r : m->rows)
    if (static_cast<size_t>(index) < r.texts.size()) r.texts.erase(r.texts.begin() + index);
  return TRUE;
}
int CListCtrl::GetColumnWidth(int index) const {
  auto* m = lv(m_hWnd);
  return m && index >= 0 && static_cast<size_t>(index) < m->columns.size() ? m->columns[static_cast<size_t>(index)].width : 0;
}
BOOL CListCtrl::SetColumnWidth(int index, int width) {
  auto* m = lv(m_hWnd);
  if (!m || index < 0 || static_cast<size_t>(index) >= m->columns.size()) return FALSE;
  m->columns[static_cast<size_t>(index)].width = width;
  return TRUE;
}
int CListCtrl::InsertItem(int index, LPCWSTR text) { return InsertItem(index, text, 0); }
int CListCtrl::InsertItem(int index, LPCWSTR text, int image) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(text);
  item.iImage = image;
  return InsertItem(&item);
}
int CListCtrl::InsertItem(const LVITEMW* item) {
  auto* m = lv(m_hWnd);
  if (!m || !item) return -1;
  ListViewRow row;
  row.texts.push_back((item->mask & LVIF_TEXT) && item->pszText ? item->pszText : u"");
  if (item->mask & LVIF_IMAGE) row.image = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (item->mask & LVIF_STATE) row.state = item->state & item->stateMask;
  if ((m->ex_style & LVS_EX_CHECKBOXES) && !(row.state & LVIS_STATEIMAGEMASK)) row.state |= INDEXTOSTATEIMAGEMASK(1);
  size_t at = item->iItem < 0 || static_cast<size_t>(item->iItem) > m->rows.size() ? m->rows.size() : static_cast<size_t>(item->iItem);
  m->rows.insert(m->rows.begin() + static_cast<long>(at), row);
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return static_cast<int>(at);
}
BOOL CListCtrl::SetItemText(int row, int column, LPCWSTR text) {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row) || column < 0 || column > 255) return FALSE;
  auto& texts = m->rows[static_cast<size_t>(row)].texts;
  if (texts.size() <= static_cast<size_t>(column)) texts.resize(static_cast<size_t>(column) + 1);
  texts[static_cast<size_t>(column)] = text ? text : u"";
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
CString CListCtrl::GetItemText(int row, int column) const {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row) || column < 0) return CString();
  const auto& texts = m->rows[static_cast<size_t>(row)].texts;
  return static_cast<size_t>(column) < texts.size() ? CString(texts[static_cast<size_t>(column)]) : CString();
}
int CListCtrl::GetItemText(int row, int column, LPWSTR buffer, int size) const {
  std::u16string t = GetItemText(row, column).GetString();
  if (!buffer || size <= 0) return 0;
  size_t n = std::min<size_t>(t.size(), static_cast<size_t>(size - 1));
  std::copy(t.begin(), t.begin() + static_cast<long>(n), buffer);
  buffer[n] = 0;
  return static_cast<int>(n);
}
BOOL CListCtrl::SetItemData(int row, DWORD_PTR data) {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row)) return FALSE;
  m->rows[static_cast<size_t>(row)].param = static_cast<LPARAM>(data);
  return TRUE;
}
DWORD_PTR CListCtrl::GetItemData(int row) const {
  auto* m = lv(m_hWnd);
  return valid_row(m, row) ? static_cast<DWORD_PTR>(m->rows[static_cast<size_t>(row)].param) : 0;
}
BOOL CListCtrl::SetItem(const LVITEMW* item) {
  auto* m = lv(m_hWnd);
  if (!item || !valid_row(m, item->iItem)) return FALSE;
  if (item->mask & LVIF_TEXT) SetItemText(item->iItem, item->iSubItem, item->pszText);
  auto& row = m->rows[static_cast<size_t>(item->iItem)];
  if (item->mask & LVIF_IMAGE) row.image = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (item->mask & LVIF_STATE) return SetItemState(item->iItem, item->state, item->stateMask);
  return TRUE;
}
BOOL CListCtrl::GetItem(LVITEMW* item) const {
  auto* m = lv(m_hWnd);
  if (!item || !valid_row(m, item->iItem)) return FALSE;
  const auto& row = m->rows[static_cast<size_t>(item->iItem)];
  if (item->mask & LVIF_TEXT) GetItemText(item->iItem, item->iSubItem, item->pszText, item->cchTextMax);
  if (item->mask & LVIF_IMAGE) item->iImage = row.image;
  if (item->mask & LVIF_PARAM) item->lParam = row.param;
  if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
  return TRUE;
}
BOOL CListCtrl::SetItemState(int row, UINT state, UINT mask) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = lv(m_hWnd);
  if (!w || !m) return FALSE;
  if (row == -1) {
    BOOL all = TRUE;
    for (size_t i = 0; i < m->rows.size(); ++i)
      if (!m->set_state(*w, static_cast<int>(i), state, mask)) all = FALSE;
    return all;
  }
  return m->set_state(*w, row, state, mask) ? TRUE : FALSE;
}
UINT CListCtrl::GetItemState(int row, UINT mask) const {
  auto* m = lv(m_hWnd);
  return valid_row(m, row) ? m->rows[static_cast<size_t>(row)].state & mask : 0;
}
BOOL CListCtrl::SetCheck(int row, BOOL check) {
  return SetItemState(row, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), LVIS_STATEIMAGEMASK);
}
BOOL CListCtrl::GetCheck(int row) const {
  return ((GetItemState(row, LVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
}
BOOL CListCtrl::DeleteItem(int row) {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row)) return FALSE;
  m->rows.erase(m->rows.begin() + row);
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
BOOL CListCtrl::DeleteAllItems() {
  auto* m = lv(m_hWnd);
  if (!m) return FALSE;
  m->rows.clear();
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
int CListCtrl::GetItemCount() const { auto* m = lv(m_hWnd); return m ? static_cast<int>(m->rows.size()) : 0; }
int CListCtrl::GetNextItem(int start, int flags) const {
  auto* m = lv(m_hWnd);
  if (!m) return -1;
  for (size_t i = static_cast<size_t>(std::max(start + 1, 0)); i < m->rows.size(); ++i) {
    UINT s = m->rows[i].state;
    if (flags == LVNI_ALL) return static_cast<int>(i);
    if ((flags & LVNI_SELECTED) && !(s & LVIS_SELECTED)) continue;
    if ((flags & LVNI_FOCUSED) && !(s & LVIS_FOCUSED)) continue;
    return static_cast<int>(i);
  }
  return -1;
}
int CListCtrl::GetSelectionMark() const { return GetNextItem(-1, LVNI_SELECTED); }
int CListCtrl::GetSelectedCount() const {
  auto* m = lv(m_hWnd);
  if (!m) return 0;
  return static_cast<int>(std::count_if(m->rows.begin(), m->rows.end(), [](const ListViewRow& r) { return (r.state & LVIS_SELECTED) != 0; }));
}
CImageList* CListCtrl::SetImageList(CImageList* list, int which) {
  auto* m = lv(m_hWnd);
  return m ? set_image_list(m->images, list, which) : nullptr;
}
CImageList* CListCtrl::GetImageList(int which) const {
  auto* m = lv(m_hWnd);
  return m ? image_list(m->images, which) : nullptr;
}
int CListCtrl::HitTest(LVHITTESTINFO* info) const {
  auto* m = lv(m_hWnd);
  Window* w = FindWindowModel(m_hWnd);
  if (!m || !w || !info) return -1;
  info->flags = LVHT_NOWHERE;
  info->iItem = -1;
  // Rows scrolled away above lie under the header.
  for (size_t i = static_cast<size_t>(m->top_row(*w)); i < m->rows.size(); ++i) {
    RECT r = m->row_rect(*w, static_cast<int>(i));
    if (!PtInRect(&r, info->pt)) continue;
    info->iItem = static_cast<int>(i);
    info->flags = ((m->ex_style & LVS_EX_CHECKBOXES) && info->pt.x < 18) ? LVHT_ONITEMSTATEICON : LVHT_ONITEMLABEL;
    return info->iItem;
  }
  return -1;
}
int CListCtrl::HitTest(CPoint point, UINT* flags) const {
  LVHITTESTINFO info{point, 0, -1, 0};
  int r = HitTest(&info);
  if (flags) *flags = info.flags;
  return r;
}
BOOL CListCtrl::EnsureVisible(int row, BOOL) {
  auto* m = lv(m_hWnd);
  Window* w = FindWindowModel(m_hWnd);
  return m && w && m->ensure_visible(*w, row);
}
int CListCtrl::GetTopIndex() const {
  auto* m = lv(m_hWnd);
  Window* w = FindWindowModel(m_hWnd);
  return m && w ? m->top_row(*w) : 0;
}
BOOL CListCtrl::GetItemRect(int row, LPRECT rect, UINT) const {
  auto* m = lv(m_hWnd);
  Window* w = FindWindowModel(m_hWnd);
  if (!valid_row(m, row) || !w || !rect) return FALSE;
  *rect = m->row_rect(*w, row);
  return TRUE;
}
