// CTreeCtrl.
#include "platform/ui/controls/control_wrappers.h"

#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/controls/image_list_slots.h"
#include "platform/ui/message_queue.h"

using namespace platform::ui;

namespace {
TreeViewModel* tv(HWND h) { return ModelOf<TreeViewModel>(h); }
}  // namespace

HTREEITEM CTreeCtrl::InsertItem(const TVINSERTSTRUCTW* insert) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  return w && m && insert ? m->insert(*w, *insert) : nullptr;
}
HTREEITEM CTreeCtrl::InsertItem(LPCWSTR text, HTREEITEM parent, HTREEITEM after) {
  TVINSERTSTRUCTW in{};
  in.hParent = parent;
  in.hInsertAfter = after;
  in.item.mask = TVIF_TEXT;
  in.item.pszText = const_cast<LPWSTR>(text);
  return InsertItem(&in);
}
HTREEITEM CTreeCtrl::InsertItem(LPCWSTR text, int image, int selected_image, HTREEITEM parent, HTREEITEM after) {
  TVINSERTSTRUCTW in{};
  in.hParent = parent;
  in.hInsertAfter = after;
  in.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  in.item.pszText = const_cast<LPWSTR>(text);
  in.item.iImage = image;
  in.item.iSelectedImage = selected_image;
  return InsertItem(&in);
}
BOOL CTreeCtrl::DeleteItem(HTREEITEM item) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  if (!w || !m) return FALSE;
  if (item == TVI_ROOT || !item) return m->remove(*w, &m->root);
  return m->remove(*w, m->node(item));
}
BOOL CTreeCtrl::DeleteAllItems() { return DeleteItem(TVI_ROOT); }
HTREEITEM CTreeCtrl::GetRootItem() const {
  auto* m = tv(m_hWnd);
  return m && !m->root.children.empty() ? m->handle_of(m->root.children.front()) : nullptr;
}
HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? (item == TVI_ROOT || !item ? &m->root : m->node(item)) : nullptr;
  return n && !n->children.empty() ? m->handle_of(n->children.front()) : nullptr;
}
HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n || !n->parent) return nullptr;
  auto& s = n->parent->children;
  auto it = std::find(s.begin(), s.end(), n);
  return it != s.end() && it + 1 != s.end() ? m->handle_of(*(it + 1)) : nullptr;
}
HTREEITEM CTreeCtrl::GetPrevSiblingItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n || !n->parent) return nullptr;
  auto& s = n->parent->children;
  auto it = std::find(s.begin(), s.end(), n);
  return it != s.end() && it != s.begin() ? m->handle_of(*(it - 1)) : nullptr;
}
HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n && n->parent && n->parent != &m->root ? m->handle_of(n->parent) : nullptr;
}
HTREEITEM CTreeCtrl::GetNextItem(HTREEITEM item, UINT code) const {
  switch (code) {
    case TVGN_ROOT: return GetRootItem();
    case TVGN_NEXT: return GetNextSiblingItem(item);
    case TVGN_PREVIOUS: return GetPrevSiblingItem(item);
    case TVGN_PARENT: return GetParentItem(item);
    case TVGN_CHILD: return GetChildItem(item);
    case TVGN_CARET: return GetSelectedItem();
  }
  return nullptr;
}
HTREEITEM CTreeCtrl::GetSelectedItem() const {
  auto* m = tv(m_hWnd);
  return m && m->selected ? m->handle_of(m->selected) : nullptr;
}
BOOL CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n && (!n->children.empty() || n->children_flag != 0);
}
CString CTreeCtrl::GetItemText(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n ? CString(n->text) : CString();
}
BOOL CTreeCtrl::SetItemText(HTREEITEM item, LPCWSTR text) {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n) return FALSE;
  n->text = text ? text : u"";
  return TRUE;
}
DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n ? static_cast<DWORD_PTR>(n->param) : 0;
}
BOOL CTreeCtrl::SetItemData(HTREEITEM item, DWORD_PTR data) {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n) return FALSE;
  n->param = static_cast<LPARAM>(data);
  return TRUE;
}
BOOL CTreeCtrl::GetItem(TVITEMW* item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m && item ? m->node(item->hItem) : nullptr;
  if (!n) return FALSE;
  if (item->mask & TVIF_TEXT && item->pszText && item->cchTextMax > 0) {
    size_t k = std::min<size_t>(n->text.size(), static_cast<size_t>(item->cchTextMax - 1));
    std::copy(n->text.begin(), n->text.begin() + static_cast<long>(k), item->pszText);
    item->pszText[k] = 0;
  }
  if (item->mask & TVIF_IMAGE) item->iImage = n->image;
  if (item->mask & TVIF_SELECTEDIMAGE) item->iSelectedImage = n->selected_image;
  if (item->mask & TVIF_STATE) item->state = n->state & (item->stateMask ? item->stateMask : 0xFFFF);
  if (item->mask & TVIF_CHILDREN) item->cChildren = !n->children.empty() ? 1 : n->children_flag;
  if (item->mask & TVIF_PARAM) item->lParam = n->param;
  return TRUE;
}
BOOL CTreeCtrl::SetItem(TVITEMW* item) {
  auto* m = tv(m_hWnd);
  TreeNode* n = m && item ? m->node(item->hItem) : nullptr;
  if (!n) return FALSE;
  if ((item->mask & TVIF_TEXT) && item->pszText) n->text = item->pszText;
  if (item->mask & TVIF_IMAGE) n->image = item->iImage;
  if (item->mask & TVIF_SELECTEDIMAGE) n->selected_image = item->iSelectedImage;
  if (item->mask & TVIF_STATE) n->state = (n->state & ~item->stateMask) | (item->state & item->stateMask);
  if (item->mask & TVIF_CHILDREN) n->children_flag = item->cChildren;
  if (item->mask & TVIF_PARAM) n->param = item->lParam;
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
UINT CTreeCtrl::GetItemState(HTREEITEM item, UINT mask) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n ? n->state & mask : 0;
}
BOOL CTreeCtrl::SetItemState(HTREEITEM item, UINT state, UINT mask) {
  TVITEMW it{};
  it.mask = TVIF_STATE;
  it.hItem = item;
  it.state = state;
  it.stateMask = mask;
  return SetItem(&it);
}
BOOL CTreeCtrl::GetItemImage(HTREEITEM item, int& image, int& selected_image) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n) return FALSE;
  image = n->image;
  selected_image = n->selected_image;
  return TRUE;
}
BOOL CTreeCtrl::SetItemImage(HTREEITEM item, int image, int selected_image) {
  TVITEMW it{};
  it.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  it.hItem = item;
  it.iImage = image;
  it.iSelectedImage = selected_image;
  return SetItem(&it);
}
BOOL CTreeCtrl::GetCheck(HTREEITEM item) const { return (GetItemState(item, TVIS_STATEIMAGEMASK) >> 12) == 2; }
BOOL CTreeCtrl::SetCheck(HTREEITEM item, BOOL check) {
  return SetItemState(item, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), TVIS_STATEIMAGEMASK);
}
BOOL CTreeCtrl::Expand(HTREEITEM item, UINT code) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  return w && m && m->expand(*w, m->node(item), code, false) ? TRUE : FALSE;
}
BOOL CTreeCtrl::SelectItem(HTREEITEM item) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  if (!w || !m) return FALSE;
  TreeNode* n = item ? m->node(item) : nullptr;
  if (item && !n) return FALSE;
  return m->select(*w, n, TVC_UNKNOWN) ? TRUE : FALSE;
}
HTREEITEM CTreeCtrl::HitTest(CPoint point, UINT* flags) const {
  TVHITTESTINFO info{point, 0, nullptr};
  HTREEITEM h = HitTest(&info);
  if (flags) *flags = info.flags;
  return h;
}
HTREEITEM CTreeCtrl::HitTest(TVHITTESTINFO* info) const {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  if (!w || !m || !info) return nullptr;
  TreeNode* n = nullptr;
  info->flags = m->hit_test(*w, info->pt, &n);
  info->hItem = n ? m->handle_of(n) : nullptr;
  return info->hItem;
}
CImageList* CTreeCtrl::SetImageList(CImageList* list, int which) {
  auto* m = tv(m_hWnd);
  return m ? set_image_list(m->images, list, which) : nullptr;
}
CImageList* CTreeCtrl::GetImageList(int which) const {
  auto* m = tv(m_hWnd);
  return m ? image_list(m->images, which) : nullptr;
}
UINT CTreeCtrl::GetCount() const {
  auto* m = tv(m_hWnd);
  if (!m) return 0;
  UINT count = 0;
  std::vector<TreeNode*> stack(m->root.children.begin(), m->root.children.end());
  while (!stack.empty()) {
    TreeNode* n = stack.back();
    stack.pop_back();
    ++count;
    stack.insert(stack.end(), n->children.begin(), n->children.end());
  }
  return count;
}
BOOL CTreeCtrl::GetItemRect(HTREEITEM item, LPRECT rect, BOOL) const {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!w || !n || !rect) return FALSE;
  RECT r = m->state_icon_rect(*w, n);
  if (r.right == 0) return FALSE;
  RECT c = w->client_rect();
  *rect = {r.left, r.top, c.right, r.bottom};
  return TRUE;
}
