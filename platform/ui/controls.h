// Built-in controls: per-class state (the models the driver and the view
// read) and the framework's wrapper classes (CButton, CListCtrl, ...).
// Changes made through the wrappers send the notifications the platform
// sends (LVN_ITEMCHANGING before a list row changes, refusable, and so on).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/control_model.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/gdi.h"

// ---- messages and structures of the controls ----
constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EM_EXGETSEL = WM_USER + 52;
constexpr UINT EM_EXSETSEL = WM_USER + 55;
constexpr UINT EM_GETCHARFORMAT = WM_USER + 58;
constexpr UINT EM_SETBKGNDCOLOR = WM_USER + 67;
constexpr UINT EM_SETCHARFORMAT = WM_USER + 68;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;
constexpr int LB_ERR = -1;
constexpr int CB_ERR = -1;

constexpr DWORD CFM_BOLD = 0x1;
constexpr DWORD CFM_ITALIC = 0x2;
constexpr DWORD CFM_UNDERLINE = 0x4;
constexpr DWORD CFM_WEIGHT = 0x400000;
constexpr DWORD CFM_FACE = 0x20000000;
constexpr DWORD CFM_COLOR = 0x40000000;
constexpr DWORD CFM_SIZE = 0x80000000;
constexpr DWORD CFE_BOLD = 0x1;
constexpr DWORD CFE_ITALIC = 0x2;
constexpr DWORD CFE_AUTOCOLOR = 0x40000000;
constexpr UINT SCF_DEFAULT = 0x0;
constexpr UINT SCF_SELECTION = 0x1;
constexpr UINT SCF_ALL = 0x4;

struct CHARRANGE {
  LONG cpMin;
  LONG cpMax;
};

struct CHARFORMAT2W {
  UINT cbSize;
  DWORD dwMask;
  DWORD dwEffects;
  LONG yHeight;  // twips
  LONG yOffset;
  COLORREF crTextColor;
  BYTE bCharSet;
  BYTE bPitchAndFamily;
  WCHAR szFaceName[32];
  WORD wWeight;
  SHORT sSpacing;
  COLORREF crBackColor;
  DWORD lcid;
};
using CHARFORMATW = CHARFORMAT2W;

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
inline constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }

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

constexpr UINT TB_THUMBPOSITION = 4;
constexpr UINT TB_ENDTRACK = 8;

namespace platform::ui {

class StaticModel : public ControlModel {
 public:
  HBITMAP bitmap = nullptr;
  HICON icon = nullptr;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
};

class ButtonModel : public ControlModel {
 public:
  UINT check = BST_UNCHECKED;
  HBITMAP bitmap = nullptr;
  HICON icon = nullptr;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // A user's click: toggles auto check boxes and radio groups, notifies.
  void click(Window& w);
};

class EditModel : public ControlModel {
 public:
  int sel_start = 0;
  int sel_end = 0;
  int limit = 0x7FFFFFFE;
  bool modified = false;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Replaces the selection as typing would; false when the control refuses.
  bool type_text(Window& w, const std::u16string& text);
};

struct CharFormat {
  COLORREF color = 0;
  bool auto_color = true;
  bool bold = false;
  bool italic = false;
  std::u16string face;
  LONG height_twips = 0;
  bool operator==(const CharFormat&) const = default;
};

class RichEditModel : public EditModel {
 public:
  std::vector<CharFormat> formats;  // one per character of the text
  CharFormat default_format;
  COLORREF background = RGB(255, 255, 255);
  bool system_background = true;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Runs of equal format: (start, length, format).
  struct Run {
    int start;
    int length;
    CharFormat format;
  };
  std::vector<Run> runs(const Window& w) const;
  // The colours it paints with, asked of the parent: WM_CTLCOLORSTATIC when
  // read-only or disabled, WM_CTLCOLOREDIT otherwise. `auto_text` is for
  // text whose format has no colour of its own (CFE_AUTOCOLOR). The
  // background is none for WS_EX_TRANSPARENT, a null brush or transparent
  // mode; the parent's own brush when it returns one; else the control's
  // (EM_SETBKGNDCOLOR, or the window colour).
  struct Colours {
    COLORREF auto_text = 0;
    bool has_background = true;
    COLORREF background = 0;
    bool alive = true;  // the control still exists after its parent was asked
  };
  Colours colours(Window& w) const;
};

struct ListEntry {
  std::u16string text;
  DWORD_PTR data = 0;
};

class ListBoxModel : public ControlModel {
 public:
  std::vector<ListEntry> items;
  int current = -1;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  int add(Window& w, const std::u16string& text);
  // The first item after `start` (wrapping) whose text begins with `text`, or
  // equals it when `exact`, ignoring case; -1 (LB_ERR, CB_ERR) when none does.
  int find(const std::u16string& text, int start, bool exact) const;
  // After the current item changed: combos show it in their field.
  virtual void show_current(Window&) {}
};

// Sent before CBN_EDITCHANGE when the user changes an editable combo's text.
constexpr UINT CBN_EDITUPDATE = 6;

class ComboBoxModel : public ListBoxModel {
 public:
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Drop-down combos (CBS_DROPDOWN, CBS_SIMPLE) have a field the user types
  // into; its text is the window text. Drop-down lists have none.
  static bool editable(const Window& w);
  // The user's edit of the field: the text changes, then the parent gets
  // CBN_EDITUPDATE and CBN_EDITCHANGE (in that order). False when nothing
  // changed or the combo has no field.
  bool user_edit(Window& w, const std::u16string& text);
  // A new current item (the program's or the user's pick) shows its text
  // in the field, without notifications.
  void show_current(Window& w) override;
};

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
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Changes a row's state through LVN_ITEMCHANGING/LVN_ITEMCHANGED; false
  // when the parent refused or the row does not exist.
  bool set_state(Window& w, int row, UINT state, UINT mask);
  // Row rectangle in client coordinates (report view).
  RECT row_rect(const Window& w, int row) const;
  int row_height() const { return 17; }
  int header_height() const { return 20; }
  // Asks the parent for per-row colours (NM_CUSTOMDRAW), as painting does.
  void custom_draw(Window& w);
};

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

