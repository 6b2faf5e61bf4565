// Tree views: nodes with check boxes, images and lazy children.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"

// Tree view.
struct TREEITEM__;
using HTREEITEM = TREEITEM__*;
inline HTREEITEM const TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0x10000));
inline HTREEITEM const TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0xFFFF));
inline HTREEITEM const TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0xFFFE));
inline HTREEITEM const TVI_SORT = reinterpret_cast<HTREEITEM>(static_cast<intptr_t>(-0xFFFD));
constexpr UINT TVIF_TEXT = 0x1;
constexpr UINT TVIF_IMAGE = 0x2;
constexpr UINT TVIF_PARAM = 0x4;
constexpr UINT TVIF_STATE = 0x8;
constexpr UINT TVIF_HANDLE = 0x10;
constexpr UINT TVIF_SELECTEDIMAGE = 0x20;
constexpr UINT TVIF_CHILDREN = 0x40;
constexpr UINT TVIS_SELECTED = 0x2;
constexpr UINT TVIS_BOLD = 0x10;
constexpr UINT TVIS_EXPANDED = 0x20;
constexpr UINT TVIS_EXPANDEDONCE = 0x40;
constexpr UINT TVIS_STATEIMAGEMASK = 0xF000;
constexpr int I_CHILDRENCALLBACK = -1;
constexpr UINT TVE_COLLAPSE = 0x1;
constexpr UINT TVE_EXPAND = 0x2;
constexpr UINT TVE_TOGGLE = 0x3;
constexpr UINT TVC_UNKNOWN = 0x0;
constexpr UINT TVC_BYMOUSE = 0x1;
constexpr UINT TVGN_ROOT = 0x0;
constexpr UINT TVGN_NEXT = 0x1;
constexpr UINT TVGN_PREVIOUS = 0x2;
constexpr UINT TVGN_PARENT = 0x3;
constexpr UINT TVGN_CHILD = 0x4;
constexpr UINT TVGN_CARET = 0x9;
constexpr int TVSIL_NORMAL = 0;
constexpr int TVSIL_STATE = 2;
constexpr UINT TVHT_NOWHERE = 0x1;
constexpr UINT TVHT_ONITEMICON = 0x2;
constexpr UINT TVHT_ONITEMLABEL = 0x4;
constexpr UINT TVHT_ONITEMINDENT = 0x8;
constexpr UINT TVHT_ONITEMBUTTON = 0x10;
constexpr UINT TVHT_ONITEMRIGHT = 0x20;
constexpr UINT TVHT_ONITEMSTATEICON = 0x40;
constexpr UINT TVHT_ONITEM = TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON;

struct TVITEMW {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
};
struct TVINSERTSTRUCTW {
  HTREEITEM hParent;
  HTREEITEM hInsertAfter;
  TVITEMW item;
};
struct NMTREEVIEWW {
  NMHDR hdr;
  UINT action;
  TVITEMW itemOld;
  TVITEMW itemNew;
  POINT ptDrag;
};
using LPNMTREEVIEW = NMTREEVIEWW*;
using NMTREEVIEW = NMTREEVIEWW;
struct TVHITTESTINFO {
  POINT pt;
  UINT flags;
  HTREEITEM hItem;
};
// Sorting an item's children with the program's comparison of their item
// data: negative when the first belongs before the second.
using PFNTVCOMPARE = int (*)(LPARAM first, LPARAM second, LPARAM sort_data);
struct TVSORTCB {
  HTREEITEM hParent;
  PFNTVCOMPARE lpfnCompare;
  LPARAM lParam;
};
using LPTVSORTCB = TVSORTCB*;
constexpr UINT TVM_SORTCHILDRENCB = 0x1100 + 21;

namespace platform::ui {

struct TreeNode {
  std::u16string text;
  int image = 0;
  int selected_image = 0;
  UINT state = 0;
  int children_flag = 0;  // cChildren: 0, 1 or I_CHILDRENCALLBACK
  LPARAM param = 0;
  TreeNode* parent = nullptr;
  std::vector<TreeNode*> children;
};

class TreeViewModel : public ControlModel {
 public:
  TreeViewModel();
  ~TreeViewModel() override;
  TreeNode root;
  TreeNode* selected = nullptr;
  HIMAGELIST images[3] = {nullptr, nullptr, nullptr};
  // The state images a script's tick and untick aim for (see SetTreeTickImages).
  std::vector<UINT> ticked_images{2};
  std::vector<UINT> unticked_images{0, 1};
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  TreeNode* node(HTREEITEM item) const;  // null for a stale or bad handle
  HTREEITEM handle_of(TreeNode* n) const { return reinterpret_cast<HTREEITEM>(n); }
  HTREEITEM insert(Window& w, const TVINSERTSTRUCTW& insert);
  bool remove(Window& w, TreeNode* n);
  // by_user: a click always notifies; a program's expand notifies only once.
  bool expand(Window& w, TreeNode* n, UINT action, bool by_user);
  bool select(Window& w, TreeNode* n, UINT action);
  // Visible rows in display order, with their depth.
  std::vector<std::pair<TreeNode*, int>> visible_rows() const;
  UINT hit_test(const Window& w, POINT p, TreeNode** hit) const;
  RECT state_icon_rect(const Window& w, TreeNode* n) const;
  int row_height() const { return 18; }

 private:
  std::vector<TreeNode*> live_;  // every node, for handle validation
  void fill_item(TreeNode* n, TVITEMW& item) const;
};

// A tree whose program draws its own state images (several ticked or partly
// ticked looks) says which image indexes mean "ticked" and "not ticked";
// the headless driver's tick and untick click an item's box until its image
// is one of them. Plain check-box trees use 2 and 0 or 1.
void SetTreeTickImages(HWND tree, std::vector<UINT> ticked, std::vector<UINT> unticked);

}  // namespace platform::ui
