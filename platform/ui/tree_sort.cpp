// Sorting a tree item's children with a program's comparison callback.
#include <algorithm>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/window.h"

namespace {

using platform::ui::TreeNode;

// A bottom-up merge sort whose indexes never leave the range whatever the
// callback answers (an inconsistent comparison gives some order, never a
// fault); equal items keep their order.
void MergeSort(std::vector<TreeNode*>& items, PFNTVCOMPARE compare, LPARAM data) {
  const size_t n = items.size();
  std::vector<TreeNode*> scratch(n);
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t left = 0; left < n; left += 2 * width) {
      const size_t mid = std::min(left + width, n);
      const size_t right = std::min(left + 2 * width, n);
      size_t i = left, j = mid, k = left;
      while (i < mid && j < right)
        scratch[k++] = compare(items[j]->param, items[i]->param, data) < 0 ? items[j++] : items[i++];
      while (i < mid) scratch[k++] = items[i++];
      while (j < right) scratch[k++] = items[j++];
    }
    items.swap(scratch);
  }
}

}  // namespace

BOOL CTreeCtrl::SortChildrenCB(LPTVSORTCB sort, BOOL) {
  platform::ui::Window* w = platform::ui::FindWindowModel(m_hWnd);
  auto* model = platform::ui::ModelOf<platform::ui::TreeViewModel>(m_hWnd);
  if (!w || !model || !sort || !sort->lpfnCompare) return FALSE;
  TreeNode* parent = (!sort->hParent || sort->hParent == TVI_ROOT) ? &model->root : model->node(sort->hParent);
  if (!parent) return FALSE;
  MergeSort(parent->children, sort->lpfnCompare, sort->lParam);
  platform::ui::NotifyWindowRepainted(*w);
  return TRUE;
}