class ProgressModel : public ControlModel {
 public:
  int low = 0, high = 100, pos = 0, step = 10;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
};

class SliderModel : public ControlModel {
 public:
  int low = 0, high = 100, pos = 0;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // A user's drag ending at `value`: scroll messages and NM_RELEASEDCAPTURE.
  void drag_to(Window& w, int value);
};

template <class T>
T* ModelOf(HWND hwnd) {
  Window* w = FindWindowModel(hwnd);
  return w ? dynamic_cast<T*>(w->control.get()) : nullptr;
}

// A tree whose program draws its own state images (several ticked or partly
// ticked looks) says which image indexes mean "ticked" and "not ticked";
// the headless driver's tick and untick click an item's box until its image
// is one of them. Plain check-box trees use 2 and 0 or 1.
void SetTreeTickImages(HWND tree, std::vector<UINT> ticked, std::vector<UINT> unticked);

// Shows a bitmap or icon resource in a static or button made from a template.
void AttachResourceImage(Window& w, int image_id);

}  // namespace platform::ui

// ---- wrapper classes ----

class CStatic : public CWnd {
 public:
  HBITMAP SetBitmap(HBITMAP bitmap);
  HBITMAP GetBitmap() const;
  HICON SetIcon(HICON icon);
  HICON GetIcon() const;
};

class CButton : public CWnd {
 public:
  int GetCheck() const;
  void SetCheck(int check);
  UINT GetState() const;
  UINT GetButtonStyle() const;
  void SetButtonStyle(UINT style, BOOL redraw = TRUE);
  HBITMAP SetBitmap(HBITMAP bitmap);
  HBITMAP GetBitmap() const;
  HICON SetIcon(HICON icon);
};

class CEdit : public CWnd {
 public:
  void SetSel(int start, int end, BOOL no_scroll = FALSE);
  void GetSel(int& start, int& end) const;
  void ReplaceSel(LPCWSTR text, BOOL can_undo = FALSE);
  void SetLimitText(UINT max);
  void LimitText(int max = 0) { SetLimitText(static_cast<UINT>(max)); }
  BOOL SetReadOnly(BOOL read_only = TRUE);
  BOOL GetModify() const;
  void SetModify(BOOL modified = TRUE);
};

class CRichEditCtrl : public CWnd {
 public:
  void SetSel(long start, long end);
  void GetSel(long& start, long& end) const;
  void ReplaceSel(LPCWSTR text, BOOL can_undo = FALSE);
  BOOL SetSelectionCharFormat(CHARFORMAT2W& format);
  BOOL SetDefaultCharFormat(CHARFORMAT2W& format);
  BOOL SetWordCharFormat(CHARFORMAT2W& format) { return SetSelectionCharFormat(format); }
  DWORD GetSelectionCharFormat(CHARFORMAT2W& format) const;
  COLORREF SetBackgroundColor(BOOL system_colour, COLORREF colour);
  BOOL SetReadOnly(BOOL read_only = TRUE);
  void HideSelection(BOOL, BOOL) {}
};

class CListBox : public CWnd {
 public:
  int AddString(LPCWSTR text);
  int InsertString(int index, LPCWSTR text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetText(int index, std::u16string& text) const;
  int GetText(int index, CString& text) const;
  int GetTextLen(int index) const;
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  int FindString(int start, LPCWSTR text) const;
  int FindStringExact(int start, LPCWSTR text) const;
};

class CComboBox : public CWnd {
 public:
  int AddString(LPCWSTR text);
  int InsertString(int index, LPCWSTR text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetLBText(int index, std::u16string& text) const;
  int GetLBText(int index, CString& text) const;
  int GetLBTextLen(int index) const;
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  int FindString(int start, LPCWSTR text) const;
  int FindStringExact(int start, LPCWSTR text) const;
  int SelectString(int start, LPCWSTR text);
};

class CListCtrl : public CWnd {
 public:
  DWORD SetExtendedStyle(DWORD style);
  DWORD GetExtendedStyle() const;
  int InsertColumn(int index, LPCWSTR heading, int format = LVCFMT_LEFT, int width = -1, int sub_item = -1);
  BOOL DeleteColumn(int index);
  int GetColumnWidth(int index) const;
  BOOL SetColumnWidth(int index, int width);
  int InsertItem(int index, LPCWSTR text);
  int InsertItem(int index, LPCWSTR text, int image);
  int InsertItem(const LVITEMW* item);
  BOOL SetItemText(int row, int column, LPCWSTR text);
  CString GetItemText(int row, int column) const;
  int GetItemText(int row, int column, LPWSTR buffer, int size) const;
  BOOL SetItemData(int row, DWORD_PTR data);
  DWORD_PTR GetItemData(int row) const;
  BOOL SetItem(const LVITEMW* item);
  BOOL GetItem(LVITEMW* item) const;
  BOOL SetItemState(int row, UINT state, UINT mask);
  UINT GetItemState(int row, UINT mask) const;
  BOOL SetCheck(int row, BOOL check = TRUE);
  BOOL GetCheck(int row) const;
  BOOL DeleteItem(int row);
  BOOL DeleteAllItems();
  int GetItemCount() const;
  int GetNextItem(int start, int flags) const;
  int GetSelectionMark() const;
  int GetSelectedCount() const;
  CImageList* SetImageList(CImageList* list, int which);
  CImageList* GetImageList(int which) const;
  int HitTest(LVHITTESTINFO* info) const;
  int HitTest(CPoint point, UINT* flags = nullptr) const;
  BOOL GetItemRect(int row, LPRECT rect, UINT code) const;
  BOOL EnsureVisible(int, BOOL) { return TRUE; }
  int GetTopIndex() const { return 0; }
  BOOL RedrawItems(int, int) { Invalidate(); return TRUE; }
};

class CTreeCtrl : public CWnd {
 public:
  HTREEITEM InsertItem(const TVINSERTSTRUCTW* insert);
  HTREEITEM InsertItem(LPCWSTR text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
  HTREEITEM InsertItem(LPCWSTR text, int image, int selected_image, HTREEITEM parent = TVI_ROOT,
                       HTREEITEM after = TVI_LAST);
  BOOL DeleteItem(HTREEITEM item);
  BOOL DeleteAllItems();
  HTREEITEM GetRootItem() const;
  HTREEITEM GetChildItem(HTREEITEM item) const;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetPrevSiblingItem(HTREEITEM item) const;
  HTREEITEM GetParentItem(HTREEITEM item) const;
  HTREEITEM GetNextItem(HTREEITEM item, UINT code) const;
  HTREEITEM GetSelectedItem() const;
  BOOL ItemHasChildren(HTREEITEM item) const;
  CString GetItemText(HTREEITEM item) const;
  BOOL SetItemText(HTREEITEM item, LPCWSTR text);
  DWORD_PTR GetItemData(HTREEITEM item) const;
  BOOL SetItemData(HTREEITEM item, DWORD_PTR data);
  BOOL GetItem(TVITEMW* item) const;
  BOOL SetItem(TVITEMW* item);
  UINT GetItemState(HTREEITEM item, UINT mask) const;
  BOOL SetItemState(HTREEITEM item, UINT state, UINT mask);
  BOOL GetItemImage(HTREEITEM item, int& image, int& selected_image) const;
  BOOL SetItemImage(HTREEITEM item, int image, int selected_image);
  BOOL GetCheck(HTREEITEM item) const;
  BOOL SetCheck(HTREEITEM item, BOOL check = TRUE);
  BOOL Expand(HTREEITEM item, UINT code);
  BOOL SelectItem(HTREEITEM item);
  HTREEITEM HitTest(CPoint point, UINT* flags = nullptr) const;
  HTREEITEM HitTest(TVHITTESTINFO* info) const;
  CImageList* SetImageList(CImageList* list, int which);
  CImageList* GetImageList(int which) const;
  UINT GetCount() const;
  BOOL GetItemRect(HTREEITEM item, LPRECT rect, BOOL text_only) const;
  BOOL EnsureVisible(HTREEITEM) { return TRUE; }
  // Orders the children of sort->hParent (the top level for TVI_ROOT or
  // null) by the callback; equal items keep their order. Only that one level
  // moves. FALSE for a bad parent or no callback.
  BOOL SortChildrenCB(LPTVSORTCB sort, BOOL recurse = FALSE);
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange(short low, short high) { SetRange32(low, high); }
  void SetRange32(int low, int high);
  void GetRange(int& low, int& high) const;
  int SetPos(int pos);
  int GetPos() const;
  int OffsetPos(int delta);
  int SetStep(int step);
  int StepIt();
};

class CSliderCtrl : public CWnd {
 public:
  void SetRange(int low, int high, BOOL redraw = FALSE);
  void GetRange(int& low, int& high) const;
  void SetRangeMin(int low, BOOL redraw = FALSE);
  void SetRangeMax(int high, BOOL redraw = FALSE);
  int GetRangeMin() const;
  int GetRangeMax() const;
  void SetPos(int pos);
  int GetPos() const;
};

class CScrollBar : public CWnd {};
